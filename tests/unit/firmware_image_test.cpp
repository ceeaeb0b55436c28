// The image file: what load_image accepts and refuses, the decoded version and
// date, the dates message 82 shows, and identification of the drive with the
// release selected for it.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "dialogue_expectations.h"
#include "image/image_integrity.h"
#include "image/sha256.h"
#include "messages/messages.h"
#include "update/update.h"
#include "test_support.h"
#include "tools/make-image/image_builder.h"

namespace {

constexpr uint32_t BUFFER_SIZE = 8u * 1024 * 1024;
using expect::ERROR_STYLE;
const char* const TOO_OLD = "\r\nSelected file is too old fw file.";
const char* const ILLEGAL = "\r\nSelected file is illegal fw file.";

class image_test : public sim_folder_test {
  protected:
    void SetUp() override {
        sim_folder_test::SetUp();
        init_firmware_descriptor();
        current_release = firmware_descriptor[0];
        ASSERT_EQ(allocate_working_buffer(image_buffer, BUFFER_SIZE), 0);
    }
    void TearDown() override {
        free_working_buffer(image_buffer);
        sim_folder_test::TearDown();
    }

    static image_fields small_image() {
        image_fields fields;
        fields.size = 0x1000;
        return fields;
    }
    void write_image(const image_fields& fields) {
        ASSERT_TRUE(write_image_file(dir + "/A0013431.128", fields));
    }
    // Each case is the first load of a run of its own.
    int load(const image_fields& fields) {
        write_image(fields);
        reset_image_integrity_state();
        return load_image(image);
    }

    loaded_image image;

};

// --- the header --------------------------------------------------------------------

struct header_case {
    const char* vendor_product;
    const char* date;
    const char* image_vendor;
    char part_kind;
    uint32_t image_date;
    const char* console;  // empty: accepted
};

const char* const NUMERIC = "QUARLEN DVD-RW  KWR-322 ";
const char* const MONTH_NAMES = "Lumaris DVD-RW  KWR-322 ";
const char* const QUA = "QUA_ADV ";

const header_case header_cases[] = {
    {NUMERIC, "08/07/25", QUA, 'N', 0x20080725, ""},  // equal to the minimum passes
    {NUMERIC, "08/07/24", QUA, 'N', 0x20080724, TOO_OLD},
    {NUMERIC, "08-07-26", QUA, 'P', 0x20080726, ""},  // the separators are not looked at
    {NUMERIC, "0a/1B/2c", QUA, 'N', 0x200A1B2C, ""},  // pairs are hexadecimal, either case
    {MONTH_NAMES, "Oct25 2008", QUA, 'N', 0x20081025, ""},
    {MONTH_NAMES, "Jul24 2008", QUA, 'N', 0x20080724, TOO_OLD},
    {MONTH_NAMES, "Dec01 2108", QUA, 'N', 0x21081201, ""},  // the century is the image's own
    // An unknown month name makes the whole date unreadable, whatever the year.
    {MONTH_NAMES, "Xyz25 2008", QUA, 'N', 0, TOO_OLD},
    {MONTH_NAMES, "Xyz25 2099", QUA, 'N', 0, TOO_OLD},
    {MONTH_NAMES, "oct25 2008", QUA, 'N', 0, TOO_OLD},  // names are compared exactly
    // Text that is not hexadecimal digits gives no date at all.
    {NUMERIC, "G8/07/25", QUA, 'N', 0, TOO_OLD},
    {NUMERIC, " 9/07/25", QUA, 'N', 0, TOO_OLD},
    {NUMERIC, "99/07/2x", QUA, 'N', 0, TOO_OLD},
    {NUMERIC, "99/+7/25", QUA, 'N', 0, TOO_OLD},
    {NUMERIC, "Jul25 2008", QUA, 'N', 0, TOO_OLD},
    {MONTH_NAMES, "Oct2x 2099", QUA, 'N', 0, TOO_OLD},
    {MONTH_NAMES, "Oct25 -099", QUA, 'N', 0, TOO_OLD},
    {MONTH_NAMES, "Oct25 20 9", QUA, 'N', 0, TOO_OLD},
    // Part kind and image vendor, judged after the date.
    {NUMERIC, "08/07/25", QUA, 'K', 0x20080725, ILLEGAL},
    {NUMERIC, "08/07/25", QUA, 'n', 0x20080725, ILLEGAL},
    {NUMERIC, "08/07/25", "QUA_ADX ", 'N', 0x20080725, ILLEGAL},
    {NUMERIC, "08/07/25", "QUA_ADV_", 'P', 0x20080725, ILLEGAL},
    {NUMERIC, "08/07/24", "QUA_ADX ", 'K', 0x20080724, TOO_OLD},
};

TEST_F(image_test, decodes_the_date_and_judges_the_header) {
    for (const header_case& c : header_cases) {
        SCOPED_TRACE(std::string(c.vendor_product, 8) + c.date + " " + c.image_vendor + c.part_kind);
        host.console.clear();
        host.boxes.clear();
        image_fields fields = small_image();
        fields.vendor_product = c.vendor_product;
        fields.date = c.date;
        fields.image_vendor = c.image_vendor;
        fields.part_kind = c.part_kind;
        EXPECT_EQ(load(fields), *c.console ? -1 : 0);
        EXPECT_EQ(image_date, c.image_date);
        EXPECT_EQ(host.console, c.console);
        ASSERT_EQ(host.boxes.size(), *c.console ? 1u : 0u);
        if (*c.console) {
            EXPECT_EQ(host.boxes[0].text, c.console);
            EXPECT_EQ(host.boxes[0].style, ERROR_STYLE);
        }
        EXPECT_EQ(host.open_handles(), 0);
    }
}

TEST_F(image_test, gives_every_month_name_its_bcd_value) {
    const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const uint32_t values[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x10, 0x11, 0x12};
    for (int i = 0; i < 12; ++i) {
        image_fields fields = small_image();
        fields.vendor_product = MONTH_NAMES;
        fields.date = month_name_date(months[i], 3, 2009);
        EXPECT_EQ(load(fields), 0) << months[i];
        EXPECT_EQ(image_date, 0x20090003u | values[i] << 8) << months[i];
    }
}

TEST_F(image_test, decodes_the_version_text) {
    const std::pair<const char*, uint16_t> versions[] = {
        {"1.28 ", 0x0128}, {"2.05 ", 0x0205}, {"9.99X", 0x0999}, {"0.00 ", 0x0000},
        {"1-28 ", 0x0128},  // the point is not read
        {"1.2x ", 0x0168},  // 'x' - '0' is 72: 2 * 16 + 72, in 8 bits
    };
    for (const auto& version : versions)
        EXPECT_EQ(decode_version(reinterpret_cast<const uint8_t*>(version.first)), version.second) << version.first;
    image_version = 0;
    EXPECT_EQ(load(small_image()), 0);
    EXPECT_EQ(image_version, 0x0128);
}

// --- the file -----------------------------------------------------------------------

TEST_F(image_test, reads_the_whole_file_into_the_image_buffer) {
    image_fields fields;
    fields.size = 0x12345;
    fields.seed = 7;
    EXPECT_EQ(load(fields), 0);
    EXPECT_EQ(image.length, 0x12345u);
    EXPECT_EQ(image.bytes, image_buffer.address);
    std::vector<uint8_t> expected = build_image(fields);
    EXPECT_EQ(std::memcmp(image_buffer.address, expected.data(), expected.size()), 0);
    EXPECT_EQ(image_buffer.address[0x12345], 0);  // nothing past the file
    EXPECT_EQ(host.open_handles(), 0);
}

struct file_case {
    const char* name;
    int size;  // -1: no file
    bool size_fails;
    uint32_t shortfall;
    int result;
};

// Against an image buffer of 0x2000 bytes.
const file_case file_cases[] = {
    {"just the header", 0x13A, false, 0, 0},
    {"just the buffer", 0x2000, false, 0, 0},
    {"missing", -1, false, 0, -1},
    {"empty", 0, false, 0, -1},
    {"one byte short of the header", 0x139, false, 0, -1},
    {"a few bytes", 0x20, false, 0, -1},
    {"one byte larger than the buffer", 0x2001, false, 0, -1},
    {"size not available", 0x1000, true, 0, -1},
    {"read one byte short", 0x1000, false, 1, -1},
    {"read nothing", 0x1000, false, 0x1000, -1},
};

TEST_F(image_test, refuses_a_file_it_cannot_take_whole_without_a_message_of_its_own) {
    free_working_buffer(image_buffer);
    ASSERT_EQ(allocate_working_buffer(image_buffer, 0x2000), 0);
    for (const file_case& c : file_cases) {
        SCOPED_TRACE(c.name);
        // A good image first, so that a refused file could be judged by its bytes.
        host.cfg.file_size_fails = false;
        host.cfg.file_read_shortfall = 0;
        ASSERT_EQ(load(small_image()), 0);
        std::vector<uint8_t> before(image_buffer.address, image_buffer.address + 0x1000);

        std::filesystem::remove(dir + "/A0013431.128");
        if (c.size >= 0) {
            image_fields fields = small_image();
            fields.size = static_cast<uint32_t>(c.size);
            fields.seed = 9;
            write_image(fields);
        }
        host.cfg.file_size_fails = c.size_fails;
        host.cfg.file_read_shortfall = c.shortfall;
        host.console.clear();
        reset_image_integrity_state();  // a run of its own
        EXPECT_EQ(load_image(image), c.result);
        EXPECT_EQ(host.console, "");
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(host.open_handles(), 0);
        if (c.result == 0) {
            EXPECT_EQ(image.length, static_cast<uint32_t>(c.size));
        } else {
            EXPECT_EQ(image_date, 0u);
            EXPECT_EQ(image.length, 0x1000u) << "a file not read whole is not the image";
            if (c.shortfall == 0) {
                EXPECT_TRUE(std::equal(before.begin(), before.end(), image_buffer.address))
                    << "a file refused before reading changed the buffer";
            }
        }
    }
}

// --- the dates of message 82 ---------------------------------------------------------

struct question_case {
    const char* drive_date;
    const char* image_vendor_product;
    std::string image_date;
    const char* from_date;
    const char* to_date;
};

const question_case question_cases[] = {
    {"08/07/25", NUMERIC, "08/07/25", "(2008/07/25)", "(2008/07/25)"},
    {"2008/07/25", NUMERIC, "09/11/30", "(2008/07/25)", "(2009/11/30)"},
    {"08/07/25", MONTH_NAMES, "Oct25 2008", "(2008/07/25)", "(2008/10/25)"},
    {"2009/12/01", MONTH_NAMES, "Jan05 2010", "(2009/12/01)", "(2010/01/05)"},
};

TEST_F(image_test, the_update_question_shows_each_date_as_a_date) {
    for (const question_case& c : question_cases) {
        SCOPED_TRACE(c.drive_date + (" " + c.image_date));
        image_fields fields = small_image();
        fields.vendor_product = c.image_vendor_product;
        fields.date = c.image_date;
        ASSERT_EQ(load(fields), 0);
        std::memset(inquiry_data, ' ', sizeof inquiry_data);
        std::memcpy(inquiry_data + 8, "QUARLEN DVD-RW  KWR-322 1.23 ", 29);
        std::memcpy(inquiry_data + 37, c.drive_date, std::strlen(c.drive_date));
        host.boxes.clear();
        show_message(82, KIND_YES_NO, update_question_fields(image.header));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, std::string("\r\nDo you want to update the F/W\r\n") +
                                          "From : QUARLEN DVD-RW  KWR-322  1.23  " + c.from_date + "\r\n" +
                                          "To : " + c.image_vendor_product + " 1.28  " + c.to_date);
    }
}

// --- identification ---------------------------------------------------------------

class identify_test : public one_target_test {
  protected:
    // A release that no drive here matches, as left by an earlier drive.
    void earlier_release() {
        current_release = firmware_descriptor[0];
        std::strcpy(current_release.image_file_name, "EARLIER.BIN");
        release_row = 5;
    }
};

TEST_F(identify_test, makes_the_matching_row_the_current_release) {
    emu::drive_config config;
    config.revision = "1.23";
    add_drive(config);
    earlier_release();
    update_mode = 1;
    EXPECT_EQ(identify_drive(descriptor_rows()), 0);
    EXPECT_EQ(release_row, 0);
    EXPECT_STREQ(current_release.image_file_name, "A0013431.128");
    EXPECT_EQ(std::memcmp(current_release.product_id, "DVD-RW  KWR-322 ", 16), 0);
    EXPECT_EQ(current_release.model_code, 0x100Cu);
    EXPECT_EQ(current_release.minimum_image_date, 0x20080725u);
    EXPECT_EQ(current_release.access_code, 0x5E3A91C4u);
    EXPECT_EQ(std::memcmp(inquiry_data + 8, "QUARLEN DVD-RW  KWR-322 1.23", 28), 0);
    EXPECT_EQ(std::memcmp(drive_info + 24, "QUA_ADV QUA_ADV ", 16), 0);
    EXPECT_EQ(identity_state, 0);
    EXPECT_EQ(update_mode, 0);
    EXPECT_EQ(host.console, "");
    EXPECT_EQ(host.open_handles(), 0);

    const auto& log = host.drive(0).log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].cdb[0], 0x12);
    EXPECT_EQ(log[0].cdb[4], 96);
    const std::vector<uint8_t> read_identity = {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48, 0};
    EXPECT_EQ(log[1].cdb, read_identity);
}

TEST_F(identify_test, a_drive_in_its_update_firmware_is_known_as_such) {
    emu::drive_config config;
    config.starts_in_update_mode = true;
    add_drive(config);
    EXPECT_EQ(identify_drive(descriptor_rows()), 0);
    EXPECT_EQ(drive_info[32], ' ');
    EXPECT_EQ(identity_state, 1);
    EXPECT_EQ(update_mode, 1);
    EXPECT_STREQ(current_release.image_file_name, "A0013431.128");
}

TEST_F(identify_test, a_drive_no_row_matches_leaves_the_earlier_release) {
    emu::drive_config config;
    config.vendor = "OTHERCO ";
    add_drive(config);
    earlier_release();
    EXPECT_EQ(identify_drive(descriptor_rows()), 0);
    EXPECT_STREQ(current_release.image_file_name, "EARLIER.BIN");
    EXPECT_EQ(release_row, 5);
    EXPECT_EQ(std::memcmp(inquiry_data + 8, "OTHERCO ", 8), 0);
    EXPECT_EQ(host.console, "");
}

TEST_F(identify_test, a_failed_inquiry_is_told_by_message_9) {
    emu::drive_config config;
    config.injected.push_back({1, emu::fault_kind::check_condition, 0x02, 0x04, 0x01});
    add_drive(config);
    earlier_release();
    EXPECT_NE(identify_drive(descriptor_rows()), 0);
    EXPECT_EQ(host.console, expect::english(9));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].style, ERROR_STYLE);
    EXPECT_EQ(host.drive(0).log().size(), 1u);  // the identity block is not asked for
    EXPECT_STREQ(current_release.image_file_name, "EARLIER.BIN");
}

TEST_F(identify_test, an_unreadable_identity_block_is_told_by_message_0) {
    emu::drive_config config;
    config.identity_readable = false;
    add_drive(config);
    earlier_release();
    update_mode = 1;
    identity_state = 0;
    EXPECT_NE(identify_drive(descriptor_rows()), 0);
    EXPECT_EQ(host.console, expect::english(0));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].style, ERROR_STYLE);
    EXPECT_EQ(identity_state, -1);
    EXPECT_EQ(update_mode, 1);
    EXPECT_STREQ(current_release.image_file_name, "EARLIER.BIN");
}

}  // namespace

namespace {

// SHA-256 against the examples of FIPS 180-4, whole and fed in uneven pieces.
TEST(sha256_test, gives_the_standard_digests) {
    const std::string million_a(1000000, 'a');
    const std::pair<std::string, const char*> examples[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million_a, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, expected] : examples) {
        uint8_t digest[SHA256_SIZE];
        sha256(text.data(), text.size(), digest);
        EXPECT_EQ(sha256_text(digest), expected) << text.size();
        sha256_state s;
        sha256_begin(s);
        for (size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 7 % 97 + 1)
            sha256_take(s, text.data() + at, std::min(piece, text.size() - at));
        sha256_end(s, digest);
        EXPECT_EQ(sha256_text(digest), expected) << text.size() << " in pieces";
    }
}

}  // namespace
