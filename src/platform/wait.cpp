// The only way the updater waits: a busy wait on the multimedia clock with the
// system timer at the finest period it grants.
#include "platform/wait.h"
#include "platform/host.h"

namespace {

// A timer that refuses every period up to a second is not worth asking further;
// the wait then runs at whatever resolution the clock has.
constexpr UINT COARSEST_PERIOD_TRIED = 1000;

}  // namespace

void wait_ms(uint32_t ms) {
    UINT period = 0;
    for (UINT p = 1; p <= COARSEST_PERIOD_TRIED; ++p) {
        if (host::timeBeginPeriod(p) == TIMERR_NOERROR) {
            period = p;
            break;
        }
    }
    DWORD start = host::timeGetTime();
    // Elapsed time in unsigned arithmetic stays right across the clock's wrap.
    while (static_cast<DWORD>(host::timeGetTime() - start) < ms) {
    }
    if (period != 0) host::timeEndPeriod(period);
}
