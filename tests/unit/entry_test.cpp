// The run's spine without drives: the banner, the language, the descriptor,
// the no-target ending, the millisecond delay and the command line.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dialogue_expectations.h"
#include "entry/options.h"
#include "platform/wait.h"
#include "test_support.h"

namespace {

using entry_test = sim_test;

TEST_F(entry_test, no_target_ends_with_message_28_and_exit_code_1) {
    host.cfg.oem_code_page = 437;
    EXPECT_EQ(updater_main(0, nullptr), 1);
    EXPECT_EQ(host.console, expect::BANNER + expect::english(28));
    ASSERT_EQ(host.boxes.size(), 1u);  // the information box, and no question
    EXPECT_EQ(host.boxes[0].caption, "TORVAL");
    EXPECT_EQ(host.boxes[0].style, expect::INFO_STYLE);
    EXPECT_EQ(host.boxes[0].text, expect::english(28));
    EXPECT_EQ(host.live_global_blocks(), 0);
    EXPECT_EQ(host.open_handles(), 0);
}

TEST_F(entry_test, no_target_in_japanese_keeps_the_banner_in_english) {
    host.cfg.oem_code_page = 932;
    EXPECT_EQ(updater_main(0, nullptr), 1);
    // "\r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞがありません。" in code page 932.
    const char message[] =
        "\r\n\x82\xB1\x82\xCC\xCC\xDF\xDB\xB8\xDE\xD7\xD1\x82\xC5\x97\x98\x97\x70\x89\xC2\x94\x5C\x82\xC8"
        "\xC4\xDE\xD7\xB2\xCC\xDE\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42";
    EXPECT_EQ(host.console, expect::BANNER + message);
    EXPECT_EQ(oem_code_page, 932u);
}

TEST_F(entry_test, descriptor_holds_this_builds_release) {
    init_firmware_descriptor();
    EXPECT_EQ(release_count, 1);
    EXPECT_EQ(image_version, 0x128);
    const model_row& row = firmware_descriptor[0];
    EXPECT_STREQ(row.image_file_name, "A0013431.128");
    EXPECT_EQ(std::string(row.update_vendor, 8), "QUA_ADV ");
    EXPECT_EQ(std::string(row.vendor_id, 8), "QUARLEN ");
    EXPECT_EQ(std::string(row.product_id, 16), "DVD-RW  KWR-322 ");
    EXPECT_EQ(row.model_code, 0x100Cu);
    EXPECT_EQ(row.minimum_image_date, 0x20080725u);
    EXPECT_EQ(row.access_code, 0x5E3A91C4u);
    EXPECT_EQ(std::string(row.model_string, 16), "QUARLEN  KWR-322");
    EXPECT_EQ(row.block_length, 0x8000);
    EXPECT_EQ(row.entry_timeout_ms, 10000);
    EXPECT_EQ(row.leave_timeout_ms, 180000);
    EXPECT_STREQ(row.product_name, "QUARLEN KWR-322 DVD recorders");
    for (int i = 1; i < MAX_MODEL_ROWS; ++i) EXPECT_EQ(firmware_descriptor[i].model_code, 0u);
}

struct wait_case {
    const char* name;
    UINT finest_period;
    uint32_t clock_start;
    uint32_t ms;
};

class wait_test : public sim_test, public ::testing::WithParamInterface<wait_case> {};

TEST_P(wait_test, waits_at_least_the_time_and_releases_the_period) {
    const wait_case& c = GetParam();
    host.cfg.finest_timer_period = c.finest_period;
    host.cfg.clock_start_ms = c.clock_start;
    uint64_t before = host.elapsed_ms;
    wait_ms(c.ms);
    uint64_t took = host.elapsed_ms - before;
    EXPECT_GE(took, c.ms);
    EXPECT_LE(took, uint64_t{c.ms} + 2);  // busy reads, not a sleep of 49 days
    EXPECT_EQ(host.open_timer_periods(), 0);
    ASSERT_EQ(host.timer_periods.size(), 1u);
    EXPECT_EQ(host.timer_periods[0], c.finest_period);
    ASSERT_EQ(host.waits.size(), 1u);
    // Every read moves the virtual clock by 1 ms, so even a zero wait spans one.
    EXPECT_EQ(host.waits[0], std::max<uint32_t>(c.ms, 1));
}

INSTANTIATE_TEST_SUITE_P(delays, wait_test,
                         ::testing::Values(wait_case{"zero", 1, 1000, 0}, wait_case{"finest_1", 1, 1000, 2000},
                                           wait_case{"finest_3", 3, 1000, 5000},
                                           wait_case{"across_wrap", 1, 0xFFFFFC00u, 3000},
                                           wait_case{"ends_at_wrap", 1, 0xFFFFF830u, 2000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(entry_test, zero_wait_reads_the_clock_twice) {
    uint64_t before = host.elapsed_ms;
    wait_ms(0);
    EXPECT_EQ(host.elapsed_ms - before, 2u);  // each read of the virtual clock moves it 1 ms
}

TEST_F(entry_test, a_timer_that_refuses_every_period_still_waits_and_releases_nothing) {
    host.cfg.finest_timer_period = 0;
    uint64_t before = host.elapsed_ms;
    wait_ms(1000);
    EXPECT_GE(host.elapsed_ms - before, 1000u);
    EXPECT_LT(host.elapsed_ms - before, 1010u);
    EXPECT_TRUE(host.timer_periods.empty());
    EXPECT_EQ(host.open_timer_periods(), 0);
}

}  // namespace

namespace {

// The command line: what each system takes, and what it refuses as a wrong
// argument (exit code 2) before anything is touched.
struct option_case {
    std::vector<const char*> arguments;
    bool windows;
    int result;
    bool check, yes;
    const char* log;
    const char* image = "";
    const char* sha256 = "";
};

// The longest image path the descriptor holds, and one byte more.
const std::string LONGEST_IMAGE_PATH = "/" + std::string(sizeof(model_row{}.image_file_name) - 2, 'x');
const std::string TOO_LONG_IMAGE_PATH = LONGEST_IMAGE_PATH + "x";
// A digest as sha256sum prints it, and as a person may copy it in capitals.
const char DIGEST[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const char DIGEST_CAPITALS[] = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
const std::string SLASH_DIGEST_CAPITALS = std::string("/SHA256:") + DIGEST_CAPITALS;
const std::string ATTACHED_DIGEST = std::string("--sha256=") + DIGEST;
const std::string SLASH_DIGEST = std::string("/Sha256:") + DIGEST;

const option_case OPTION_CASES[] = {
    {{"--check", "--log", "runs.log"}, false, 0, true, false, "runs.log"},
    {{"--yes", "--log=-"}, false, 0, false, true, "-"},
    {{"/CHECK", "/Log:\\\\server\\Share\\Runs.log"}, true, 0, true, false, "\\\\server\\Share\\Runs.log"},
    {{"/Yes", "--LOG", "runs.log"}, true, 0, false, true, "runs.log"},
    {{"/check"}, false, OPTION_UNKNOWN, false, false, ""},  // Linux has no slash forms
    {{"--CHECK"}, false, OPTION_UNKNOWN, false, false, ""},
    // An empty $LOG in a script: the next option is not the record's name.
    {{"--log", "--check"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--log", "-x.log"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"/log:/yes"}, true, OPTION_UNKNOWN, false, false, ""},
    {{"--log", ""}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--log"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--check", "--yes"}, false, OPTION_CONTRADICTS, false, false, ""},
    {{"/yes", "/check"}, true, OPTION_CONTRADICTS, false, false, ""},
    {{"--check", "--check"}, false, OPTION_CONTRADICTS, false, false, ""},
    {{"--log", "a.log", "--log=b.log"}, false, OPTION_CONTRADICTS, false, false, ""},
    {{"--yes", "--image", "/srv/fw/A0013431.128"}, false, 0, false, true, "", "/srv/fw/A0013431.128"},
    {{"--image=fw/Image.128", "--log", "-"}, false, 0, false, false, "-", "fw/Image.128"},
    {{"/IMAGE:\\server\Share\A0013431.128", "/yes"}, true, 0, false, true, "", "\\server\Share\A0013431.128"},
    {{"/check", "--Image", "D:\fw\A0013431.128"}, true, 0, true, false, "", "D:\fw\A0013431.128"},
    {{"--image", LONGEST_IMAGE_PATH.c_str()}, false, 0, false, false, "", LONGEST_IMAGE_PATH.c_str()},
    {{"/image:C:\fw.bin"}, false, OPTION_UNKNOWN, false, false, ""},
    // An empty $IMAGE in a script, or a value that is an option or starts like one.
    {{"--image", "--yes"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--image"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--image", "-"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--image="}, false, OPTION_UNKNOWN, false, false, ""},
    {{"/image:/log:x.log"}, true, OPTION_UNKNOWN, false, false, ""},
    {{"--log", "--image", "a.bin"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--image", "a.bin", "/Image:b.bin"}, true, OPTION_CONTRADICTS, false, false, ""},
    {{"--image", TOO_LONG_IMAGE_PATH.c_str()}, false, OPTION_TOO_LONG, false, false, ""},
    {{"--yes", "--sha256", DIGEST}, false, 0, false, true, "", "", DIGEST},
    {{SLASH_DIGEST_CAPITALS.c_str()}, true, 0, false, false, "", "", DIGEST_CAPITALS},
    {{ATTACHED_DIGEST.c_str(), "--check"}, false, 0, true, false, "", "", DIGEST},
    // Anything but 64 hexadecimal digits: one short, one not a digit, none.
    {{"--sha256", DIGEST + 1}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--sha256", "g123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--sha256", "--yes"}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--sha256"}, false, OPTION_UNKNOWN, false, false, ""},
    {{SLASH_DIGEST.c_str()}, false, OPTION_UNKNOWN, false, false, ""},
    {{"--sha256", DIGEST, SLASH_DIGEST.c_str()}, true, OPTION_CONTRADICTS, false, false, ""},
};

TEST(options_test, takes_each_system_s_forms_and_refuses_what_is_not_one_thing) {
    for (const option_case& c : OPTION_CASES) {
        std::vector<char*> argv{const_cast<char*>("odd-fwupdate")};
        for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
        std::string refused;
        const int result = parse_options(static_cast<int>(argv.size()), argv.data(), c.windows, refused);
        SCOPED_TRACE(std::string(c.arguments.front()) + (c.windows ? " (Windows)" : ""));
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(options.check, c.check);
        EXPECT_EQ(options.yes, c.yes);
        EXPECT_EQ(options.log, c.log);
        EXPECT_EQ(options.image, c.image);
        EXPECT_EQ(options.sha256, c.sha256);
        EXPECT_EQ(refused.empty(), result == 0);
    }
    reset_options();
}

}  // namespace
