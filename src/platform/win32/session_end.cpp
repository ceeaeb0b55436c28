// A program that shows message boxes has loaded user32, and Windows then sends
// it no CTRL_LOGOFF_EVENT or CTRL_SHUTDOWN_EVENT: a shutdown or logoff asks
// its top-level windows instead, and ends the process once they have agreed.
// So a hidden top-level window (a message-only window hears no broadcast) on
// a thread of its own lives from the run's start: it answers
// WM_QUERYENDSESSION with FALSE while a drive's update is under way, and from
// Vista on gives Windows the reason to show (ShutdownBlockReasonCreate,
// looked up at run time: 95 to XP have none, and must still start); when the
// session ends all the same, it lets the run end itself, with its record.
#include "platform/win32/session_end.h"

#include <windows.h>

#include <atomic>

namespace {

constexpr UINT WM_HOLD_REASON = WM_APP + 1;  // wParam 1: show the reason, 0: withdraw it
const wchar_t REASON[] = L"A drive's firmware is being updated; turning off now can leave the drive unusable.";

std::atomic<bool> holding{false};
std::atomic<HWND> session_window{nullptr};
void (*session_end_action)() = nullptr;

void tell_reason(HWND window, bool hold) {
    using create_fn = BOOL(WINAPI*)(HWND, LPCWSTR);
    using destroy_fn = BOOL(WINAPI*)(HWND);
    const HMODULE user = ::GetModuleHandleA("user32.dll");
    if (user == nullptr) return;
    const FARPROC call = ::GetProcAddress(user, hold ? "ShutdownBlockReasonCreate" : "ShutdownBlockReasonDestroy");
    if (call == nullptr) return;
    if (hold) reinterpret_cast<create_fn>(reinterpret_cast<void (*)()>(call))(window, REASON);
    else reinterpret_cast<destroy_fn>(reinterpret_cast<void (*)()>(call))(window);
}

LRESULT CALLBACK on_message(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_QUERYENDSESSION: return holding ? FALSE : TRUE;
    case WM_ENDSESSION:
        // The session ends all the same (wParam FALSE: it goes on). Windows
        // ends the process once this returns, with a code of its own.
        if (w && session_end_action) session_end_action();
        return 0;
    case WM_HOLD_REASON: tell_reason(window, w != 0); return 0;
    default: return ::DefWindowProcA(window, message, w, l);
    }
}

// Set once the window is made, or cannot be. A process that ends sooner
// ends the window's thread in the middle of making it, which Wine's client
// does not always survive (the process then ends with 1).
HANDLE window_settled = nullptr;
constexpr DWORD SETTLE_BOUND_MS = 2000;

DWORD WINAPI run_window(LPVOID) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = on_message;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.lpszClassName = "odd-fwupdate.session";
    ::RegisterClassA(&window_class);
    const HWND window = ::CreateWindowExA(0, window_class.lpszClassName, "odd-fwupdate", WS_OVERLAPPED, 0, 0, 0, 0,
                                          nullptr, nullptr, window_class.hInstance, nullptr);
    session_window = window;
    if (window_settled) ::SetEvent(window_settled);
    if (window == nullptr) return 0;  // no desktop to make it on (no display): no session to hear
    // A hold taken before the window was there sees no window to tell; the
    // window tells its reason itself. A hold let go meanwhile posts its
    // withdrawal, which is read after this.
    if (holding) tell_reason(window, true);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
    return 0;
}

}  // namespace

void hear_session_end(void (*on_session_end)()) {
    static bool started = false;
    if (started) return;
    started = true;
    session_end_action = on_session_end;
    // Not waited for: the run goes on while the window is made.
    window_settled = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = ::CreateThread(nullptr, 0, run_window, nullptr, 0, nullptr);
    if (thread != nullptr) ::CloseHandle(thread);
    else if (window_settled) ::SetEvent(window_settled);
}

void settle_session_window() {
    if (window_settled) ::WaitForSingleObject(window_settled, SETTLE_BOUND_MS);
}

void hold_session_end(bool hold) {
    holding = hold;
    if (const HWND window = session_window) ::PostMessageA(window, WM_HOLD_REASON, hold ? 1 : 0, 0);
}
