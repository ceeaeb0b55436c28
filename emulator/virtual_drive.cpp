// The virtual drive's command handling: fault injection, unit attention, INQUIRY,
// TEST UNIT READY, START STOP UNIT, the identity block (READ BUFFER 0xF1) and the
// update protocol (WRITE BUFFER modes 4, 7 and 5) with the re-flash that follows.
#include "emulator/virtual_drive.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <new>
#include <utility>

namespace emu {
namespace {

constexpr uint8_t op_test_unit_ready = 0x00;
constexpr uint8_t op_inquiry = 0x12;
constexpr uint8_t op_start_stop_unit = 0x1B;
constexpr uint8_t op_write_buffer = 0x3B;
constexpr uint8_t op_read_buffer = 0x3C;

constexpr uint32_t inquiry_size = 96;
constexpr uint32_t identity_size = 48;
constexpr uint32_t mode_block_size = 256;
constexpr uint32_t image_header_size = 0x13A;  // the header holds the version text and date
constexpr uint32_t image_version_at = 0x90;
constexpr uint32_t image_suffix_at = 0x94;
constexpr uint32_t image_date_at = 0x130;
constexpr uint32_t image_vendor_at = 0x60;
const std::string month_name_vendor = "Lumaris ";
constexpr uint32_t never_answers_ms = 3600000;  // a host without a time-out waits "forever"

const std::string update_firmware_revision = "000 ";
const std::string identity_prefix = "KWR-322 IDBLOCK ";

std::string fit(const std::string& text, size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

// Buffer 0xF0 starts on a page, as a drive's buffer memory does, so a block
// copied into it costs what the client's own copy costs, not more.
constexpr std::align_val_t page_boundary{4096};

// One buffer of the real drive's size outlives its drive for the next drive
// that enters update mode: runs that create drive after drive (the fault
// sweep, the fuzzers) touch its pages once, not once per drive.
std::atomic<uint8_t*> spare_image_memory{nullptr};

// Memory for buffer 0xF0 with its pages touched, so that no transfer waits
// for them block by block.
image_memory take_image_memory(size_t size) {
    uint8_t* bytes = size == IMAGE_BUFFER_SIZE ? spare_image_memory.exchange(nullptr) : nullptr;
    if (!bytes) {
        bytes = static_cast<uint8_t*>(::operator new(size, page_boundary));
        std::fill_n(bytes, size, uint8_t(0));
    }
    return image_memory(bytes, image_memory_release{size});
}

// The image's date as the drive reports it once it runs the image: the
// numeric date text as it stands, and a month-name date ("Lumaris " images:
// "Jul25 2008" and the like) in the drive's own "YY/MM/DD" form.
std::string drive_form_date(const std::vector<uint8_t>& image) {
    const auto text = image.begin() + image_date_at;
    if (!std::equal(month_name_vendor.begin(), month_name_vendor.end(), image.begin() + image_vendor_at))
        return std::string(text, text + 8);
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const numbers[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"};
    std::string month = "00";
    for (int i = 0; i < 12; ++i)
        if (std::equal(months[i], months[i] + 3, text)) month = numbers[i];
    return std::string(text + 8, text + 10) + "/" + month + "/" + std::string(text + 3, text + 5);
}

uint32_t be24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

template <size_t n>
void put(std::array<uint8_t, n>& page, size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), page.begin() + at);
}

command_result becoming_ready() { return check_condition(0x02, 0x04, 0x01); }
command_result invalid_field_in_cdb() { return check_condition(0x05, 0x24, 0x00); }
command_result invalid_field_in_parameters() { return check_condition(0x05, 0x26, 0x00); }
command_result sequence_error() { return check_condition(0x05, 0x2C, 0x00); }
command_result power_on_reset() { return check_condition(0x06, 0x29, 0x00); }

command_result fault_result(const injected_fault& fault, uint32_t timeout_ms) {
    command_result r;
    switch (fault.kind) {
    case fault_kind::check_condition: return check_condition(fault.key, fault.asc, fault.ascq);
    case fault_kind::transport: r.transport_failure = true; break;
    case fault_kind::refused: r.transport_failure = r.refused = true; break;
    case fault_kind::timeout:
        r.timed_out = true;
        r.duration_ms = timeout_ms ? timeout_ms : never_answers_ms;
        break;
    case fault_kind::busy: r.status = STATUS_BUSY; break;
    case fault_kind::good_with_residual: break;  // answered by the drive itself, see execute
    }
    return r;
}

size_t cdb_size(uint8_t opcode) { return opcode < 0x20 ? 6 : 10; }

bool is_mode_block_command(const uint8_t* cdb, size_t cdb_length) {
    if (!cdb || cdb_length < 3 || cdb[0] != op_write_buffer) return false;
    const uint8_t mode = cdb[1] & 0x1F;
    return (mode == 4 || mode == 5) && cdb[2] == 0xFF;
}

}  // namespace

command_result check_condition(uint8_t key, uint8_t asc, uint8_t ascq) {
    command_result r;
    r.status = STATUS_CHECK_CONDITION;
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[7] = 0x0A;
    r.sense[12] = asc;
    r.sense[13] = ascq;
    r.sense_length = sizeof r.sense;
    return r;
}

void image_memory_release::operator()(uint8_t* bytes) const {
    uint8_t* none = nullptr;
    if (size == IMAGE_BUFFER_SIZE && spare_image_memory.compare_exchange_strong(none, bytes)) return;
    ::operator delete(bytes, page_boundary);
}

virtual_drive::virtual_drive(drive_config config)
    : config_(std::move(config)),
      update_mode_(config_.starts_in_update_mode),
      unit_attention_left_(config_.unit_attention_count),
      ready_test_attentions_left_(config_.ready_test_unit_attentions),
      inquiry_length_(config_.inquiry_length),
      revision_(config_.revision),
      revision_suffix_(config_.revision_suffix),
      date_(config_.date),
      update_vendor_(update_mode_ ? fit("", 8) : fit(config_.update_vendor, 8)) {
    if (update_mode_) prepare_image_buffer();
}

std::string virtual_drive::reported_revision() const {
    return update_mode_ ? update_firmware_revision : fit(revision_, 4);
}

std::string virtual_drive::reported_date() const { return date_; }

uint32_t virtual_drive::entry_access_value(const std::string& signature, uint32_t access_code) {
    const std::string s = fit(signature, 8);
    if (s == "PARVEL  " || s == "PARVEL2 " || s == "GENERAL " || s == "QX47    " || s == "KESTO   ")
        return access_code + 5;
    if (s == "CORVIN  ") return 0x6E41B2C7;
    return access_code + 4;
}

uint32_t virtual_drive::leave_access_value(const std::string& signature, uint32_t access_code) {
    const std::string s = fit(signature, 8);
    if (s == "PARVEL  " || s == "PARVEL2 ") return access_code + 5;
    if (s == "KESTO   ") return access_code;
    return access_code + 4;
}

command_result virtual_drive::execute(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                                      uint32_t data_length, uint32_t timeout_ms, uint64_t now_ms) {
    command_record record;
    if (cdb) record.cdb.assign(cdb, cdb + cdb_length);
    record.direction = direction;
    record.data_length = data_length;
    record.timeout_ms = timeout_ms;
    record.at_ms = now_ms;
    record.data_address = data;
    if (is_mode_block_command(cdb, cdb_length) && data && direction == DIR_OUT)
        record.data_out.assign(data, data + std::min(data_length, mode_block_size));

    const auto starts_with = [](const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& prefix) {
        return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
    };
    const auto fault = std::find_if(config_.injected.begin(), config_.injected.end(), [&](const injected_fault& f) {
        if (f.cdb_prefix.empty()) return f.command_number == log_.size() + 1;
        if (!starts_with(record.cdb, f.cdb_prefix)) return false;
        const auto earlier = std::count_if(log_.begin(), log_.end(), [&](const command_record& c) {
            return starts_with(c.cdb, f.cdb_prefix);
        });
        return f.command_number == static_cast<uint32_t>(earlier) + 1;
    });
    const bool part_taken = fault != config_.injected.end() && fault->kind == fault_kind::good_with_residual;
    command_result result;
    if (fault != config_.injected.end() && !part_taken) {
        result = fault_result(*fault, timeout_ms);
    } else {
        if (part_taken && direction == DIR_OUT && cdb && cdb_length >= cdb_size(op_write_buffer) &&
            cdb[0] == op_write_buffer) {
            // The drive acts on the first half of the data as if the command had
            // asked for no more; what the host sent beyond it is left over.
            std::vector<uint8_t> half(cdb, cdb + cdb_length);
            const uint32_t taken = data_length / 2;
            half[6] = uint8_t(taken >> 16), half[7] = uint8_t(taken >> 8), half[8] = uint8_t(taken);
            result = answer(half.data(), half.size(), direction, data, taken, now_ms);
        } else {
            result = answer(cdb, cdb_length, direction, data, data_length, now_ms);
        }
        // A slow command still completes inside the drive after the host gives up
        // waiting, so its state change stands and only the answer is lost.
        if (timeout_ms != 0 && result.duration_ms > timeout_ms) {
            result.timed_out = true;
            result.duration_ms = timeout_ms;
        }
    }
    record.result = result;
    log_.push_back(std::move(record));
    return result;
}

command_result virtual_drive::answer(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data,
                                     uint32_t data_length, uint64_t now_ms) {
    if (!cdb || cdb_length == 0) return check_condition(0x05, 0x20, 0x00);
    const uint8_t opcode = cdb[0];
    // A re-flashing drive answers nothing but "becoming ready", INQUIRY included.
    if (now_ms < busy_until_ms_) return becoming_ready();
    // INQUIRY never consumes a pending unit attention, as on the real drive.
    if (opcode != op_inquiry && unit_attention_left_ > 0) {
        --unit_attention_left_;
        return power_on_reset();
    }
    switch (opcode) {
    case op_test_unit_ready:
    case op_inquiry:
    case op_start_stop_unit:
    case op_write_buffer:
    case op_read_buffer:
        if (cdb_length < cdb_size(opcode)) return invalid_field_in_cdb();
        break;
    default: return check_condition(0x05, 0x20, 0x00);
    }
    switch (opcode) {
    case op_test_unit_ready:
        if (ready_test_attentions_left_ > 0) {
            --ready_test_attentions_left_;
            return power_on_reset();
        }
        if (config_.disc_present) return {};
        return config_.becoming_ready ? becoming_ready() : check_condition(0x02, 0x3A, 0x00);
    case op_inquiry: return inquiry(cdb, direction, data, data_length);
    case op_read_buffer: return read_buffer(cdb, direction, data, data_length);
    case op_write_buffer: return write_buffer(cdb, direction, data, data_length, now_ms);
    default: return {};
    }
}

command_result virtual_drive::inquiry(const uint8_t* cdb, int direction, uint8_t* data, uint32_t data_length) {
    if (inquiry_failures_left_ > 0) {
        --inquiry_failures_left_;
        return becoming_ready();
    }
    if ((cdb[1] & 0x01) || cdb[2] != 0) return invalid_field_in_cdb();
    if (data_length > 0 && (direction != DIR_IN || !data)) return invalid_field_in_cdb();

    std::array<uint8_t, inquiry_size> page{};
    page[0] = config_.peripheral;
    page[1] = 0x80;
    page[2] = 0x05;
    page[3] = 0x32;
    page[4] = inquiry_size - 5;
    put(page, 8, fit(config_.vendor, 8));
    put(page, 16, fit(config_.product, 16));
    put(page, 32, reported_revision());
    page[36] = uint8_t(update_mode_ ? ' ' : revision_suffix_);
    put(page, 37, fit(date_, 58 - 37));

    const uint32_t allocation = uint32_t(cdb[3]) << 8 | cdb[4];
    command_result r;
    const std::vector<uint8_t>& recorded = config_.recorded_inquiry;
    if (recorded_answers_ && !recorded.empty()) {
        r.transferred = std::min({allocation, data_length, uint32_t(recorded.size())});
        std::copy_n(recorded.begin(), r.transferred, data);
        return r;
    }
    r.transferred = std::min({allocation, data_length, inquiry_length_, inquiry_size});
    std::copy_n(page.begin(), r.transferred, data);
    return r;
}

command_result virtual_drive::read_buffer(const uint8_t* cdb, int direction, uint8_t* data,
                                          uint32_t data_length) {
    if ((cdb[1] & 0x1F) != 2 || cdb[2] != 0xF1 || !config_.identity_readable) return invalid_field_in_cdb();
    if (be24(cdb + 3) != 0) return invalid_field_in_cdb();
    if (data_length > 0 && (direction != DIR_IN || !data)) return invalid_field_in_cdb();

    std::array<uint8_t, identity_size> block{};
    put(block, 0, identity_prefix);
    put(block, 16, fit(config_.hardware_revision, 8));
    put(block, 24, fit(config_.signature, 8));
    put(block, 32, update_vendor_);
    put(block, 40, fit("", 8));

    command_result r;
    const std::vector<uint8_t>& recorded = config_.recorded_identity;
    if (recorded_answers_ && !recorded.empty()) {
        r.transferred = std::min({be24(cdb + 6), data_length, uint32_t(recorded.size())});
        std::copy_n(recorded.begin(), r.transferred, data);
        return r;
    }
    r.transferred = std::min({be24(cdb + 6), data_length, identity_size});
    std::copy_n(block.begin(), r.transferred, data);
    return r;
}

command_result virtual_drive::write_buffer(const uint8_t* cdb, int direction, const uint8_t* data,
                                           uint32_t data_length, uint64_t now_ms) {
    const uint8_t mode = cdb[1] & 0x1F;
    const uint8_t buffer = cdb[2];
    const uint32_t offset = be24(cdb + 3);
    const uint32_t length = be24(cdb + 6);
    if (length != data_length || (length > 0 && (direction != DIR_OUT || !data))) return invalid_field_in_cdb();
    if (mode == 4 && buffer == 0xFF) return enter_update_mode(offset, data, length);
    if (mode == 7 && buffer == 0xF0) return store_block(offset, data, length);
    if (mode == 5 && buffer == 0xFF) return leave_update_mode(offset, data, length, now_ms);
    return invalid_field_in_cdb();
}

bool virtual_drive::mode_block_matches(const uint8_t* block, uint32_t access_value) const {
    const std::string model = fit(config_.model_string, 16);
    if (!std::equal(model.begin(), model.end(), block)) return false;
    const uint32_t given = uint32_t(block[16]) | uint32_t(block[17]) << 8 | uint32_t(block[18]) << 16 |
                           uint32_t(block[19]) << 24;
    return given == access_value &&
           std::all_of(block + 20, block + mode_block_size, [](uint8_t b) { return b == 0; });
}

command_result virtual_drive::enter_update_mode(uint32_t offset, const uint8_t* block, uint32_t length) {
    if (offset != 0 || length != mode_block_size) return invalid_field_in_cdb();
    if (config_.refuse_entry ||
        !mode_block_matches(block, entry_access_value(config_.signature, config_.access_code)))
        return invalid_field_in_parameters();
    // Entering again while already in update mode simply restarts reception.
    update_mode_ = true;
    recorded_answers_ = false;
    update_vendor_ = fit("", 8);
    prepare_image_buffer();
    received_size_ = 0;
    blocks_received_ = 0;
    command_result r;
    r.transferred = length;
    return r;
}

command_result virtual_drive::store_block(uint32_t offset, const uint8_t* bytes, uint32_t length) {
    if (!update_mode_) return sequence_error();
    // A block at offset 0 starts the image anew, as an updater that tries again sends it.
    if (offset == 0) {
        received_size_ = 0;
        blocks_received_ = 0;
    }
    if (length == 0 || offset != received_size_ || uint64_t(offset) + length > config_.image_capacity)
        return invalid_field_in_cdb();
    if (blocks_received_ == config_.refuse_block) {
        if (config_.refused_block_restarts) back_to_normal_firmware();
        return check_condition(0x03, 0x0C, 0x00);
    }
    if (size_t(offset) + length > image_buffer_.get_deleter().size) grow_image_buffer(size_t(offset) + length);
    std::copy_n(bytes, length, image_buffer_.get() + offset);
    received_size_ = size_t(offset) + length;
    ++blocks_received_;
    command_result r;
    r.transferred = length;
    r.duration_ms = config_.block_ms;
    return r;
}

command_result virtual_drive::leave_update_mode(uint32_t offset, const uint8_t* block, uint32_t length,
                                                uint64_t now_ms) {
    if (!update_mode_) return sequence_error();
    if (offset != 0 || length != mode_block_size) return invalid_field_in_cdb();
    if (!mode_block_matches(block, leave_access_value(config_.signature, config_.access_code)))
        return invalid_field_in_parameters();
    const auto refusal = [this] {
        switch (config_.refuse_leave_key) {
        case 0x02: return becoming_ready();
        case 0x06: return power_on_reset();
        default: return check_condition(config_.refuse_leave_key, 0x2C, 0x00);
        }
    };
    if (config_.refuse_leave && !config_.refuse_leave_after_reflash) {
        if (config_.refused_leave_restarts) back_to_normal_firmware();
        return refusal();
    }
    const size_t size = received_size_;
    if (size < image_header_size || (config_.expected_image_size != 0 && size != config_.expected_image_size))
        return invalid_field_in_parameters();

    flashed_.assign(image_buffer_.get(), image_buffer_.get() + size);
    ++reflash_count_;
    recorded_answers_ = false;
    busy_until_ms_ = now_ms + config_.leave_command_ms + config_.reflash_ms;
    unit_attention_left_ = config_.unit_attention_count;
    inquiry_failures_left_ = config_.inquiry_failures_after_restart;
    if (config_.inquiry_length_after_restart != 0) inquiry_length_ = config_.inquiry_length_after_restart;
    // A drive whose new firmware did not take over restarts into its update
    // firmware and keeps answering as before, waiting for an image from offset 0.
    if (config_.stay_in_update_mode) {
        received_size_ = 0;
        blocks_received_ = 0;
    } else {
        back_to_normal_firmware();
        const auto image = flashed_.begin();
        revision_.assign(image + image_version_at, image + image_version_at + 4);
        if (!config_.revision_after_restart.empty()) revision_ = config_.revision_after_restart;
        revision_suffix_ = char(flashed_[image_suffix_at]);
        if (!config_.revision_suffix_after_restart.empty()) revision_suffix_ = config_.revision_suffix_after_restart[0];
        date_ = config_.date_after_restart.empty() ? drive_form_date(flashed_) : config_.date_after_restart;
        if (!config_.vendor_after_restart.empty()) config_.vendor = config_.vendor_after_restart;
        if (!config_.product_after_restart.empty()) config_.product = config_.product_after_restart;
    }
    command_result r = config_.refuse_leave ? refusal() : command_result{};
    r.transferred = config_.refuse_leave ? 0 : length;
    r.duration_ms = config_.leave_command_ms;
    return r;
}

// Taken at the first entry into update mode: a drive that never enters it
// holds no buffer.
void virtual_drive::prepare_image_buffer() {
    if (!image_buffer_) image_buffer_ = take_image_memory(std::min(config_.image_capacity, IMAGE_BUFFER_SIZE));
}

// Only a capacity beyond the real drive's grows, doubling as blocks arrive.
void virtual_drive::grow_image_buffer(size_t size) {
    const size_t doubled = std::max(size, 2 * image_buffer_.get_deleter().size);
    image_memory larger = take_image_memory(std::min(doubled, size_t(config_.image_capacity)));
    std::copy_n(image_buffer_.get(), received_size_, larger.get());
    image_buffer_ = std::move(larger);
}

// The drive restarts into the normal firmware it holds, whatever it received.
void virtual_drive::back_to_normal_firmware() {
    update_mode_ = false;
    update_vendor_ = fit(config_.update_vendor, 8);
}

std::string state_lines(const virtual_drive& drive) {
    return "revision " + drive.reported_revision() + "\ndate " + drive.reported_date() +
           "\nupdate_mode " + (drive.in_update_mode() ? "1" : "0") + "\nreflash_count " +
           std::to_string(drive.reflash_count()) + "\nreceived_bytes " + std::to_string(drive.received_size()) +
           "\nflashed_bytes " + std::to_string(drive.flashed_image().size()) + "\n";
}

}  // namespace emu
