// The revision lines before and after an update, the drive's decoded date and
// revision, and the checks that decide whether the image may go into the drive.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dialogue_expectations.h"
#include "messages/messages.h"
#include "test_support.h"
#include "tools/make-image/image_builder.h"
#include "transport/aspi_adapters.h"

namespace {

using expect::ERROR_STYLE;
using expect::INFO_STYLE;
const std::string INQUIRY_FAILED = expect::english(9);

class revision_test : public one_target_test {
  protected:
    void SetUp() override {
        one_target_test::SetUp();
        current_release = firmware_descriptor[0];
    }
    size_t inquiries() {
        size_t count = 0;
        for (const auto& record : host.drive(0).log()) count += record.cdb[0] == 0x12;
        return count;
    }
};

// --- report_revision, mode 0 ----------------------------------------------------------

struct current_case {
    const char* revision;
    char suffix;
    const char* date;
    const char* line;
    uint32_t drive_date;
    uint16_t drive_revision;
};

const current_case current_cases[] = {
    {"1.23", ' ', "08/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  08/07/25", 0x20080725, 0x0123},
    {"1.23", 'A', "08/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23A 08/07/25", 0x20080725, 0x0123},
    {"0001", ' ', "08/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  0001  08/07/25", 0, 0x0001},
    {"2.05", ' ', "2008/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  2.05  2008/07/25", 0x20080725,
     0x0205},
    {"0001", ' ', "2008/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  0001  2008/07/25", 0x20080725,
     0x0001},
    {"1.30", ' ', "10/12/31 extra", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.30  10/12/31", 0x20101231,
     0x0130},
    // The four-digit-year form is read as scanf reads "%04x/%02x/%02x".
    {"1.23", ' ', "2008/7/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  2008/7/25 ", 0x20080725, 0x0123},
    {"1.23", ' ', " 2008/7/5", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23   2008/7/5 ", 0x20080705, 0x0123},
    // Dates that do not convert whole are no date at all.
    {"1.23", ' ', "08/07/2x", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  08/07/2x", 0, 0x0123},
    {"1.23", ' ', "G8/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  G8/07/25", 0, 0x0123},
    {"1.23", ' ', "20X8/07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  20X8/07/25", 0, 0x0123},
    {"1.23", ' ', "2008-07-25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  2008-07-25", 0, 0x0123},
    {"1.23", ' ', "2008-07/25", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  2008-07/25", 0, 0x0123},
    {"1.23", ' ', "", "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23            ", 0, 0x0123},
};

TEST_F(revision_test, prints_the_current_revision_and_decodes_it) {
    for (const current_case& c : current_cases) {
        SCOPED_TRACE(std::string(c.revision) + " " + c.date);
        emu::drive_config config;
        config.revision = c.revision;
        config.revision_suffix = c.suffix;
        config.date = c.date;
        host.drives.clear();
        add_drive(config);
        host.console.clear();
        drive_date = 0xDEADBEEF;
        EXPECT_EQ(report_revision(0), 0);
        EXPECT_EQ(host.console, c.line);
        EXPECT_EQ(drive_date, c.drive_date);
        EXPECT_EQ(drive_revision, c.drive_revision);
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(host.open_handles(), 0);
    }
}

// --- report_revision, mode 1 ----------------------------------------------------------

struct new_case {
    const char* product;
    const char* date;
    const char* line;
};

const new_case new_cases[] = {
    {"DVD-RW  KWR-322 ", "09/01/15", "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  1.23  09/01/15"},
    {"DVD-RW  KWR-322D", "2009/01/15", "\nNew Revision    >> QUARLEN DVD-RW  KWR-322D 1.23  2009/01/"},
    {"DVD+RW  KWR-322 ", "2009/01/15", "\nNew Revision    >> QUARLEN DVD+RW  KWR-322  1.23  2009/01/15"},
    {"dvd-rw  KWR-322 ", "09/01/15", "\nNew Revision    >> QUARLEN dvd-rw  KWR-322  1.23  09/01/15  "},
};

TEST_F(revision_test, prints_the_new_revision_with_as_many_date_characters_as_the_model_shows) {
    for (const new_case& c : new_cases) {
        SCOPED_TRACE(c.product);
        emu::drive_config config;
        config.product = c.product;
        config.date = c.date;
        host.drives.clear();
        add_drive(config);
        host.console.clear();
        drive_date = 0x20080725;
        drive_revision = 0x0123;
        EXPECT_EQ(report_revision(1), 0);
        EXPECT_EQ(host.console, c.line);
        EXPECT_EQ(drive_date, 0u);  // nothing is decoded after the update
        EXPECT_EQ(drive_revision, 0x0123);
    }
}

TEST_F(revision_test, a_failed_inquiry_before_the_update_is_told_at_once_on_the_console_only) {
    emu::drive_config config;
    config.injected.push_back({1, emu::fault_kind::check_condition, 0x02, 0x04, 0x01});
    add_drive(config);
    EXPECT_NE(report_revision(0), 0);
    EXPECT_EQ(host.console, INQUIRY_FAILED);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(host.waits.empty());
    EXPECT_EQ(inquiries(), 1u);
}

// After the re-flash a drive that does not answer yet is asked again, on every
// route, up to six more times 3000 ms apart.
TEST_F(revision_test, after_the_update_a_drive_still_restarting_is_asked_again) {
    for (uint32_t failures : {2u, 7u}) {
        SCOPED_TRACE(failures);
        emu::drive_config config;
        for (uint32_t i = 1; i <= failures; ++i) config.injected.push_back({i, emu::fault_kind::check_condition, 0x02, 0x04, 0x01});
        host.drives.clear();
        add_drive(config);
        host.console.clear();
        host.waits.clear();
        const bool answers = failures <= 6;
        EXPECT_EQ(report_revision(1) == 0, answers);
        EXPECT_EQ(host.console, answers ? "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  1.23  08/07/25" : INQUIRY_FAILED);
        EXPECT_EQ(host.waits.size(), std::min<size_t>(failures, 6));
        for (uint32_t wait : host.waits) EXPECT_EQ(wait / 10, 300u);
        EXPECT_EQ(inquiries(), std::min<size_t>(failures + 1, 7));
    }
}

// The drive on Windows 9x behind the Intel IDE driver, reached through ASPI.
class intel_ide_test : public revision_test {
  protected:
    void SetUp() override {
        revision_test::SetUp();
        as_windows_9x(host, {{"intelata"}});
        win9x_family = 1;
        target_table[0] = {0, 0, 0};
    }
    void start(int failures) {
        emu::drive_config config;
        // The Intel driver lets a NOT READY INQUIRY pass; a hardware error it does not.
        for (int i = 1; i <= failures; ++i) config.injected.push_back({uint32_t(i), emu::fault_kind::check_condition});
        host.add_drive_at_address(0, 0, config);
        ASSERT_EQ(aspi_start(), 0);
        ASSERT_EQ(intel_ide_driver, 1);
        host.console.clear();
    }
    void TearDown() override {
        aspi_stop();
        revision_test::TearDown();
    }
};

TEST_F(intel_ide_test, waits_for_a_drive_that_is_still_restarting) {
    start(2);
    EXPECT_EQ(report_revision(1), 0);
    EXPECT_EQ(host.console, "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  1.23  08/07/25");
    ASSERT_EQ(host.waits.size(), 2u);
    EXPECT_GE(host.waits[0], 3000u);
    EXPECT_LT(host.waits[0], 3010u);
    EXPECT_GE(host.waits[1], 3000u);
    EXPECT_EQ(inquiries(), 3u);
}

TEST_F(intel_ide_test, gives_up_after_six_more_tries) {
    start(7);
    EXPECT_NE(report_revision(1), 0);
    EXPECT_EQ(host.console, INQUIRY_FAILED);
    EXPECT_EQ(host.waits.size(), 6u);
    EXPECT_EQ(inquiries(), 7u);
}

TEST_F(intel_ide_test, waits_only_after_the_update) {
    start(2);
    EXPECT_NE(report_revision(0), 0);
    EXPECT_EQ(host.console, INQUIRY_FAILED);
    EXPECT_TRUE(host.waits.empty());
    EXPECT_EQ(inquiries(), 1u);
}

// --- check_compatibility --------------------------------------------------------------

class compatibility_test : public revision_test {
  protected:
    void SetUp() override {
        revision_test::SetUp();
        image.vendor_product = "QUARLEN DVD-RW  KWR-322 ";
        image.size = 0x1000;
        // The image is newer than the drive unless a case says otherwise.
        image_date = 0x20090101;
        image_version = 0x0128;
        drive_date = 0x20080725;
        drive_revision = 0x0123;
    }
    void TearDown() override {
        image_buffer = {};
        revision_test::TearDown();
    }
    int check(const emu::drive_config& config, int full = 1) {
        bytes_of_image = build_image(image);
        image_buffer.address = bytes_of_image.data();
        image_buffer.size = static_cast<uint32_t>(bytes_of_image.size());
        // The header as a load reads it, with the case's own date and version.
        const uint32_t date = image_date;
        const uint16_t version = image_version;
        loaded_header = decode_image_header(bytes_of_image.data());
        image_date = date;
        image_version = version;
        host.drives.clear();
        add_drive(config);
        host.console.clear();
        host.boxes.clear();
        return check_compatibility(full, update_all);
    }

    image_fields image;
    std::vector<uint8_t> bytes_of_image;
};

struct refusal_case {
    const char* name;
    const char* hardware_revision;
    const char* signature;
    const char* update_vendor;
    int result;
    const char* console;
};

const char* const HARDWARE = "\nHardware Revision is not matched.";
const char* const KERNEL = "\r\nModel name of kernel part is not macthed.";
const char* const NORMAL = "\nModel name of normal part is not matched.";

const refusal_case refusal_cases[] = {
    {"all match", "ATAPI123", "QUA_ADV ", "QUA_ADV ", 0, ""},
    {"hardware revision first", "ATAPI124", "PARVEL  ", "PARVEL  ", -1, HARDWARE},
    {"hardware revision, last byte", "ATAPI12 ", "QUA_ADV ", "QUA_ADV ", -1, HARDWARE},
    {"signature before update vendor", "ATAPI123", "PARVEL  ", "PARVEL  ", -1, KERNEL},
    {"signature only", "ATAPI123", "CORVIN  ", "QUA_ADV ", -1, KERNEL},
    {"update vendor", "ATAPI123", "QUA_ADV ", "PARVEL2 ", -1, NORMAL},
    {"signature KESTO", "ATAPI123", "KESTO   ", "QUA_ADV ", 0, ""},
    {"signature GENERAL", "ATAPI123", "GENERAL ", "QUA_ADV ", 0, ""},
    {"update vendor KESTO", "ATAPI123", "QUA_ADV ", "KESTO   ", 0, ""},
    {"update vendor GENERAL", "ATAPI123", "QUA_ADV ", "GENERAL ", 0, ""},
    {"signature kesto", "ATAPI123", "kesto   ", "QUA_ADV ", -1, KERNEL},
};

TEST_F(compatibility_test, refuses_in_its_order_and_each_refusal_once) {
    for (const refusal_case& c : refusal_cases) {
        SCOPED_TRACE(c.name);
        emu::drive_config config;
        config.hardware_revision = c.hardware_revision;
        config.signature = c.signature;
        config.update_vendor = c.update_vendor;
        EXPECT_EQ(check(config), c.result);
        EXPECT_EQ(host.console, c.console);
        ASSERT_EQ(host.boxes.size(), c.result == 0 ? 0u : 1u);
        if (c.result != 0) {
            EXPECT_EQ(host.boxes[0].style, ERROR_STYLE);
        }
        EXPECT_EQ(identity_state, 0);
    }
}

TEST_F(compatibility_test, the_image_names_the_signature_and_update_vendor_it_accepts) {
    image.image_vendor = "CORVIN  ";
    image.second_vendor = "PARVEL2 ";
    emu::drive_config config;
    config.signature = "CORVIN  ";
    config.update_vendor = "PARVEL2 ";
    EXPECT_EQ(check(config), 0);
    EXPECT_EQ(oem_code, 0x102);

    config.signature = "QUA_ADV ";
    EXPECT_EQ(check(config), -1);
    EXPECT_EQ(host.console, KERNEL);
}

TEST_F(compatibility_test, a_drive_in_its_update_firmware_stops_after_the_signature) {
    oem_code = 0x104;
    emu::drive_config config;
    config.starts_in_update_mode = true;  // blank update vendor
    config.signature = "GENERAL ";
    drive_date = image_date;  // would be up to date
    drive_revision = image_version;
    update_mode = 0;
    EXPECT_EQ(check(config), 0);
    EXPECT_EQ(identity_state, 1);
    EXPECT_EQ(update_mode, 1);
    EXPECT_EQ(oem_code, 0x104);
    EXPECT_EQ(host.console, "");

    config.signature = "PARVEL  ";
    EXPECT_EQ(check(config), -1);
    EXPECT_EQ(host.console, KERNEL);
}

TEST_F(compatibility_test, a_partial_check_stops_after_the_signature) {
    oem_code = 0x121;
    emu::drive_config config;
    config.update_vendor = "PARVEL  ";
    EXPECT_EQ(check(config, 0), 0);
    EXPECT_EQ(oem_code, 0x121);
    EXPECT_EQ(host.console, "");
}

TEST_F(compatibility_test, an_unreadable_identity_block_is_told_by_message_0) {
    emu::drive_config config;
    config.identity_readable = false;
    int result = check(config);
    EXPECT_NE(result, 0);
    EXPECT_NE(result, 1);
    EXPECT_EQ(host.console, expect::english(0));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].style, ERROR_STYLE);
    EXPECT_EQ(identity_state, -1);
}

struct latest_case {
    const char* name;
    uint32_t drive_date;
    uint16_t drive_revision;
    int result;
};

const latest_case latest_cases[] = {
    {"equal date and version", 0x20090101, 0x0128, 1},
    {"newer in both", 0x20090102, 0x0129, 1},
    {"one day newer, one step older", 0x20090102, 0x0127, 0},
    {"one day older, one step newer", 0x20081231, 0x0129, 0},
    {"older in both", 0x20080725, 0x0123, 0},
    {"no date decoded", 0, 0x0999, 0},
};

TEST_F(compatibility_test, finds_a_drive_up_to_date_only_when_neither_is_older) {
    for (int all : {1, 0}) {
        for (const latest_case& c : latest_cases) {
            SCOPED_TRACE(std::string(c.name) + (all ? ", all drives" : ", asked per drive"));
            update_all = all;
            drive_date = c.drive_date;
            drive_revision = c.drive_revision;
            oem_code = 0x777;
            EXPECT_EQ(check(emu::drive_config{}), c.result);
            if (c.result == 1) {
                EXPECT_EQ(host.console, "\r\nFW is already latest.");
                ASSERT_EQ(host.boxes.size(), all ? 0u : 1u);
                if (!all) {
                    EXPECT_EQ(host.boxes[0].style, INFO_STYLE);
                }
                EXPECT_EQ(oem_code, 0x777);
            } else {
                EXPECT_EQ(host.console, "");
                EXPECT_TRUE(host.boxes.empty());
                EXPECT_EQ(oem_code, -1);  // "QUA_ADV " has no OEM class
            }
        }
    }
}

struct oem_case {
    const char* signature;
    const char* hardware_revision;
    int oem_class;
};

const oem_case oem_cases[] = {
    {"GENERAL ", "SCSI0001", 0x300}, {"GENERAL ", "ATAPI123", 0x100}, {"GENERAL ", "scsi0001", 0x100},
    {"ORBEL   ", "ATAPI123", 0x104}, {"ORBELJP ", "ATAPI123", 0x108}, {"TAMSIN  ", "ATAPI123", 0x101},
    {"TAMSINLX", "ATAPI123", 0x111}, {"VELLOR  ", "ATAPI123", 0x103}, {"BRISKA  ", "ATAPI123", 0x115},
    {"CORVIN  ", "ATAPI123", 0x102}, {"ZEMLA   ", "ATAPI123", 0x121}, {"ORBEL   ", "SCSI0001", 0x104},
    {"QUA_ADV ", "ATAPI123", -1},    {"KESTO   ", "SCSI0001", -1},    {"ORBEL  X", "ATAPI123", -1},
};

TEST_F(compatibility_test, sets_the_oem_class_of_the_signature) {
    for (const oem_case& c : oem_cases) {
        SCOPED_TRACE(std::string(c.signature) + c.hardware_revision);
        image.hardware_revision = c.hardware_revision;
        image.image_vendor = c.signature;  // so that every signature is accepted
        emu::drive_config config;
        config.hardware_revision = c.hardware_revision;
        config.signature = c.signature;
        oem_code = 0x777;
        EXPECT_EQ(check(config), 0);
        EXPECT_EQ(oem_code, c.oem_class);
    }
}

}  // namespace
