// Scenario loading, SG_IO answers and the exit report of libsgio-emu; each
// drive's history is kept by drive_journal.cpp.
#include "tools/sgio-shim/emulated_drives.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tools/sgio-shim/drive_journal.h"
#include "tools/sim/scenario.h"

namespace shim {
namespace {

using nlohmann::json;

constexpr unsigned HOST_TIME_OUT = 0x03;   // DID_TIME_OUT
constexpr unsigned DRIVER_SENSE = 0x08;
constexpr uint32_t KERNEL_DEFAULT_TIMEOUT_MS = 60000;  // SG_IO without a time-out

constexpr uint8_t OP_WRITE_BUFFER = 0x3B;
constexpr uint8_t MODE_DOWNLOAD_WITH_OFFSETS = 7;

uint64_t monotonic_ms() { return monotonic_ns() / 1000000u; }

// The errno an open of a scenario drive marked "open_fails" meets, from the
// Windows error the simulator would give.
int errno_for_open_error(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    default: return EIO;
    }
}

// The drive keys only the shim reads (see this folder's README).
void take_shim_keys(const json& options, served_drive& d) {
    d.stand_in = options.value("device", std::string());
    d.descriptor_sense = options.value("sense_format", std::string("fixed")) == "descriptor";
    d.open_errno = options.value("open_errno", d.open_errno);
    d.sg_io_errno = options.value("sg_io_errno", 0);
    d.sg_io_errno_opcode = options.value("sg_io_errno_opcode", -1);
    d.reattach_after = options.value("reattach_after_command", 0u);
    d.reattach_as_another = options.value("reattach_as_another", false);
}

// The drive's device in the test's sysfs (ODD_SYSFS_ROOT), as the kernel
// links it from /sys/dev/block/11:N: a SCSI device on a host of its own, or
// after `another` the device of a drive at another address. Made if missing,
// so that every process of a case meets the drive as the last one left it.
// False when the case has no sysfs of its own (yet).
bool link_sysfs_device(const served_drive& d, bool another) {
    const char* root = std::getenv("ODD_SYSFS_ROOT");
    if (root == nullptr || *root == 0) return false;
    const unsigned minor = static_cast<unsigned>(d.letter - FIRST_LETTER);
    const std::string block = std::string(root) + "/dev/block";
    const std::string link = block + "/" + std::to_string(SCSI_CDROM_MAJOR) + ":" + std::to_string(minor) + "/device";
    const std::string address = std::to_string(another ? minor + 100 : minor);
    const std::string device = std::string(root) + "/devices/shim/host0/target0:0:" + address + "/0:0:" + address + ":0";
    struct stat status;
    if (!another && ::lstat(link.c_str(), &status) == 0) return true;
    std::error_code ignored;
    std::filesystem::create_directories(device, ignored);
    std::filesystem::create_directories(std::filesystem::path(link).parent_path(), ignored);
    std::filesystem::remove(link, ignored);
    std::filesystem::create_directory_symlink(device, link, ignored);
    return true;
}

// Notes the identity of an existing stand-in path, by which descriptors opened
// on it elsewhere are known; false when it does not exist.
bool locate_stand_in(served_drive& d) {
    struct stat status;
    if (d.stand_in.empty() || ::stat(d.stand_in.c_str(), &status) != 0) return false;
    d.stand_in_exists = true;
    d.stand_in_is_device = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
    d.stand_in_rdev = status.st_rdev;
    d.stand_in_dev = status.st_dev;
    d.stand_in_ino = status.st_ino;
    return true;
}

uint64_t median(std::vector<uint64_t> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

}  // namespace

uint64_t monotonic_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

size_t descriptor_format_sense(const uint8_t* fixed, size_t length, uint8_t* out, size_t capacity) {
    uint8_t f[18] = {};
    std::memcpy(f, fixed, std::min(length, sizeof f));
    uint8_t d[8 + 12 + 8 + 4] = {};
    d[0] = (f[0] & 0x7F) == 0x71 ? 0x73 : 0x72;
    d[1] = f[2] & 0x0F;
    d[2] = f[12];
    d[3] = f[13];
    size_t at = 8;
    if (f[0] & 0x80) {  // VALID: the information field
        const uint8_t information[] = {0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, f[3], f[4], f[5], f[6]};
        std::memcpy(d + at, information, sizeof information);
        at += sizeof information;
    }
    if (f[15] & 0x80) {  // SKSV
        const uint8_t specific[] = {0x02, 0x06, 0x00, 0x00, f[15], f[16], f[17], 0x00};
        std::memcpy(d + at, specific, sizeof specific);
        at += sizeof specific;
    }
    if (f[2] & 0xE0) {  // FILEMARK, EOM, ILI
        const uint8_t stream[] = {0x04, 0x02, 0x00, static_cast<uint8_t>(f[2] & 0xE0)};
        std::memcpy(d + at, stream, sizeof stream);
        at += sizeof stream;
    }
    d[7] = static_cast<uint8_t>(at - 8);
    const size_t n = std::min(at, capacity);
    std::memcpy(out, d, n);
    return n;
}

int drive_table::take_claim(int index) {
    served_drive& d = drives_[static_cast<size_t>(index)];
    if (d.held_by_another || d.exclusive_fd >= 0) return EBUSY;
    if (state_folder_.empty()) return 0;  // no other process meets this drive
    const std::string path = state_folder_ + "/" + d.letter + ".claim";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    ::fchmod(fd, 0644);  // whoever may open the drive may try its claim
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    d.claim_lock = fd;
    return 0;
}

void drive_table::release_claim(int index) {
    served_drive& d = drives_[static_cast<size_t>(index)];
    if (d.claim_lock >= 0) ::close(d.claim_lock);
    d.claim_lock = -1;
    d.exclusive_fd = -1;
}

bool drive_table::load(std::string& error) {
    const char* scenario_path = std::getenv("ODD_SGIO_SCENARIO");
    if (scenario_path == nullptr || *scenario_path == 0) return true;
    if (!load_drives(scenario_path, error)) return false;
    const char* state = std::getenv("ODD_SGIO_STATE");
    const char* report = std::getenv("ODD_SGIO_REPORT");
    state_folder_ = state ? state : "";
    report_folder_ = report ? report : "";
    for (served_drive& d : drives_) {
        if (!state_folder_.empty()) {
            const std::string path = state_folder_ + "/" + d.letter + ".journal";
            d.journal = open_journal(path, *d.drive);
            if (d.journal < 0) {
                error = "cannot write " + path + ": " + std::strerror(errno);
                return false;
            }
        }
        d.first_command = d.drive->log().size();
    }
    active_ = true;
    return true;
}

void drive_table::link_sysfs(int index) {
    served_drive& d = drives_[static_cast<size_t>(index)];
    if (!d.sysfs_linked) d.sysfs_linked = link_sysfs_device(d, false);
}

bool drive_table::load_drives(const std::string& scenario_path, std::string& error) {
    sim::scenario_file file;
    try {
        file = sim::read_scenario_file(scenario_path);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    json scenario = json::parse(file.text, nullptr, false);
    if (scenario.is_discarded() || !scenario.is_object()) {
        error = scenario_path + ": not a JSON object";
        return false;
    }
    // Image files are the updater's business: they lie where it runs.
    scenario.erase("images");
    const auto raw_io = scenario.find("cap_sys_rawio");
    if (raw_io != scenario.end() && raw_io->is_boolean()) raw_io_ = raw_io->get<bool>();

    sim::machine machine;
    try {
        sim::load_scenario(machine, scenario.dump(), file.folder, "");
    } catch (const std::exception& e) {
        error = scenario_path + ": " + e.what();
        return false;
    }
    const json listed = scenario.value("drives", json::array());
    for (size_t i = 0; i < machine.drives.size() && i < listed.size(); ++i) {
        const sim::drive_slot& slot = machine.drives[i];
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(slot.letter)));
        if (letter < FIRST_LETTER || letter > LAST_LETTER) continue;  // ASPI drives and A: to C: have no device
        served_drive d;
        d.letter = letter;
        d.device = "/dev/sr" + std::to_string(letter - FIRST_LETTER);
        d.drive = slot.drive;
        if (slot.open_fails) d.open_errno = errno_for_open_error(slot.open_error);
        d.held_by_another = slot.held_by_another;
        try {
            take_shim_keys(listed[i], d);
        } catch (const json::exception& e) {
            error = scenario_path + ": drive " + letter + ": " + e.what();
            return false;
        }
        if (locate_stand_in(d)) stand_ins_ = true;
        drives_.push_back(std::move(d));
    }
    return true;
}

int drive_table::answer_sg_io(int index, uint32_t attachment, sg_io_hdr_t& request, uint64_t entered_ns) {
    served_drive& d = drives_[static_cast<size_t>(index)];
    if (attachment != d.attachment) return ENODEV;
    if (request.interface_id != 'S' || request.cmd_len == 0 || request.cmd_len > 16 || request.iovec_count != 0)
        return EINVAL;
    if (request.cmdp == nullptr || (request.dxfer_len != 0 && request.dxferp == nullptr)) return EFAULT;
    int direction;
    switch (request.dxfer_direction) {
    case SG_DXFER_NONE: direction = emu::DIR_NONE; break;
    case SG_DXFER_TO_DEV: direction = emu::DIR_OUT; break;
    case SG_DXFER_FROM_DEV:
    case SG_DXFER_TO_FROM_DEV: direction = emu::DIR_IN; break;
    default: return EINVAL;
    }
    if (request.dxfer_len == 0) direction = emu::DIR_NONE;
    const uint8_t* cdb = request.cmdp;
    if (d.sg_io_errno != 0 && (d.sg_io_errno_opcode < 0 || cdb[0] == d.sg_io_errno_opcode)) return d.sg_io_errno;

    const uint32_t timeout_ms = request.timeout ? request.timeout : KERNEL_DEFAULT_TIMEOUT_MS;
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t at_ms = monotonic_ms();
    const emu::command_result r = d.drive->execute(cdb, request.cmd_len, direction,
                                                   static_cast<uint8_t*>(request.dxferp), request.dxfer_len,
                                                   timeout_ms, at_ms);
    append_to_journal(d.journal, request, direction, timeout_ms, at_ms);
    if (++d.commands_here == d.reattach_after) {
        ++d.attachment;
        if (d.reattach_as_another) link_sysfs_device(d, true);
    }
    if (cdb[0] == OP_WRITE_BUFFER && request.cmd_len >= 2 && (cdb[1] & 0x1F) == MODE_DOWNLOAD_WITH_OFFSETS) {
        d.block_entered_ns.push_back(entered_ns);
        d.block_left_ns.push_back(monotonic_ns());
    }
    if (r.transport_failure) return EIO;

    request.status = r.status;
    request.masked_status = static_cast<unsigned char>((r.status >> 1) & 0x7F);
    request.msg_status = 0;
    request.host_status = 0;
    request.driver_status = 0;
    request.sb_len_wr = 0;
    request.resid = static_cast<int>(request.dxfer_len - std::min(r.transferred, request.dxfer_len));
    request.duration = r.duration_ms;
    request.info = 0;
    if (r.timed_out) {
        request.status = 0;
        request.masked_status = 0;
        request.host_status = HOST_TIME_OUT;
        request.resid = static_cast<int>(request.dxfer_len);
    } else if (r.sense_length != 0 && request.sbp != nullptr && request.mx_sb_len != 0) {
        uint8_t sense[32];
        const size_t n = d.descriptor_sense ? descriptor_format_sense(r.sense, r.sense_length, sense, sizeof sense)
                                            : std::min<size_t>(r.sense_length, sizeof sense);
        if (!d.descriptor_sense) std::memcpy(sense, r.sense, n);
        request.sb_len_wr = static_cast<unsigned char>(std::min<size_t>(n, request.mx_sb_len));
        std::memcpy(request.sbp, sense, request.sb_len_wr);
        request.driver_status = DRIVER_SENSE;
    }
    if (request.status || request.host_status || request.driver_status) request.info |= SG_INFO_CHECK;
    return 0;
}

int drive_table::drive_for_path(const char* path) const {
    if (!active_ || path == nullptr) return PATH_NOT_SERVED;
    for (size_t i = 0; i < drives_.size(); ++i) {
        const served_drive& d = drives_[i];
        if (d.device == path || (!d.stand_in_exists && !d.stand_in.empty() && d.stand_in == path))
            return static_cast<int>(i);
    }
    // The machine's own drives stay out of an emulated machine.
    if (std::strncmp(path, "/dev/sr", 7) == 0 && path[7] != 0) {
        char* end = nullptr;
        const long n = std::strtol(path + 7, &end, 10);
        if (*end == 0 && n >= 0 && n < DEVICE_COUNT) return PATH_ABSENT;
    }
    return PATH_NOT_SERVED;
}

int drive_table::drive_for_identity(const struct stat& status) const {
    const bool device = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
    for (size_t i = 0; i < drives_.size(); ++i) {
        const served_drive& d = drives_[i];
        if (!d.stand_in_exists || d.stand_in_is_device != device) continue;
        if (device ? d.stand_in_rdev == status.st_rdev
                   : d.stand_in_dev == status.st_dev && d.stand_in_ino == status.st_ino)
            return static_cast<int>(i);
    }
    return -1;
}

void drive_table::write_report() {
    if (!active_ || report_folder_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const served_drive& d : drives_) {
        const auto& log = d.drive->log();
        if (log.size() == d.first_command) continue;
        const std::string base = report_folder_ + "/" + d.letter;
        const emu::virtual_drive& drive = *d.drive;
        // Timing of the image blocks: the whole span, the time inside SG_IO,
        // and the medians of a block's SG_IO and of the gap before the next.
        const size_t blocks = d.block_entered_ns.size();
        uint64_t service = 0;
        std::vector<uint64_t> services, gaps;
        for (size_t i = 0; i < blocks; ++i) {
            services.push_back(d.block_left_ns[i] - d.block_entered_ns[i]);
            service += services.back();
            if (i > 0) gaps.push_back(d.block_entered_ns[i] - d.block_left_ns[i - 1]);
        }
        const uint64_t span = blocks ? d.block_left_ns.back() - d.block_entered_ns.front() : 0;
        std::ofstream state(base + ".state", std::ios::trunc);
        state << emu::state_lines(drive) << "commands " << log.size() - d.first_command << "\n"
              << "lowest_descriptor " << d.lowest_descriptor << "\n"
              << "image_blocks " << blocks << "\n"
              << "image_span_ns " << span << "\n"
              << "image_service_ns " << service << "\n"
              << "image_service_median_ns " << median(services) << "\n"
              << "image_gap_median_ns " << median(gaps) << "\n";
        std::ofstream image(base + ".image", std::ios::binary | std::ios::trunc);
        image.write(reinterpret_cast<const char*>(drive.flashed_image().data()),
                    static_cast<std::streamsize>(drive.flashed_image().size()));
        std::ofstream commands(base + ".commands", std::ios::trunc);
        for (size_t i = d.first_command; i < log.size(); ++i) {
            const emu::command_record& c = log[i];
            static const char* const directions[] = {"none", "in", "out"};
            commands << sim::hex_bytes(c.cdb.data(), c.cdb.size()) << " | " << directions[std::clamp(c.direction, 0, 2)] << ' '
                     << c.data_length << " | ";
            if (c.result.transport_failure) commands << "transport-failure";
            else if (c.result.timed_out) commands << "timeout";
            else commands << "status " << sim::hex_bytes(&c.result.status, 1);
            if (c.result.sense_length) commands << " sense " << sim::hex_bytes(c.result.sense, c.result.sense_length);
            commands << "\n";
        }
    }
}

}  // namespace shim
