// Whole runs of the updater against emulated drives: the road of one drive from
// identification to its new revision, every way the procedure ends early, and
// the target loop around it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <streambuf>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/make-image/image_builder.h"
#include "dialogue_expectations.h"
#include "drive_expectations.h"
#include "update/update.h"

namespace {

using namespace expect;

const std::string START_1 = "\r\nStart updating the device No.1.";
const std::string CURRENT_123 = "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.23  08/07/25";
const std::string SIGNATURE_QUA = "\nCurrent Signature = QUA_ADV ";
const std::string UPDATING = english(61);
const std::string NEW_128 = "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  1.28  08/07/25";
const std::string NEW_000 = "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  000   08/07/25";
const std::string SUCCESS = english(12);
const std::string STOPPED = english(36);
const std::string COMPLETED = english(35);
const std::string QUESTION_82 =
    "\r\nDo you want to update the F/W\r\nFrom : QUARLEN DVD-RW  KWR-322  1.23  (2008/07/25)"
    "\r\nTo : QUARLEN DVD-RW  KWR-322  1.28  (2008/07/25)";
const std::string QUESTION_47 = english(47);

std::vector<std::string> cdbs(const emu::virtual_drive& drive) {
    std::vector<std::string> out;
    for (const emu::command_record& r : drive.log()) out.push_back(hex(r.cdb));
    return out;
}

std::vector<std::string> all_blocks(int count) {
    std::vector<std::string> out;
    for (int k = 0; k < count; ++k) out.push_back(block_cdb(uint32_t(k) * 0x8000, 0x8000));
    return out;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Enumeration's two probes, identification, the revision and the compatibility check.
const std::vector<std::string> UP_TO_CHECKS = {INQUIRY, IDENTITY, INQUIRY, IDENTITY, INQUIRY, IDENTITY};

// Calls `act` once, when a message box with `needle` in its text is echoed.
class box_hook : public std::streambuf {
  public:
    box_hook(std::string needle, std::function<void()> act) : needle_(std::move(needle)), act_(std::move(act)) {}

  protected:
    int overflow(int c) override {
        if (c != EOF) seen_ += static_cast<char>(c);
        check();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        seen_.append(s, static_cast<size_t>(n));
        check();
        return n;
    }

  private:
    void check() {
        if (!done_ && seen_.find(needle_) != std::string::npos) {
            done_ = true;
            act_();
        }
    }
    std::string needle_;
    std::function<void()> act_;
    std::string seen_;
    bool done_ = false;
};

class update_run : public sim_folder_test {
  protected:
    void put_image(const image_fields& fields = {}) {
        ASSERT_TRUE(write_image_file(dir + "/A0013431.128", fields));
    }
    void use_9x_with_intel_driver() { as_windows_9x(host, {{"intelata"}}); }
    int run() { return updater_main(0, nullptr); }
    // Box `i`, or an empty record and a failure when fewer boxes were shown.
    const sim::box_record& box(size_t i) {
        static const sim::box_record none{};
        if (i >= host.boxes.size()) {
            ADD_FAILURE() << "no box " << i << " of " << host.boxes.size();
            return none;
        }
        return host.boxes[i];
    }
    const sim::box_record& last_box() { return box(host.boxes.size() - 1); }
    std::vector<std::string> box_texts() const {
        std::vector<std::string> out;
        for (const sim::box_record& b : host.boxes) out.push_back(b.text);
        return out;
    }

};

// --- the whole update -------------------------------------------------------

using update_drive_run = update_run;

TEST_F(update_drive_run, one_drive_is_updated_end_to_end) {
    put_image();
    host.add_drive_at_letter('E');
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING + progress(64) + COMPLETE +
                                NEW_128 + SUCCESS + COMPLETED);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(box(0).caption, "TORVAL");
    EXPECT_EQ(box(0).style, QUESTION_STYLE);
    EXPECT_EQ(box(0).text, QUESTION_82);
    EXPECT_EQ(box(1).style, INFO_STYLE);
    EXPECT_EQ(box(1).text, COMPLETED);

    const emu::virtual_drive& drive = host.drive(0);
    EXPECT_EQ(cdbs(drive), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(drive.flashed_image(), build_image(image_fields{}));
    EXPECT_EQ(drive.reported_revision(), "1.28");
    EXPECT_FALSE(drive.in_update_mode());
    // Entry pause, pause before the entry check, pause after the leave command, pause after the drive.
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000, 2000}));
    EXPECT_EQ(host.live_global_blocks(), 0);
}

TEST_F(update_drive_run, commands_carry_their_time_outs_and_mode_blocks) {
    put_image();
    host.add_drive_at_letter('E');
    host.cfg.answers = {IDYES};
    ASSERT_EQ(run(), 0);

    const auto& log = host.drive(0).log();
    ASSERT_EQ(log.size(), 76u);
    // Stopping the unit leaves no time-out, which pass-through turns into 60 s.
    EXPECT_EQ(log[6].timeout_ms, 60000u);
    EXPECT_EQ(log[7].timeout_ms, 60000u);
    EXPECT_EQ(log[8].timeout_ms, 10000u);
    EXPECT_EQ(log[9].timeout_ms, 5000u);
    for (size_t i = 10; i < 74; ++i) {
        EXPECT_EQ(log[i].timeout_ms, 20000u) << i;
        EXPECT_EQ(log[i].direction, emu::DIR_OUT) << i;
        EXPECT_EQ(log[i].data_length, 0x8000u) << i;
    }
    EXPECT_EQ(log[74].timeout_ms, 180000u);
    EXPECT_EQ(command_timeout_ms, 5000);

    // "QUARLEN  KWR-322", access code 0x5E3A91C4 plus 4 both ways for this signature.
    std::vector<uint8_t> block(256, 0);
    const char model[] = "QUARLEN  KWR-322";
    std::copy(model, model + 16, block.begin());
    block[16] = 0xC8, block[17] = 0x91, block[18] = 0x3A, block[19] = 0x5E;
    EXPECT_EQ(log[8].data_out, block);
    EXPECT_EQ(log[74].data_out, block);
}

TEST_F(update_drive_run, nine_x_host_with_intel_driver_waits_its_own_way) {
    put_image();
    use_9x_with_intel_driver();
    host.add_drive_at_address(0, 0);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    // No pause after the entry command, a 5000 ms settle wait after the leave command.
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{1000, 3000, 5000, 2000}));
    std::string last_blocks = "\rProcessing 96%\rProcessing 100%\r\nNow internal rebooting with new firmware....";
    EXPECT_NE(host.console.find(last_blocks + NEW_128 + SUCCESS + COMPLETED), std::string::npos) << host.console;
    EXPECT_EQ(host.console.find("Data transfer complete"), std::string::npos);
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
}

TEST_F(update_drive_run, drive_already_in_update_firmware_gets_the_image_at_once) {
    put_image();
    emu::drive_config config;
    config.starts_in_update_mode = true;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{3000, 2000}));
    EXPECT_NE(host.console.find("\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  000   08/07/25"), std::string::npos);
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
}

TEST_F(update_drive_run, scsi_general_drive_gets_a_longer_pause_and_a_ready_test_after_leaving) {
    image_fields fields;
    fields.hardware_revision = "SCSI0123";
    put_image(fields);
    emu::drive_config config;
    config.signature = "GENERAL ";
    config.hardware_revision = "SCSI0123";
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(oem_code, 0x300);
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 5000, 2000}));
    EXPECT_EQ(cdbs(host.drive(0)),
              join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, READY, INQUIRY}}));
    // "GENERAL " enters with the access code plus 5 and leaves with plus 4.
    const auto& log = host.drive(0).log();
    EXPECT_EQ(access_value(item(log, 8)), "C9 91 3A 5E");
    EXPECT_EQ(access_value(item(log, 74)), "C8 91 3A 5E");
}

// --- identification, image, revision and compatibility ---------------------

struct identification_case {
    const char* name;
    uint32_t command;  // 3: identification's INQUIRY, 4: its identity block read
    emu::fault_kind kind;
    std::string message;
};

class update_drive_identification : public update_run,
                                    public ::testing::WithParamInterface<identification_case> {};

TEST_P(update_drive_identification, failure_leaves_the_drive_alone_and_the_run_goes_on) {
    const identification_case& c = GetParam();
    put_image();
    emu::drive_config config;
    emu::injected_fault fault;
    fault.command_number = c.command;
    fault.kind = c.kind;
    config.injected = {fault};
    host.add_drive_at_letter('E', config);
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDYES};  // to message 31

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(host.drive(0).log().size(), c.command);
    EXPECT_EQ(host.console.substr(0, BANNER.size() + START_1.size() + c.message.size()),
              BANNER + START_1 + c.message);
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(box(1).style, ERROR_STYLE);
    EXPECT_EQ(box(1).text, c.message);
    EXPECT_EQ(box(2).text, "\r\n1drive(s) have been updated successfully.");
    EXPECT_EQ(host.drive(1).reported_revision(), "1.28");
}

INSTANTIATE_TEST_SUITE_P(
    steps, update_drive_identification,
    ::testing::Values(
        identification_case{"inquiry_refused", 3, emu::fault_kind::check_condition,
                            english(9)},
        identification_case{"inquiry_lost", 3, emu::fault_kind::transport, english(9)},
        identification_case{"identity_refused", 4, emu::fault_kind::check_condition,
                            english(0)},
        identification_case{"identity_timed_out", 4, emu::fault_kind::timeout,
                            english(0)}),
    [](const auto& info) { return std::string(info.param.name); });

using update_drive_failures = update_run;

TEST_F(update_drive_failures, drive_that_cannot_be_opened_for_identification_ends_with_1) {
    put_image();
    host.add_drive_at_letter('E');
    init_firmware_descriptor();
    detect_host_environment(working_buffers_of_the_run());
    ASSERT_EQ(enumerate_targets(descriptor_rows()), 1);
    host.drives[0].vanished = true;  // unplugged after enumeration
    current_target = 0;

    loaded_image image;
    EXPECT_EQ(update_drive(descriptor_rows(), update_all, image, outcome_of_target(0)), 1);

    EXPECT_EQ(host.drive(0).log().size(), 2u);
    EXPECT_EQ(host.console, english(9));
    release_host_environment();
}

TEST_F(update_drive_failures, missing_image_stops_the_run) {
    host.add_drive_at_letter('E');
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 1);

    const std::string not_loaded = "\r\nFailed to load binary file.\r\n(File Name : A0013431.128)";
    EXPECT_EQ(host.console, BANNER + START_1 + not_loaded + STOPPED);
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{"\r\n2 target device(s) is found.\r\nDo you want to update all drives ?",
                                        not_loaded, STOPPED}));
    EXPECT_EQ(box(1).style, ERROR_STYLE);
    EXPECT_EQ(box(2).style, WARNING_STYLE);
    EXPECT_EQ(host.drive(0).log().size(), 4u);
    EXPECT_EQ(host.drive(1).log().size(), 2u);  // enumeration only
    EXPECT_EQ(host.live_global_blocks(), 0);
}

TEST_F(update_drive_failures, refused_image_shows_its_reason_then_message_11) {
    image_fields fields;
    fields.date = "08/07/24";
    put_image(fields);
    host.add_drive_at_letter('E');

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + "\r\nSelected file is too old fw file." +
                                "\r\nFailed to load binary file.\r\n(File Name : A0013431.128)" + STOPPED);
}

TEST_F(update_drive_failures, revision_read_failure_stops_the_run) {
    put_image();
    emu::drive_config config;
    config.injected = {sense_at(5, 0x04, 0x44, 0x00)};
    host.add_drive_at_letter('E', config);

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + english(9) + STOPPED);
    EXPECT_EQ(box_texts(), std::vector<std::string>{STOPPED});
    EXPECT_EQ(host.drive(0).log().size(), 5u);
}

TEST_F(update_drive_failures, refused_drive_is_skipped_and_the_next_one_updated) {
    put_image();
    emu::drive_config other_hardware;
    other_hardware.hardware_revision = "ATAPI999";
    host.add_drive_at_letter('E', other_hardware);
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(cdbs(host.drive(0)), UP_TO_CHECKS);
    EXPECT_EQ(box(1).text, "\nHardware Revision is not matched.");
    EXPECT_EQ(host.drive(1).reported_revision(), "1.28");
    EXPECT_EQ(last_box().text, "\r\n1drive(s) have been updated successfully.");
}

TEST_F(update_drive_failures, up_to_date_drive_is_skipped_without_summary) {
    put_image();
    emu::drive_config latest;
    latest.revision = "1.28";
    host.add_drive_at_letter('E', latest);

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(host.console, BANNER + START_1 + "\nCurrent Revision>> QUARLEN DVD-RW  KWR-322  1.28  08/07/25" +
                                SIGNATURE_QUA + "\r\nFW is already latest.");
    // Alone, the drive is asked about: message 54 comes as an information box too.
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(box(0).style, INFO_STYLE);
    EXPECT_EQ(cdbs(host.drive(0)), UP_TO_CHECKS);
}

// --- the media check ----------------------------------------------------------

struct media_case {
    const char* name;
    bool disc_present;
    bool becoming_ready;
    std::vector<emu::injected_fault> faults;
    bool intel_driver;
    std::string message;  // empty: the drive is taken as empty and updated
    UINT box_style;       // 0: console only
    size_t ready_tests;   // TEST UNIT READY commands the check sends
};

class update_drive_media : public update_run, public ::testing::WithParamInterface<media_case> {};

// Unit attention for `count` commands in a row from command `first`.
std::vector<emu::injected_fault> unit_attentions(uint32_t first, uint32_t count) {
    std::vector<emu::injected_fault> faults;
    for (uint32_t n = first; n < first + count; ++n) faults.push_back(sense_at(n, 0x06, 0x29, 0x00));
    return faults;
}

TEST_P(update_drive_media, decides_by_the_ready_test_sense) {
    const media_case& c = GetParam();
    put_image();
    emu::drive_config config;
    config.disc_present = c.disc_present;
    config.becoming_ready = c.becoming_ready;
    config.injected = c.faults;
    if (c.intel_driver) host.cfg.registry_keys = {"SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"};
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    std::string before = c.intel_driver ? "\r\nDetect the Intel's IDE driver." : "";
    std::vector<std::string> ready_tests(c.ready_tests, READY);
    if (c.message.empty()) {
        EXPECT_EQ(cdbs(host.drive(0)).size(), 75u + c.ready_tests);
        EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
        EXPECT_EQ(last_box().text, COMPLETED);
    } else {
        EXPECT_EQ(host.console, BANNER + before + START_1 + CURRENT_123 + SIGNATURE_QUA + c.message);
        EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP}, ready_tests}));
        ASSERT_EQ(host.boxes.size(), c.box_style ? 1u : 0u);
        if (c.box_style) {
            EXPECT_EQ(box(0).style, c.box_style);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    senses, update_drive_media,
    ::testing::Values(
        media_case{"disc_present", true, false, {}, false, "\nDisc is inserted into DVD-RW.\nPlease eject a disc.",
                   INFO_STYLE, 1},
        media_case{"becoming_ready", false, true, {}, false,
                   "\nError : Drive is now becoming ready.\nPlease eject the disc", 0, 1},
        media_case{"other_sense", false, false, {sense_at(8, 0x03, 0x11, 0x00)}, false,
                   "\nError : Unknown Error is occurred.", 0, 1},
        media_case{"not_ready_asc_04_without_02", false, false, {sense_at(8, 0x02, 0x04, 0x03)}, false,
                   "\nError : Unknown Error is occurred.", 0, 1},
        media_case{"empty_sense_without_intel_driver", false, false, {sense_at(8, 0, 0, 0)}, false,
                   "\nError : Unknown Error is occurred.", 0, 1},
        media_case{"not_ready_initializing", false, false, {sense_at(8, 0x02, 0x04, 0x02)}, false, "", 0, 1},
        media_case{"empty_sense_with_intel_driver", false, false, {sense_at(8, 0, 0, 0)}, true, "", 0, 1},
        // A ready test that never reached the drive brings no sense, which must
        // not read as the Intel driver's empty drive: a disc may be in it.
        media_case{"lost_ready_test_with_intel_driver", true, false, {lost_at(8, emu::fault_kind::transport)}, true,
                   "\nError : Unknown Error is occurred.", 0, 1},
        media_case{"timed_out_ready_test_with_intel_driver", true, false, {lost_at(8, emu::fault_kind::timeout)},
                   true, "\nError : Unknown Error is occurred.", 0, 1},
        media_case{"unit_attention_three_times",
                   false,
                   false,
                   {sense_at(8, 0x06, 0x29, 0x00), sense_at(9, 0x06, 0x29, 0x00), sense_at(10, 0x06, 0x28, 0x00)},
                   false,
                   "",
                   0,
                   4},
        // A drive that never stops reporting it is given up after twenty.
        media_case{"unit_attention_nineteen_times", false, false, unit_attentions(8, 19), false, "", 0, 20},
        media_case{"unit_attention_twenty_times", false, false, unit_attentions(8, 20), false,
                   "\nError : Unknown Error is occurred.", 0, 20},
        media_case{"unit_attention_then_disc",
                   true,
                   false,
                   {sense_at(8, 0x06, 0x29, 0x00), sense_at(9, 0x06, 0x29, 0x00)},
                   false,
                   "\nDisc is inserted into DVD-RW.\nPlease eject a disc.",
                   INFO_STYLE,
                   3}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the question, the entry, the transfer and the leave command --------------

TEST_F(update_drive_failures, no_to_the_update_question_leaves_the_drive_untouched) {
    put_image();
    host.add_drive_at_letter('E');
    host.cfg.answers = {IDNO};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA);
    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY}}));
    EXPECT_EQ(box_texts(), std::vector<std::string>{QUESTION_82});
    EXPECT_TRUE(host.drive(0).flashed_image().empty());
}

// Only a Yes flashes the drive and only a No declines it: a box that could
// not be shown (0) and Wine's answer without a display (-1) are nobody's
// answer, and the run ends there.
TEST_F(update_drive_failures, only_yes_flashes_and_only_no_declines) {
    put_image();
    host.add_drive_at_letter('E');
    for (auto [answer, result] : {std::pair{IDNO, 7}, {0, RUN_ABANDONED}, {-1, RUN_ABANDONED}}) {
        SCOPED_TRACE(answer);
        host.cfg.answers = {answer};
        host.next_answer_ = 0;
        init_firmware_descriptor();
        detect_host_environment(working_buffers_of_the_run());
        ASSERT_EQ(enumerate_targets(descriptor_rows()), 1);
        current_target = 0;
        loaded_image image;
        EXPECT_EQ(update_drive(descriptor_rows(), update_all, image, outcome_of_target(0)), result);
        release_host_environment();
        EXPECT_EQ(last(cdbs(host.drive(0))), READY);
    }
}

TEST_F(update_drive_failures, refused_entry_stops_the_run) {
    put_image();
    emu::drive_config config;
    config.refuse_entry = true;
    host.add_drive_at_letter('E', config);
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDNO, IDYES};  // No to updating all, Yes to the first drive
    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING +
                                english(14) + STOPPED);
    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER}}));
    EXPECT_EQ(host.drive(1).log().size(), 2u);
    EXPECT_TRUE(host.waits.empty());
}

TEST_F(update_drive_failures, failed_entry_check_stops_the_run) {
    put_image();
    emu::drive_config config;
    config.injected = {sense_at(10, 0x04, 0x44, 0x00)};
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING +
                                english(9) + STOPPED);
    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}}));
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000}));
}

TEST_F(update_drive_failures, refused_block_sends_no_leave_command_and_asks_to_retry) {
    put_image();
    emu::drive_config config;
    config.refuse_block = 5;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES, IDOK, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING + progress(6) +
                                english(42) + NEW_000 + STOPPED);
    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(6), {INQUIRY}}));
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, english(42),
                                                     QUESTION_47, STOPPED}));
    EXPECT_EQ(box(1).style, ERROR_STYLE);
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000}));
}

// On a 9x host with the Intel driver a drive still in its update firmware is
// told once more to leave it, but not after a refused block: that would make
// it re-flash an incomplete image.
TEST_F(update_drive_failures, refused_block_on_9x_with_intel_driver_gets_no_leave_command_either) {
    put_image();
    use_9x_with_intel_driver();
    emu::drive_config config;
    config.refuse_block = 5;
    host.add_drive_at_address(0, 0, config);
    host.cfg.answers = {IDYES, IDOK, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(6), {INQUIRY}}));
    EXPECT_EQ(host.drive(0).reflash_count(), 0u);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, english(42),
                                                     QUESTION_47, STOPPED}));
}

// A drive that comes back in firmware other than the image's did not take the
// update, however it got there: told once with message 42, and the run stops.
struct other_firmware_case {
    const char* name;
    std::function<void(emu::drive_config&)> set_up;
    std::string tail;  // console after the update message
};

class update_drive_other_firmware : public update_run, public ::testing::WithParamInterface<other_firmware_case> {};

TEST_P(update_drive_other_firmware, is_a_failed_update_not_a_success) {
    put_image();
    emu::drive_config config;
    GetParam().set_up(config);
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING + GetParam().tail + STOPPED);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, english(42), STOPPED}));
    EXPECT_EQ(last(cdbs(host.drive(0))), INQUIRY);
}

const std::string NEW_123 = "\nNew Revision    >> QUARLEN DVD-RW  KWR-322  1.23  08/07/25";

INSTANTIATE_TEST_SUITE_P(
    drives, update_drive_other_firmware,
    ::testing::Values(
        other_firmware_case{"refused_block_then_old_firmware",
                            [](emu::drive_config& c) {
                                c.refuse_block = 5;
                                c.refused_block_restarts = true;
                            },
                            progress(6) + english(42) + NEW_123},
        other_firmware_case{"refused_leave_then_old_firmware",
                            [](emu::drive_config& c) {
                                c.refuse_leave = true;
                                c.refused_leave_restarts = true;
                            },
                            progress(64) + COMPLETE + english(15) + NEW_123 + english(42)},
        // Still in update firmware, with an answer too short to hold the revision.
        other_firmware_case{"short_answer_after_restart",
                            [](emu::drive_config& c) {
                                c.stay_in_update_mode = true;
                                c.inquiry_length_after_restart = 32;
                            },
                            progress(64) + COMPLETE + "\nNew Revision    >> QUARLEN DVD-RW  KWR-322   " + english(42)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(update_drive_failures, scsi_general_drive_on_nt_is_excused_a_lost_leave_answer) {
    image_fields fields;
    fields.hardware_revision = "SCSI0123";
    put_image(fields);
    emu::drive_config config;
    config.signature = "GENERAL ";
    config.hardware_revision = "SCSI0123";
    config.refuse_leave = true;
    config.refuse_leave_after_reflash = true;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(host.console.find(english(15)), std::string::npos);
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 5000, 2000}));
    EXPECT_EQ(cdbs(host.drive(0)).size(), 77u);
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
}

struct firewire_case {
    const char* name;
    uint8_t key;
    bool excused;
};

class update_drive_firewire : public update_run, public ::testing::WithParamInterface<firewire_case> {};

TEST_P(update_drive_firewire, leave_failure_with_not_ready_or_unit_attention_is_excused) {
    const firewire_case& c = GetParam();
    put_image();
    emu::drive_config config;
    config.refuse_leave = true;
    config.refuse_leave_key = c.key;
    config.refuse_leave_after_reflash = true;
    host.add_drive_at_letter('E', config).address_error = ERROR_NOT_SUPPORTED;
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    const auto& log = host.drive(0).log();
    ASSERT_EQ(log.size(), 76u);
    EXPECT_EQ(hex(log[74].cdb), LEAVE);
    EXPECT_EQ(log[74].timeout_ms, 180000u);  // the model's whole re-flash time behind IEEE 1394 too
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
    if (c.excused) {
        EXPECT_EQ(host.console.find(english(15)), std::string::npos);
        EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000, 5000, 2000}));
    } else {
        EXPECT_NE(host.console.find(COMPLETE + english(15) + NEW_128), std::string::npos);
        EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 5000, 2000}));
    }
}

INSTANTIATE_TEST_SUITE_P(keys, update_drive_firewire,
                         ::testing::Values(firewire_case{"not_ready", 0x02, true},
                                           firewire_case{"unit_attention", 0x06, true},
                                           firewire_case{"illegal_request", 0x05, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a drive that stays in its update firmware --------------------------------

// A drive still in its update firmware after the re-flash (a refused leave
// command does not end the procedure) is offered the retry; No stops the run.
struct still_in_update_case {
    const char* name;
    bool refuse_leave;  // else the drive re-flashes and restarts into its update firmware
    std::string leave_told;
    std::vector<uint32_t> waits;  // a refused leave command: no pause after it, its own settle wait
};

class update_drive_still_in_update : public update_run, public ::testing::WithParamInterface<still_in_update_case> {};

TEST_P(update_drive_still_in_update, no_to_retry_stops_the_run) {
    const still_in_update_case& c = GetParam();
    put_image();
    emu::drive_config config;
    config.refuse_leave = c.refuse_leave;
    config.stay_in_update_mode = !c.refuse_leave;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.console, BANNER + START_1 + CURRENT_123 + SIGNATURE_QUA + UPDATING + progress(64) + COMPLETE +
                                c.leave_told + NEW_000 + STOPPED);
    EXPECT_EQ(cdbs(host.drive(0)),
              join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(host.waits, c.waits);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47, STOPPED}));
    EXPECT_EQ(box(1).style, QUESTION_STYLE);
}

INSTANTIATE_TEST_SUITE_P(drives, update_drive_still_in_update,
                         ::testing::Values(still_in_update_case{"refused_leave", true, english(15), {2000, 1000, 2000}},
                                           still_in_update_case{"restarted_in_update_firmware", false, "",
                                                                {2000, 1000, 3000}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(update_drive_failures, still_in_update_mode_yes_reloads_the_image_and_runs_the_whole_pass_again) {
    put_image();
    emu::drive_config config;
    config.stay_in_update_mode = true;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES, IDYES, IDYES, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47,
                                                     "\r\nDo you want to update the F/W\r\nFrom : QUARLEN DVD-RW  "
                                                     "KWR-322  000   (2008/07/25)\r\nTo : QUARLEN DVD-RW  KWR-322  "
                                                     "1.28  (2008/07/25)",
                                                     QUESTION_47, STOPPED}));
    // The second pass finds the drive in its update firmware and sends no entry command.
    std::vector<std::string> pass = join({{INQUIRY, IDENTITY, STOP, READY}, all_blocks(64), {LEAVE, INQUIRY}});
    EXPECT_EQ(cdbs(host.drive(0)),
              join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}, pass}));
    EXPECT_EQ(host.drive(0).flashed_image(), build_image(image_fields{}));
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000, 3000}));
}

// The retry reloads the image: bytes other than the first read's stop the run
// before the drive receives any of them.
TEST_F(update_drive_failures, retry_with_a_changed_image_stops_before_the_drive_receives_it) {
    put_image();
    emu::drive_config config;
    config.stay_in_update_mode = true;
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES, IDYES, IDYES};
    image_fields second;
    second.seed = 2;
    box_hook hook("Do you retry", [&] { put_image(second); });
    std::ostream echo(&hook);
    host.box_echo = &echo;

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47,
                                                     "\r\nFailed to load binary file.\r\n(File Name : A0013431.128)",
                                                     STOPPED}));
    EXPECT_EQ(host.notices, (std::vector<std::string>{"odd-fwupdate: the image file A0013431.128 changed during the "
                                                      "run; the run stops before the drive receives it\n"}));
    host.box_echo = nullptr;
}

// The identity block alone says update firmware while the INQUIRY answer shows
// the normal one: the switch is sent all the same.
TEST_F(update_drive_failures, blank_update_vendor_with_a_normal_revision_gets_the_switch) {
    put_image();
    emu::drive_config config;
    config.update_vendor = "        ";
    host.add_drive_at_letter('E', config);
    host.cfg.answers = {IDYES, IDOK};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
}

TEST_F(update_drive_failures, still_in_update_mode_on_9x_with_intel_driver_leaves_again_before_asking) {
    put_image();
    use_9x_with_intel_driver();
    emu::drive_config config;
    config.stay_in_update_mode = true;
    host.add_drive_at_address(0, 0, config);
    host.cfg.answers = {IDYES, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(cdbs(host.drive(0)),
              join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY, LEAVE}}));
    // The restarted drive has no image to re-flash and refuses the second leave
    // command: no pause after it, only the settle wait.
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{1000, 3000, 5000, 5000}));
    const std::string tail = NEW_000 + english(15) + STOPPED;
    EXPECT_EQ(host.console.substr(host.console.size() - tail.size()), tail);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47, STOPPED}));
}

// The Intel driver's habit of failing commands with NOT READY is not excused for
// an INQUIRY: it brought no answer, so the revision read is tried again after
// 3000 ms instead of reading an empty answer as a new revision.
TEST_F(update_drive_failures, restarting_drive_on_9x_with_intel_driver_is_asked_again_not_taken_as_updated) {
    put_image();
    use_9x_with_intel_driver();
    emu::drive_config config;
    config.stay_in_update_mode = true;
    config.inquiry_failures_after_restart = 2;
    host.add_drive_at_address(0, 0, config);
    host.cfg.answers = {IDYES, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(cdbs(host.drive(0)), join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64),
                                         {LEAVE, INQUIRY, INQUIRY, INQUIRY, LEAVE}}));
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{1000, 3000, 5000, 3000, 3000, 5000}));
    EXPECT_EQ(host.console.find(SUCCESS), std::string::npos);
    EXPECT_NE(host.console.find(NEW_000), std::string::npos);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47, STOPPED}));
}

TEST_F(update_drive_failures, still_in_update_mode_on_9x_without_intel_driver_asks_at_once) {
    put_image();
    as_windows_9x(host, {{"ESDI_506"}});
    emu::drive_config config;
    config.stay_in_update_mode = true;
    host.add_drive_at_address(0, 0, config);
    host.cfg.answers = {IDYES, IDNO};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(cdbs(host.drive(0)),
              join({UP_TO_CHECKS, {STOP, READY, ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}));
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000}));
    EXPECT_EQ(box_texts(), (std::vector<std::string>{QUESTION_82, QUESTION_47, STOPPED}));
}

// --- the update window -----------------------------------------------------------

// A window as the platform saw it: the drive's commands inside it, and what it
// was told at the close.
struct window_seen {
    std::vector<std::string> commands;
    int left_in_update_firmware;
};

struct window_case {
    const char* name;
    bool nine_x_intel;  // the ASPI route, where the drive has no device path
    std::function<void(emu::drive_config&)> set_up;
    std::vector<int> answers;
    std::vector<window_seen> windows;
};

class update_drive_window : public update_run, public ::testing::WithParamInterface<window_case> {};

// The window opens right before the entry command (or the first block of a
// drive already in its update firmware) and closes after the new revision is
// judged, on every way the pass ends.
TEST_P(update_drive_window, spans_the_switch_to_the_judged_revision) {
    const window_case& c = GetParam();
    put_image();
    emu::drive_config config;
    c.set_up(config);
    if (c.nine_x_intel) {
        use_9x_with_intel_driver();
        host.add_drive_at_address(0, 0, config);
    } else {
        host.add_drive_at_letter('E', config);
    }
    host.cfg.answers = c.answers;

    run();

    const std::vector<std::string> sent = cdbs(host.drive(0));
    ASSERT_EQ(host.update_windows.size(), c.windows.size());
    for (size_t i = 0; i < c.windows.size(); ++i) {
        const sim::update_window& w = host.update_windows[i];
        EXPECT_EQ(w.device, c.nine_x_intel ? "" : "\\\\.\\E:") << i;
        ASSERT_LE(w.commands_at_end, sent.size()) << i;
        EXPECT_EQ(std::vector<std::string>(sent.begin() + long(w.commands_at_begin), sent.begin() + long(w.commands_at_end)),
                  c.windows[i].commands)
            << i;
        EXPECT_EQ(w.left_in_update_firmware, c.windows[i].left_in_update_firmware) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    passes, update_drive_window,
    ::testing::Values(
        window_case{"updated", false, [](emu::drive_config&) {}, {IDYES},
                    {{join({{ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}), 0}}},
        window_case{"already_in_update_firmware", false, [](emu::drive_config& d) { d.starts_in_update_mode = true; },
                    {IDYES}, {{join({all_blocks(64), {LEAVE, INQUIRY}}), 0}}},
        window_case{"declined", false, [](emu::drive_config&) {}, {IDNO}, {}},
        window_case{"refused_entry", false, [](emu::drive_config& d) { d.refuse_entry = true; }, {IDYES},
                    {{{ENTER}, 0}}},
        window_case{"entry_check_unanswered", false,
                    [](emu::drive_config& d) { d.injected = {sense_at(10, 0x04, 0x44, 0x00)}; }, {IDYES},
                    {{{ENTER, INQUIRY}, 1}}},
        window_case{"refused_block", false, [](emu::drive_config& d) { d.refuse_block = 5; }, {IDYES, IDNO},
                    {{join({{ENTER, INQUIRY}, all_blocks(6), {INQUIRY}}), 1}}},
        window_case{"old_firmware_after_refused_leave", false,
                    [](emu::drive_config& d) {
                        d.refuse_leave = true;
                        d.refused_leave_restarts = true;
                    },
                    {IDYES}, {{join({{ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}), 0}}},
        window_case{"retried_pass", false, [](emu::drive_config& d) { d.stay_in_update_mode = true; },
                    {IDYES, IDYES, IDYES, IDNO},
                    {{join({{ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY}}), 1},
                     {join({all_blocks(64), {LEAVE, INQUIRY}}), 1}}},
        window_case{"second_leave_on_9x_with_intel_driver", true,
                    [](emu::drive_config& d) { d.stay_in_update_mode = true; }, {IDYES, IDNO},
                    {{join({{ENTER, INQUIRY}, all_blocks(64), {LEAVE, INQUIRY, LEAVE}}), 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the target loop ------------------------------------------------------------

using update_loop = update_run;

TEST_F(update_loop, an_interrupt_held_during_an_update_stops_the_run_before_the_next_drive) {
    put_image();
    host.add_drive_at_letter('E');
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDYES};
    host.cfg.interrupt_in_update = 1;

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
    EXPECT_EQ(host.drive(1).log().size(), 2u);  // enumeration only
    const std::string tail = SUCCESS + STOPPED;
    EXPECT_EQ(host.console.substr(host.console.size() - tail.size()), tail);
    EXPECT_EQ(last_box().text, STOPPED);
    EXPECT_EQ(last_box().style, WARNING_STYLE);
    EXPECT_EQ(host.live_global_blocks(), 0);
    EXPECT_EQ(host.update_windows.size(), 1u);
}

TEST_F(update_loop, three_targets_all_updated_without_per_drive_questions) {
    put_image();
    for (char letter : {'E', 'G', 'K'}) host.add_drive_at_letter(letter);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(box_texts(), (std::vector<std::string>{
                               "\r\n3 target device(s) is found.\r\nDo you want to update all drives ?", COMPLETED}));
    EXPECT_EQ(host.targets_found, (std::vector<std::string>{"\\\\.\\E:", "\\\\.\\G:", "\\\\.\\K:"}));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(host.drive(i).reported_revision(), "1.28") << i;
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000, 2000, 2000, 1000, 3000, 2000, 2000, 1000, 3000,
                                                 2000}));
    EXPECT_NE(host.console.find("\r\nStart updating the device No.3."), std::string::npos);
}

// A question nobody could see ends the run, with one notice, before any drive is visited.
TEST_F(update_loop, a_question_that_cannot_be_shown_ends_the_run) {
    put_image();
    host.add_drive_at_letter('E');
    host.add_drive_at_letter('F');
    const std::filesystem::path log = std::filesystem::temp_directory_path() / "odd-unanswered.log";
    std::filesystem::remove(log);
    options.log = log.string();

    EXPECT_EQ(run(), 1);

    // Each drive has its final line all the same: the run stopped before it.
    std::ifstream record(log);
    const std::string lines((std::istreambuf_iterator<char>(record)), std::istreambuf_iterator<char>());
    size_t not_visited = 0;
    for (size_t at = 0; (at = lines.find("\"result\":\"not-visited\"", at)) != std::string::npos; ++at) ++not_visited;
    EXPECT_EQ(not_visited, 2u) << lines;
    std::filesystem::remove(log);

    ASSERT_EQ(host.boxes.size(), 1u);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0].rfind("odd-fwupdate: a question could not be shown", 0), 0u) << host.notices[0];
    EXPECT_EQ(host.console.find("Start updating"), std::string::npos);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(cdbs(host.drive(i)).size(), 2u) << i;  // enumeration's probes
}

TEST_F(update_loop, second_target_stopping_the_run_leaves_the_third_unvisited) {
    put_image();
    emu::drive_config refuses;
    refuses.refuse_entry = true;
    host.add_drive_at_letter('E');
    host.add_drive_at_letter('F', refuses);
    host.add_drive_at_letter('G');
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
    EXPECT_EQ(host.drive(2).log().size(), 2u);
    EXPECT_EQ(host.console.find("\r\nStart updating the device No.3."), std::string::npos);
    EXPECT_EQ(last_box().text, STOPPED);
    EXPECT_EQ(host.console.find(COMPLETED), std::string::npos);
    EXPECT_EQ(host.console.find("drive(s) have been"), std::string::npos);
    EXPECT_EQ(host.waits, (std::vector<uint32_t>{2000, 1000, 3000, 2000}));
}

TEST_F(update_loop, two_targets_already_up_to_date_give_no_summary) {
    put_image();
    emu::drive_config latest;
    latest.revision = "1.28";
    host.add_drive_at_letter('E', latest);
    host.add_drive_at_letter('F', latest);
    host.cfg.answers = {IDYES};

    EXPECT_EQ(run(), 0);

    // With every drive agreed to, message 54 stays on the console.
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"\r\n2 target device(s) is found.\r\nDo you want to update all drives ?"});
    const std::string latest_line = "\r\nFW is already latest.";
    EXPECT_EQ(host.console.substr(host.console.size() - latest_line.size()), latest_line);
    EXPECT_TRUE(host.waits.empty());
}

TEST_F(update_loop, one_of_two_updated_counts_one_drive) {
    put_image();
    host.add_drive_at_letter('E');
    host.add_drive_at_letter('F');
    host.cfg.answers = {IDNO, IDYES, IDNO};

    EXPECT_EQ(run(), 0);

    EXPECT_EQ(last_box().text, "\r\n1drive(s) have been updated successfully.");
    EXPECT_EQ(last_box().style, INFO_STYLE);
    EXPECT_EQ(host.drive(0).reported_revision(), "1.28");
    EXPECT_EQ(cdbs(host.drive(1)), join({UP_TO_CHECKS, {STOP, READY}}));
}

}  // namespace
