// Writes and replays the emulated drives' journals.
#include "tools/sgio-shim/drive_journal.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace shim {
namespace {

// One command as the journal keeps it; data that went to the drive follows.
struct journal_record {
    uint64_t at_ms;
    uint32_t timeout_ms;
    uint32_t data_length;
    int32_t direction;
    uint8_t cdb_length;
    uint8_t cdb[16];
    uint8_t reserved[3];
};

void replay(const std::string& path, emu::virtual_drive& drive) {
    std::ifstream in(path, std::ios::binary);
    journal_record r;
    std::vector<uint8_t> data;
    while (in.read(reinterpret_cast<char*>(&r), sizeof r)) {
        data.assign(r.data_length, 0);
        if (r.direction == emu::DIR_OUT && r.data_length &&
            !in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(r.data_length)))
            break;
        drive.execute(r.cdb, std::min<size_t>(r.cdb_length, sizeof r.cdb), r.direction,
                      r.data_length ? data.data() : nullptr, r.data_length, r.timeout_ms, r.at_ms);
    }
}

}  // namespace

int open_journal(const std::string& path, emu::virtual_drive& drive) {
    replay(path, drive);
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

void append_to_journal(int& journal, const sg_io_hdr_t& request, int direction, uint32_t timeout_ms, uint64_t at_ms) {
    if (journal < 0) return;
    journal_record r{};
    r.at_ms = at_ms;
    r.timeout_ms = timeout_ms;
    r.data_length = request.dxfer_len;
    r.direction = direction;
    r.cdb_length = request.cmd_len;
    std::memcpy(r.cdb, request.cmdp, request.cmd_len);
    iovec parts[2] = {{&r, sizeof r}, {request.dxferp, direction == emu::DIR_OUT ? request.dxfer_len : 0u}};
    const ssize_t expected = static_cast<ssize_t>(parts[0].iov_len + parts[1].iov_len);
    if (::writev(journal, parts, parts[1].iov_len ? 2 : 1) != expected) {
        ::close(journal);
        journal = -1;
    }
}

}  // namespace shim
