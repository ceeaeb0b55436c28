// tcmu-drive: one emulated drive of a scenario behind a Linux kernel's SCSI
// target (a TCM-User LUN, exported through tcm_loop), so that the kernel's own
// sr and sg drivers, its block layer and its own commands stand between a
// program and the drive.
//
//   tcmu-drive SCENARIO INDEX /dev/uioN FOLDER
//
// INDEX is the drive's place in the scenario's "drives". Every command the
// kernel hands over is answered from the ring on /dev/uioN: the drive's own
// command set by the emulated drive, the commands the kernel sends of its own
// accord (VPD pages, MODE SENSE page 2Ah, GET CONFIGURATION, GET EVENT STATUS
// NOTIFICATION, PREVENT ALLOW MEDIUM REMOVAL, READ CAPACITY) as an empty DVD
// recorder answers them. A command that takes the drive time is completed
// that much later; the loop never sleeps in a command. FOLDER receives, as
// the shim's report does, LETTER.commands (every command with its result, the
// kernel's own marked "kernel"), LETTER.state and LETTER.image. A command the
// kernel aborts (its own time-out) is answered at once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "tools/served-drive/served_drive.h"
#include "tools/tcmu-drive/command_ring.h"

namespace {

// Takes the ring's commands in order and answers each once its time has come.
int serve(const char* uio, served::drive& drive) {
    char why[300] = {};
    command_ring* ring = ring_open(uio, why, sizeof why);
    if (ring == nullptr) {
        std::fprintf(stderr, "tcmu-drive: %s\n", why);
        return 1;
    }
    bool taken = false;  // the command at the tail has run; its answer waits for `due_ms`
    served::answer pending;
    uint64_t due_ms = 0;
    for (;;) {
        bool completed = false;
        int wait_ms = 1000;
        for (;;) {
            uint8_t cdb[16] = {};
            size_t cdb_size = 0, data_length = 0;
            const int entry = ring_peek(ring, cdb, &cdb_size, &data_length);
            if (entry == 0) break;
            if (entry == 2) {
                ring_skip(ring);
                completed = true;
                continue;
            }
            if (!taken) {
                const bool out = cdb[0] == 0x3B;  // WRITE BUFFER: the one command whose data goes to the drive
                std::vector<uint8_t> data(data_length, 0);
                if (out) ring_gather(ring, data.data());
                pending = drive.run(cdb, cdb_size, data, out);
                due_ms = served::now_ms() + pending.result.duration_ms;
                taken = true;
            }
            const uint64_t now = served::now_ms();
            // A command the drive never answers is held until the kernel
            // gives up on it: its abort waits for an answer, which it then
            // discards.
            if (now < due_ms && ring_tail_aborted(ring)) due_ms = now;
            if (now < due_ms) {
                wait_ms = static_cast<int>(std::min<uint64_t>(due_ms - now, 1000));
                break;
            }
            const emu::command_result& r = pending.result;
            ring_complete(ring, r.status, r.sense, r.sense_length, pending.data_in.data(), pending.data_in.size());
            taken = false;
            completed = true;
        }
        if (completed && ring_notify(ring) != 0) return 1;
        if (ring_wait(ring, wait_ms) != 0) return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: tcmu-drive SCENARIO INDEX /dev/uioN FOLDER\n");
        return 2;
    }
    const std::unique_ptr<served::drive> drive = served::load_drive("tcmu-drive", argv[1], argv[2], argv[4]);
    return serve(argv[3], *drive);
}
