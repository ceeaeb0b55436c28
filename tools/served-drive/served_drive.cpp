#include "tools/served-drive/served_drive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "platform/sim/trace.h"
#include "tools/sim/scenario.h"

namespace served {

namespace {

constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_MODE_SENSE_6 = 0x1A;
constexpr uint8_t OP_PREVENT_ALLOW = 0x1E;
constexpr uint8_t OP_READ_CAPACITY = 0x25;
constexpr uint8_t OP_GET_CONFIGURATION = 0x46;
constexpr uint8_t OP_GET_EVENT_STATUS = 0x4A;
constexpr uint8_t OP_MODE_SENSE_10 = 0x5A;

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

// What an empty DVD recorder answers the kernel's own commands, or false when
// the command is the drive's own (the emulated drive answers it).
bool kernel_command(const uint8_t* cdb, bool disc, answer& a) {
    std::vector<uint8_t>& in = a.data_in;
    size_t allocation = 0;
    switch (cdb[0]) {
    case OP_INQUIRY:
        if ((cdb[1] & 1) == 0) return false;
        allocation = be16(cdb + 3);
        if (cdb[2] == 0x00) {
            in = {0x05, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83};
        } else if (cdb[2] == 0x80) {
            const std::string serial = "KWR322000001";
            in = {0x05, 0x80, 0x00, static_cast<uint8_t>(serial.size())};
            in.insert(in.end(), serial.begin(), serial.end());
        } else if (cdb[2] == 0x83) {
            const std::string id = "QUARLEN KWR-322 KWR322000001";
            in = {0x05, 0x83, 0x00, static_cast<uint8_t>(4 + id.size()), 0x02, 0x01, 0x00,
                  static_cast<uint8_t>(id.size())};
            in.insert(in.end(), id.begin(), id.end());
        } else {
            a.result = emu::check_condition(0x05, 0x24, 0x00);
        }
        break;
    case OP_PREVENT_ALLOW: break;
    case OP_READ_CAPACITY:
        if (!disc) a.result = emu::check_condition(0x02, 0x3A, 0x00);
        else in = {0x00, 0x23, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00};
        allocation = in.size();
        break;
    case OP_GET_EVENT_STATUS:
        allocation = be16(cdb + 7);
        in = {0x00, 0x06, 0x04, 0x10, 0x00, static_cast<uint8_t>(disc ? 0x02 : 0x00), 0x00, 0x00};
        break;
    case OP_GET_CONFIGURATION:
        allocation = be16(cdb + 7);
        in = {0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, static_cast<uint8_t>(disc ? 0x11 : 0x00)};
        break;
    case OP_MODE_SENSE_6:
    case OP_MODE_SENSE_10: {
        const bool six = cdb[0] == OP_MODE_SENSE_6;
        const uint8_t page = cdb[2] & 0x3F;
        allocation = six ? cdb[4] : be16(cdb + 7);
        if (page != 0x2A && page != 0x3F) {
            a.result = emu::check_condition(0x05, 0x24, 0x00);
            break;
        }
        const size_t header = six ? 4 : 8;
        in.assign(header + 28, 0);
        if (six) in[0] = static_cast<uint8_t>(header + 28 - 1);
        else in[1] = static_cast<uint8_t>(header + 28 - 2);
        const uint8_t capabilities[] = {0x2A, 26, 0x3F, 0x37, 0x71, 0x73, 0x29, 0x23, 0x1B, 0x90, 0, 0, 0x08, 0x00};
        std::copy(std::begin(capabilities), std::end(capabilities), in.begin() + static_cast<long>(header));
        break;
    }
    default: return false;
    }
    a.kernel = true;
    if (a.result.status == 0 && in.size() > allocation) in.resize(allocation);
    if (a.result.status != 0) in.clear();
    a.result.transferred = static_cast<uint32_t>(in.size());
    return true;
}

}  // namespace

uint64_t now_ns() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t now_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

drive::drive(std::shared_ptr<emu::virtual_drive> emulated, char letter, std::string folder)
    : drive_(std::move(emulated)), base_(std::move(folder) + "/" + letter), started_ms_(now_ms()) {
    std::ofstream(base_ + ".commands", std::ios::trunc);
    write_state();
}

answer drive::run(const uint8_t* cdb, size_t length, std::vector<uint8_t>& data, bool data_out) {
    const uint64_t arrived_ns = now_ns();
    answer a;
    if (!kernel_command(cdb, drive_->config().disc_present, a)) {
        const int direction = data.empty() ? emu::DIR_NONE : data_out ? emu::DIR_OUT : emu::DIR_IN;
        a.result = drive_->execute(cdb, length, direction, data.empty() ? nullptr : data.data(),
                                   static_cast<uint32_t>(data.size()), 0, now_ms() - started_ms_);
        if (!data_out) a.data_in.assign(data.begin(), data.begin() + std::min<size_t>(a.result.transferred, data.size()));
    }
    if (a.result.sense_length >= sizeof last_sense_) std::memcpy(last_sense_, a.result.sense, sizeof last_sense_);
    journal(cdb, length, data.size(), data_out, a);
    time_block(cdb, length, arrived_ns);
    write_state();
    if (drive_->reflash_count() != images_written_) {
        images_written_ = drive_->reflash_count();
        std::ofstream image(base_ + ".image", std::ios::binary | std::ios::trunc);
        image.write(reinterpret_cast<const char*>(drive_->flashed_image().data()),
                    static_cast<std::streamsize>(drive_->flashed_image().size()));
    }
    return a;
}

answer drive::sense_of_last(const uint8_t* cdb, size_t length, size_t allocation) {
    answer a;
    a.kernel = true;
    a.data_in.assign(last_sense_, last_sense_ + std::min(sizeof last_sense_, allocation));
    a.result.transferred = static_cast<uint32_t>(a.data_in.size());
    std::memset(last_sense_ + 2, 0, sizeof last_sense_ - 2);  // read once, as a drive clears it
    last_sense_[7] = 10;
    journal(cdb, length, allocation, false, a);
    return a;
}

void drive::journal(const uint8_t* cdb, size_t length, size_t data_length, bool data_out, const answer& a) {
    static const char* const directions[] = {"none", "in", "out"};
    std::ofstream out(base_ + ".commands", std::ios::app);
    out << sim::hex_bytes(cdb, length) << " | " << directions[data_length == 0 ? 0 : data_out ? 2 : 1] << ' '
        << data_length << " | status " << sim::hex_bytes(&a.result.status, 1);
    if (a.result.sense_length) out << " sense " << sim::hex_bytes(a.result.sense, a.result.sense_length);
    if (a.kernel) out << " | kernel";
    out << "\n";
}

void drive::time_block(const uint8_t* cdb, size_t length, uint64_t arrived_ns) {
    const bool image_block = length >= 10 && cdb[0] == 0x3B && (cdb[1] & 0x1F) == 7;
    if (!image_block) return;
    const bool first = cdb[3] == 0 && cdb[4] == 0 && cdb[5] == 0;
    if (first) blocks_.clear();
    blocks_.push_back({arrived_ns, now_ns()});
}

namespace {

uint64_t median(std::vector<uint64_t> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

}  // namespace

void drive::write_state() {
    const emu::virtual_drive& d = *drive_;
    // Written aside and renamed, so that a reader never meets half of it.
    std::ofstream state(base_ + ".state.part", std::ios::trunc);
    state << emu::state_lines(d) << "commands " << d.log().size() << "\n";
    // The latest transfer from the drive's end: the drive's own work on a
    // block (arrival to answer), the gap from one answer to the next block's
    // arrival (the initiator, its kernel and the bus), and the two together.
    std::vector<uint64_t> work, gap, interval;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        work.push_back(blocks_[i].answered_ns - blocks_[i].arrived_ns);
        if (i == 0) continue;
        gap.push_back(blocks_[i].arrived_ns - blocks_[i - 1].answered_ns);
        interval.push_back(blocks_[i].arrived_ns - blocks_[i - 1].arrived_ns);
    }
    state << "image_blocks " << blocks_.size() << "\nimage_work_median_ns " << median(work)
          << "\nimage_gap_median_ns " << median(gap) << "\nimage_interval_median_ns " << median(interval) << "\n";
    state.close();
    std::rename((base_ + ".state.part").c_str(), (base_ + ".state").c_str());
}

std::unique_ptr<drive> load_drive(const char* program, const char* scenario_path, const char* index_text,
                                  const char* folder) {
    sim::machine machine;
    try {
        const sim::scenario_file file = sim::read_scenario_file(scenario_path);
        // The image files are the updater's business: they lie where it runs.
        nlohmann::json scenario = nlohmann::json::parse(file.text);
        scenario.erase("images");
        sim::load_scenario(machine, scenario.dump(), file.folder, "");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        std::exit(2);
    }
    const size_t index = static_cast<size_t>(std::atoi(index_text));
    if (index >= machine.drives.size()) {
        std::fprintf(stderr, "%s: the scenario has no drive %zu\n", program, index);
        std::exit(2);
    }
    const sim::drive_slot& slot = machine.drives[index];
    return std::make_unique<drive>(slot.drive, slot.letter ? slot.letter : static_cast<char>('E' + index), folder);
}

}  // namespace served
