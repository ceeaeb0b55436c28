// Tests of the virtual drive on its own: the checks of the update protocol, the
// re-flash and what the drive reports after it, injected faults, INQUIRY and
// unit attention.
#include "emulator/virtual_drive.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace emu;
using bytes = std::vector<uint8_t>;
using sense = std::tuple<int, int, int>;

const sense good{-1, -1, -1};
constexpr uint32_t code_plus_4 = 0x5E3A91C8;  // default access code 0x5E3A91C4 + 4
const std::string model = "QUARLEN  KWR-322";

bytes mode_block(const std::string& text, uint32_t access) {
    bytes b(256, 0);
    std::copy(text.begin(), text.end(), b.begin());
    for (int i = 0; i < 4; ++i) b[16 + i] = uint8_t(access >> (8 * i));
    return b;
}

bytes image(size_t size) {
    bytes img(size, 0xA5);
    const std::string version = "1.28 ", date = "08/07/25";
    std::copy(version.begin(), version.end(), img.begin() + 0x90);
    std::copy(date.begin(), date.end(), img.begin() + 0x130);
    return img;
}

sense sense_of(const command_result& r) {
    if (r.status != STATUS_CHECK_CONDITION) return good;
    EXPECT_EQ(r.sense_length, 18u);
    EXPECT_EQ(r.sense[0], 0x70);
    EXPECT_EQ(r.sense[7], 0x0A);
    return {r.sense[2], r.sense[12], r.sense[13]};
}

struct host {
    virtual_drive drive;
    uint64_t now = 0;
    explicit host(drive_config c = {}) : drive(std::move(c)) {}

    command_result run(bytes cdb, int dir, bytes& data, uint32_t timeout_ms = 0) {
        auto r = drive.execute(cdb.data(), cdb.size(), dir, data.data(), uint32_t(data.size()), timeout_ms, now);
        now += r.duration_ms;
        return r;
    }
    sense tur() {
        bytes none;
        return sense_of(run({0x00, 0, 0, 0, 0, 0}, DIR_NONE, none));
    }
    command_result inquiry(bytes& page, uint8_t evpd = 0, uint8_t code = 0) {
        return run({0x12, evpd, code, 0, uint8_t(page.size()), 0}, DIR_IN, page);
    }
    std::string revision() {
        bytes page(96);
        EXPECT_EQ(sense_of(inquiry(page)), good);
        return std::string(page.begin() + 32, page.begin() + 36);
    }
    command_result write_buffer(uint8_t mode, uint8_t buffer, uint32_t offset, bytes data, uint32_t timeout_ms = 0) {
        const auto n = uint32_t(data.size());
        return run({0x3B, mode, buffer, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                    uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0},
                   DIR_OUT, data, timeout_ms);
    }
    sense enter(uint32_t access = code_plus_4, const std::string& text = model) {
        return sense_of(write_buffer(4, 0xFF, 0, mode_block(text, access)));
    }
    sense leave(uint32_t access = code_plus_4) { return sense_of(write_buffer(5, 0xFF, 0, mode_block(model, access))); }
    sense block(uint32_t offset, const bytes& img, size_t size) {
        return sense_of(write_buffer(7, 0xF0, offset, bytes(img.begin() + offset, img.begin() + offset + size)));
    }
    void send(const bytes& img, size_t from = 0) {
        for (size_t at = from; at < img.size(); at += 0x100)
            ASSERT_EQ(block(uint32_t(at), img, std::min<size_t>(0x100, img.size() - at)), good);
    }
};

TEST(entry, refused_mode_blocks_leave_the_drive_in_normal_mode) {
    struct { const char* what; std::string text; uint32_t access; uint8_t tail; bool refuse; } cases[] = {
        {"wrong access value", model, code_plus_4 + 1, 0, false},
        {"access value of another signature", model, 0x5E3A91C9, 0, false},
        {"wrong model string", "QUARLEN  KWR-323", code_plus_4, 0, false},
        {"non-zero tail", model, code_plus_4, 1, false},
        {"drive refuses entry", model, code_plus_4, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        drive_config cfg;
        cfg.refuse_entry = c.refuse;
        host h(cfg);
        bytes b = mode_block(c.text, c.access);
        b[255] = c.tail;
        EXPECT_EQ(sense_of(h.write_buffer(4, 0xFF, 0, b)), sense(5, 0x26, 0));
        EXPECT_FALSE(h.drive.in_update_mode());
        EXPECT_EQ(h.revision(), "1.23");
    }
    host h;
    EXPECT_EQ(h.enter(), good);
    EXPECT_TRUE(h.drive.in_update_mode());
    EXPECT_EQ(h.revision(), "000 ");
    bytes id(48);
    EXPECT_EQ(sense_of(h.run({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 48, 0}, DIR_IN, id)), good);
    EXPECT_EQ(std::string(id.begin() + 24, id.begin() + 40), "QUA_ADV         ");
}

TEST(entry, access_values_follow_the_signature) {
    struct { std::string signature; uint32_t entry, leave; } cases[] = {
        {"QUA_ADV ", 0x5E3A91C8, 0x5E3A91C8}, {"CORVIN  ", 0x6E41B2C7, 0x5E3A91C8},
        {"KESTO   ", 0x5E3A91C9, 0x5E3A91C4}, {"PARVEL2 ", 0x5E3A91C9, 0x5E3A91C9},
        {"KESTO", 0x5E3A91C9, 0x5E3A91C4},    {"KESTOX  ", 0x5E3A91C8, 0x5E3A91C8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signature);
        EXPECT_EQ(virtual_drive::entry_access_value(c.signature, 0x5E3A91C4), c.entry);
        EXPECT_EQ(virtual_drive::leave_access_value(c.signature, 0x5E3A91C4), c.leave);
        drive_config cfg;
        cfg.signature = c.signature;
        host h(cfg);
        EXPECT_EQ(h.enter(c.entry == code_plus_4 ? code_plus_4 + 1 : code_plus_4), sense(5, 0x26, 0));
        EXPECT_EQ(h.enter(c.entry), good);
        h.send(image(0x200));
        EXPECT_EQ(h.leave(c.leave == code_plus_4 ? code_plus_4 + 1 : code_plus_4), sense(5, 0x26, 0));
        EXPECT_EQ(h.leave(c.leave), good);
    }
    EXPECT_EQ(virtual_drive::entry_access_value("QUA_ADV ", 0xFFFFFFFE), 2u);
}

TEST(image_blocks, must_arrive_in_order_in_update_mode_and_fit) {
    drive_config cfg;
    cfg.image_capacity = 0x300;
    host h(cfg);
    const bytes img = image(0x400);
    EXPECT_EQ(h.block(0, img, 0x100), sense(5, 0x2C, 0));
    ASSERT_EQ(h.enter(), good);
    struct { uint32_t offset, size; sense expected; } steps[] = {
        {0x100, 0x100, {5, 0x24, 0}},  // gap
        {0, 0x100, good},
        {0x100, 0x100, good},
        {0x100, 0x100, {5, 0x24, 0}},  // repeat
        {0, 0x100, good},               // offset 0 starts the image anew
        {0x100, 0x300, {5, 0x24, 0}},  // past capacity
        {0x100, 0, {5, 0x24, 0}},
        {0x100, 0x200, good},           // exactly to capacity
    };
    for (const auto& s : steps) EXPECT_EQ(h.block(s.offset, img, s.size), s.expected) << s.offset << "+" << s.size;
    EXPECT_EQ(h.drive.received_image(), bytes(img.begin(), img.begin() + 0x300));

    cfg.refuse_block = 1;
    host r(cfg);
    ASSERT_EQ(r.enter(), good);
    EXPECT_EQ(r.block(0, img, 0x100), good);
    EXPECT_EQ(r.block(0x100, img, 0x100), sense(3, 0x0C, 0));
    EXPECT_EQ(r.drive.received_image().size(), 0x100u);
}

TEST(image_blocks, a_capacity_beyond_the_real_drives_keeps_every_byte) {
    drive_config cfg;
    cfg.image_capacity = IMAGE_BUFFER_SIZE + 0x200;
    cfg.starts_in_update_mode = true;
    // The second drive receives into memory the first one left behind.
    for (uint8_t pass = 0; pass < 2; ++pass) {
        bytes img(cfg.image_capacity + 0x100);
        for (size_t i = 0; i < img.size(); ++i) img[i] = uint8_t(i % 251 + pass);
        host h(cfg);
        EXPECT_EQ(h.block(0, img, IMAGE_BUFFER_SIZE - 0x100), good);
        EXPECT_EQ(h.block(IMAGE_BUFFER_SIZE - 0x100, img, 0x200), good);
        EXPECT_EQ(h.block(IMAGE_BUFFER_SIZE + 0x100, img, 0x200), sense(5, 0x24, 0));
        EXPECT_TRUE(h.drive.received_image() == bytes(img.begin(), img.begin() + IMAGE_BUFFER_SIZE + 0x100));
    }
}

TEST(reflash, needs_the_whole_image_then_reports_its_version) {
    drive_config cfg;
    cfg.expected_image_size = 0x400;
    cfg.date = "07/11/02";
    host h(cfg);
    const bytes img = image(0x400);
    EXPECT_EQ(h.leave(), sense(5, 0x2C, 0));
    ASSERT_EQ(h.enter(), good);
    h.send(bytes(img.begin(), img.begin() + 0x200));
    EXPECT_EQ(h.leave(), sense(5, 0x26, 0));
    EXPECT_TRUE(h.drive.in_update_mode());
    h.send(img, 0x200);
    const uint64_t sent = h.now;
    EXPECT_EQ(h.leave(), good);
    EXPECT_EQ(h.now, sent + 500);
    bytes page(96);
    EXPECT_EQ(sense_of(h.inquiry(page)), sense(2, 4, 1));
    h.now = sent + 500 + 2000 - 1;
    EXPECT_EQ(h.tur(), sense(2, 4, 1));
    h.now += 1;
    EXPECT_EQ(h.revision(), "1.28");
    EXPECT_EQ(sense_of(h.inquiry(page)), good);
    EXPECT_EQ(std::string(page.begin() + 36, page.begin() + 45), " 08/07/25");
    EXPECT_FALSE(h.drive.in_update_mode());
    EXPECT_EQ(h.drive.flashed_image(), img);
    EXPECT_EQ(h.drive.reflash_count(), 1u);
}

TEST(reflash, drive_can_stay_in_update_mode_or_refuse_to_leave) {
    drive_config cfg;
    cfg.stay_in_update_mode = true;
    host h(cfg);
    ASSERT_EQ(h.enter(), good);
    h.send(image(0x200));
    EXPECT_EQ(h.leave(), good);
    h.now += 2000;
    EXPECT_EQ(h.revision(), "000 ");
    EXPECT_TRUE(h.drive.in_update_mode());
    EXPECT_EQ(h.drive.reflash_count(), 1u);

    struct { int key; sense expected; } refusals[] = {{5, {5, 0x2C, 0}}, {2, {2, 4, 1}}, {6, {6, 0x29, 0}}};
    for (const auto& [key, expected] : refusals) {
        drive_config refusing;
        refusing.refuse_leave = true;
        refusing.refuse_leave_key = uint8_t(key);
        host r(refusing);
        ASSERT_EQ(r.enter(), good);
        r.send(image(0x200));
        EXPECT_EQ(r.leave(), expected) << key;
        EXPECT_TRUE(r.drive.in_update_mode());
        EXPECT_EQ(r.drive.reflash_count(), 0u);
    }
}

TEST(faults, injected_faults_by_command_number_change_nothing) {
    struct { fault_kind kind; uint32_t timeout; uint8_t status; bool transport, timed_out; uint32_t duration; } cases[] = {
        {fault_kind::check_condition, 0, STATUS_CHECK_CONDITION, false, false, 0},
        {fault_kind::transport, 0, STATUS_GOOD, true, false, 0},
        {fault_kind::timeout, 7000, STATUS_GOOD, false, true, 7000},
        {fault_kind::timeout, 0, STATUS_GOOD, false, true, 3600000},
        {fault_kind::busy, 0, STATUS_BUSY, false, false, 0},
    };
    for (const auto& c : cases) {
        drive_config cfg;
        cfg.injected = {{2, c.kind, 0x04, 0x44, 0x00}};
        host h(cfg);
        EXPECT_EQ(h.tur(), sense(2, 0x3A, 0));  // a failing command still counts
        const auto r = h.write_buffer(4, 0xFF, 0, mode_block(model, code_plus_4), c.timeout);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.sense_length, c.kind == fault_kind::check_condition ? 18u : 0u);
        EXPECT_EQ(r.transport_failure, c.transport);
        EXPECT_EQ(r.timed_out, c.timed_out);
        EXPECT_EQ(r.duration_ms, c.duration);
        EXPECT_EQ(sense_of(r), c.kind == fault_kind::check_condition ? sense(4, 0x44, 0) : good);
        EXPECT_FALSE(h.drive.in_update_mode());
        EXPECT_EQ(h.enter(), good);
        ASSERT_EQ(h.drive.log().size(), 3u);
        EXPECT_EQ(h.drive.log()[1].data_out, mode_block(model, code_plus_4));
        EXPECT_EQ(h.drive.log()[1].timeout_ms, c.timeout);
        EXPECT_EQ(h.drive.log()[1].result.timed_out, c.timed_out);
    }
}

TEST(faults, slow_block_times_out_but_is_stored) {
    host h;
    ASSERT_EQ(h.enter(), good);
    const auto r = h.write_buffer(7, 0xF0, 0, bytes(0x100, 1), 10);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.duration_ms, 10u);
    EXPECT_EQ(h.drive.received_image().size(), 0x100u);
    EXPECT_TRUE(h.drive.log()[1].data_out.empty());
}

TEST(inquiry, answers_standard_page_only_and_honours_short_lengths) {
    host h;
    bytes page(96);
    EXPECT_EQ(sense_of(h.inquiry(page, 1, 0x80)), sense(5, 0x24, 0));
    EXPECT_EQ(sense_of(h.inquiry(page, 0, 0x80)), sense(5, 0x24, 0));
    EXPECT_EQ(h.inquiry(page).transferred, 96u);
    EXPECT_EQ(bytes(page.begin(), page.begin() + 5), (bytes{0x05, 0x80, 0x05, 0x32, 91}));
    EXPECT_EQ(std::string(page.begin() + 8, page.begin() + 59),
              std::string("QUARLEN DVD-RW  KWR-322 1.23 08/07/25") + std::string(13, ' ') + '\0');
    bytes five(5);
    EXPECT_EQ(h.inquiry(five).transferred, 5u);
    drive_config cfg;
    cfg.inquiry_length = 36;
    host s(cfg);
    EXPECT_EQ(s.inquiry(page).transferred, 36u);
}

TEST(inquiry, recorded_answers_stand_until_the_firmware_changes) {
    drive_config cfg;
    cfg.recorded_inquiry = bytes(40, 0x5A);
    cfg.recorded_identity = bytes(48, 0xC3);
    host h(cfg);
    bytes page(96), id(48);
    EXPECT_EQ(h.inquiry(page).transferred, 40u);
    EXPECT_EQ(page, [] { bytes p(96, 0); std::fill_n(p.begin(), 40, 0x5A); return p; }());
    EXPECT_EQ(sense_of(h.run({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 48, 0}, DIR_IN, id)), good);
    EXPECT_EQ(id, bytes(48, 0xC3));
    // Switched, it answers as the model's update firmware.
    EXPECT_EQ(h.enter(), good);
    EXPECT_EQ(h.revision(), "000 ");
}

TEST(unit_attention, reported_after_power_on_and_after_restart) {
    drive_config cfg;
    cfg.unit_attention_count = 2;
    cfg.inquiry_failures_after_restart = 1;
    host h(cfg);
    EXPECT_EQ(h.revision(), "1.23");  // INQUIRY does not consume it
    EXPECT_EQ(h.enter(), sense(6, 0x29, 0));
    EXPECT_EQ(h.tur(), sense(6, 0x29, 0));
    EXPECT_EQ(h.tur(), sense(2, 0x3A, 0));
    ASSERT_EQ(h.enter(), good);
    h.send(image(0x200));
    ASSERT_EQ(h.leave(), good);
    h.now += 2000;
    bytes page(96);
    EXPECT_EQ(sense_of(h.inquiry(page)), sense(2, 4, 1));
    EXPECT_EQ(h.revision(), "1.28");
    EXPECT_EQ(h.tur(), sense(6, 0x29, 0));
    EXPECT_EQ(h.tur(), sense(6, 0x29, 0));
    EXPECT_EQ(h.tur(), sense(2, 0x3A, 0));
}

}  // namespace
