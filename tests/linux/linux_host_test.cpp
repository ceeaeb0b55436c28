// The Linux host's own logic, without a drive: the pass-through block as an
// SG_IO request and back (and the same refusals from the simulated host),
// sense in either format, device paths, the locale, console bytes on the
// terminal (the code page 932 table against the C library's iconv) and
// questions asked there.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/last_record.h"
#include "platform/linux/linux_host.h"
#include "platform/sim/sim_host.h"
#include "transport/transport.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/terminal.h"

namespace {

using bytes = std::vector<uint8_t>;

// The block as the updater lays it out.
using block_with_sense = pass_through_direct_block;

block_with_sense make_block(std::initializer_list<uint8_t> cdb, UCHAR data_in, ULONG length, void* data,
                            ULONG seconds) {
    block_with_sense b{};
    b.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    b.sptd.CdbLength = static_cast<UCHAR>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), b.sptd.Cdb);
    b.sptd.SenseInfoLength = 18;
    b.sptd.SenseInfoOffset = offsetof(block_with_sense, sense);
    b.sptd.DataIn = data_in;
    b.sptd.DataTransferLength = length;
    b.sptd.DataBuffer = data;
    b.sptd.TimeOutValue = seconds;
    return b;
}

// --- sense formats ---------------------------------------------------------

struct sense_case {
    const char* name;
    bytes given;
    bytes fixed;
};

bytes fixed18(uint8_t code, uint8_t key, uint8_t asc, uint8_t ascq) {
    bytes f(18, 0);
    f[0] = code;
    f[2] = key;
    f[7] = 0x0A;
    f[12] = asc;
    f[13] = ascq;
    return f;
}

bytes with(bytes b, std::initializer_list<std::pair<size_t, uint8_t>> changes) {
    for (auto [at, value] : changes) b[at] = value;
    return b;
}

class sense_conversion : public ::testing::TestWithParam<sense_case> {};

TEST_P(sense_conversion, gives_the_fixed_format_bytes) {
    const sense_case& c = GetParam();
    uint8_t out[32];
    std::memset(out, 0xEE, sizeof out);
    const size_t n = fixed_format_sense(c.given.data(), c.given.size(), out, sizeof out);
    EXPECT_EQ(bytes(out, out + n), c.fixed);
}

INSTANTIATE_TEST_SUITE_P(
    formats, sense_conversion,
    ::testing::Values(
        sense_case{"descriptor_no_medium", {0x72, 0x02, 0x3A, 0x00, 0, 0, 0, 0x00}, fixed18(0x70, 0x02, 0x3A, 0x00)},
        sense_case{"descriptor_deferred", {0x73, 0x04, 0x44, 0x00, 0, 0, 0, 0x00}, fixed18(0x71, 0x04, 0x44, 0x00)},
        sense_case{"descriptor_reserved_bits_of_the_key_dropped",
                   {0x72, 0xF5, 0x24, 0x00, 0, 0, 0, 0x00},
                   fixed18(0x70, 0x05, 0x24, 0x00)},
        sense_case{"information_descriptor_sets_valid",
                   {0x72, 0x03, 0x0C, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, 0x00, 0x01, 0x80, 0x00},
                   with(fixed18(0xF0, 0x03, 0x0C, 0x00), {{4, 0x01}, {5, 0x80}})},
        sense_case{"information_too_wide_for_fixed_format_is_left_out",
                   {0x72, 0x03, 0x0C, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 1, 0, 0, 0, 2},
                   fixed18(0x70, 0x03, 0x0C, 0x00)},
        sense_case{"sense_key_specific_descriptor",
                   {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0x08, 0x02, 0x06, 0x00, 0x00, 0xC0, 0x00, 0x02, 0x00},
                   with(fixed18(0x70, 0x05, 0x24, 0x00), {{15, 0xC0}, {16, 0x00}, {17, 0x02}})},
        sense_case{"command_specific_and_block_descriptors",
                   {0x72, 0x05, 0x21, 0x00, 0, 0, 0, 0x10, 0x01, 0x0A, 0, 0, 0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF,
                    0x05, 0x02, 0x00, 0x20},
                   with(fixed18(0x70, 0x25, 0x21, 0x00), {{8, 0xDE}, {9, 0xAD}, {10, 0xBE}, {11, 0xEF}})},
        sense_case{"descriptor_cut_short_keeps_key_and_codes",
                   {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80},
                   fixed18(0x70, 0x06, 0x29, 0x00)},
        sense_case{"fixed_format_unchanged",
                   {0x70, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x0A, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0},
                   fixed18(0x70, 0x02, 0x3A, 0x00)},
        sense_case{"fixed_format_with_more_bytes_than_room", bytes(40, 0x70), bytes(32, 0x70)}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the block as an SG_IO request -------------------------------------------

struct direction_case {
    UCHAR data_in;
    ULONG length;
    int expected;
};

class request_direction : public ::testing::TestWithParam<direction_case> {};

std::string direction_name(const ::testing::TestParamInfo<direction_case>& info) {
    static const char* const names[] = {"out", "in", "unspecified"};
    return std::string(names[info.param.data_in]) + "_" + std::to_string(info.param.length);
}

TEST_P(request_direction, follows_data_in_and_length) {
    uint8_t data[96];
    const direction_case& c = GetParam();
    block_with_sense b = make_block({0x12, 0, 0, 0, 0x60, 0}, c.data_in, c.length, c.length ? data : nullptr, 2);
    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    ASSERT_EQ(prepare_sg_io(b.sptd, sizeof b, sizeof b, request, sense), ERROR_SUCCESS);
    EXPECT_EQ(request.dxfer_direction, c.expected);
    EXPECT_EQ(request.dxfer_len, c.length);
    EXPECT_EQ(request.dxferp, c.length ? data : nullptr);
}

INSTANTIATE_TEST_SUITE_P(directions, request_direction,
                         ::testing::Values(direction_case{SCSI_IOCTL_DATA_IN, 96, SG_DXFER_FROM_DEV},
                                           direction_case{SCSI_IOCTL_DATA_OUT, 32768, SG_DXFER_TO_DEV},
                                           direction_case{SCSI_IOCTL_DATA_UNSPECIFIED, 0, SG_DXFER_NONE},
                                           direction_case{SCSI_IOCTL_DATA_IN, 0, SG_DXFER_NONE}),
                         direction_name);

TEST(sg_io_request, carries_cdb_sense_buffer_and_time_out_in_milliseconds) {
    uint8_t data[48];
    block_with_sense b = make_block({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0}, SCSI_IOCTL_DATA_IN, 48, data, 20);
    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    ASSERT_EQ(prepare_sg_io(b.sptd, sizeof b, sizeof b, request, sense), ERROR_SUCCESS);
    EXPECT_EQ(request.interface_id, 'S');
    EXPECT_EQ(request.cmd_len, 10);
    EXPECT_EQ(bytes(request.cmdp, request.cmdp + 10), (bytes{0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0}));
    EXPECT_EQ(request.sbp, sense);
    EXPECT_EQ(request.mx_sb_len, 32);
    EXPECT_EQ(request.timeout, 20000u);
    b.sptd.TimeOutValue = 180;
    ASSERT_EQ(prepare_sg_io(b.sptd, sizeof b, sizeof b, request, sense), ERROR_SUCCESS);
    EXPECT_EQ(request.timeout, 180000u);
}

// Blocks Windows refuses before anything reaches the drive; the simulated host
// and the Linux host share the check.
struct refusal {
    const char* what;
    void (*spoil)(block_with_sense&);
};
const refusal WINDOWS_REFUSALS[] = {
    {"wrong Length", [](block_with_sense& b) { b.sptd.Length = 44 + 8; }},
    {"no CDB", [](block_with_sense& b) { b.sptd.CdbLength = 0; }},
    {"CDB longer than 16", [](block_with_sense& b) { b.sptd.CdbLength = 17; }},
    {"unknown direction", [](block_with_sense& b) { b.sptd.DataIn = 3; }},
    {"data without a buffer", [](block_with_sense& b) { b.sptd.DataBuffer = nullptr; }},
    {"sense area past the buffer", [](block_with_sense& b) { b.sptd.SenseInfoOffset = sizeof b - 4; }},
    {"sense area inside the structure", [](block_with_sense& b) { b.sptd.SenseInfoOffset = 8; }},
    {"sense area wrapping past 4 GiB", [](block_with_sense& b) { b.sptd.SenseInfoOffset = 0xFFFFFFF0; }},
};

block_with_sense inquiry_block(uint8_t (&data)[96]) {
    return make_block({0x12, 0, 0, 0, 0x60, 0}, SCSI_IOCTL_DATA_IN, 96, data, 2);
}

TEST(sg_io_request, refuses_blocks_windows_refuses) {
    uint8_t data[96];
    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    const block_with_sense good = inquiry_block(data);
    ASSERT_EQ(prepare_sg_io(good.sptd, sizeof good, sizeof good, request, sense), ERROR_SUCCESS);
    for (const refusal& r : WINDOWS_REFUSALS) {
        block_with_sense b = good;
        r.spoil(b);
        EXPECT_EQ(prepare_sg_io(b.sptd, sizeof b, sizeof b, request, sense), ERROR_INVALID_PARAMETER) << r.what;
    }
    // The kernel carries no data of unspecified direction, though Windows would.
    block_with_sense unspecified = good;
    unspecified.sptd.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    EXPECT_EQ(prepare_sg_io(unspecified.sptd, sizeof good, sizeof good, request, sense), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(prepare_sg_io(good.sptd, sizeof(SCSI_PASS_THROUGH_DIRECT) - 1, sizeof good, request, sense),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(prepare_sg_io(good.sptd, sizeof good, sizeof(SCSI_PASS_THROUGH_DIRECT) - 1, request, sense),
              ERROR_INVALID_PARAMETER);
}

TEST(simulated_pass_through, refuses_blocks_windows_refuses_before_the_drive) {
    sim::machine machine;
    machine.add_drive_at_letter('E');
    machine.install();
    const HANDLE drive =
        host::CreateFileA("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    uint8_t data[96];
    const block_with_sense good = inquiry_block(data);
    for (const refusal& r : WINDOWS_REFUSALS) {
        block_with_sense b = good;
        r.spoil(b);
        EXPECT_FALSE(host::DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, sizeof b, &b, sizeof b, nullptr,
                                           nullptr))
            << r.what;
        EXPECT_EQ(host::GetLastError(), ERROR_INVALID_PARAMETER) << r.what;
    }
    EXPECT_TRUE(machine.drive(0).log().empty());
    block_with_sense b = good;
    EXPECT_TRUE(host::DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, sizeof b, &b, sizeof b, nullptr,
                                      nullptr));
    EXPECT_EQ(machine.drive(0).log().size(), 1u);
    host::CloseHandle(drive);
}

// --- the outcome back into the block -----------------------------------------

struct outcome {
    block_with_sense block;
    sg_io_hdr_t request;
    uint8_t sense[SG_SENSE_CAPACITY];
    uint8_t data[96];
};

// A prepared INQUIRY whose SG_IO "returned" with the given sense bytes.
void prepare(outcome& o, const bytes& sense, unsigned char status) {
    o.block = make_block({0x00, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_IN, 96, o.data, 2);
    ASSERT_EQ(prepare_sg_io(o.block.sptd, sizeof o.block, sizeof o.block, o.request, o.sense), ERROR_SUCCESS);
    std::copy(sense.begin(), sense.end(), o.sense);
    o.request.sb_len_wr = static_cast<unsigned char>(sense.size());
    o.request.status = status;
    o.request.masked_status = status >> 1;
    o.request.driver_status = sense.empty() ? 0 : 0x08;
}

TEST(sg_io_outcome, good_status_with_a_short_answer) {
    outcome o;
    prepare(o, {}, 0);
    o.request.resid = 10;
    EXPECT_EQ(finish_sg_io(o.request, o.block.sptd, sizeof o.block), ERROR_SUCCESS);
    EXPECT_EQ(o.block.sptd.ScsiStatus, 0);
    EXPECT_EQ(o.block.sptd.DataTransferLength, 86u);
    EXPECT_EQ(o.block.sptd.SenseInfoLength, 0);
}

TEST(sg_io_outcome, check_condition_delivers_fixed_sense_where_the_block_asks) {
    outcome o;
    prepare(o, fixed18(0x70, 0x02, 0x3A, 0x00), 0x02);
    EXPECT_EQ(finish_sg_io(o.request, o.block.sptd, sizeof o.block), ERROR_SUCCESS);
    EXPECT_EQ(o.block.sptd.ScsiStatus, 0x02);
    EXPECT_EQ(o.block.sptd.SenseInfoLength, 18);
    EXPECT_EQ(bytes(o.block.sense, o.block.sense + 18), fixed18(0x70, 0x02, 0x3A, 0x00));
}

TEST(sg_io_outcome, descriptor_sense_arrives_in_fixed_format) {
    outcome o;
    prepare(o, {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0}, 0x02);
    EXPECT_EQ(finish_sg_io(o.request, o.block.sptd, sizeof o.block), ERROR_SUCCESS);
    EXPECT_EQ(o.block.sptd.SenseInfoLength, 18);
    EXPECT_EQ(o.block.sense[2], 0x06);
    EXPECT_EQ(o.block.sense[12], 0x29);
    EXPECT_EQ(o.block.sense[13], 0x00);
}

TEST(sg_io_outcome, no_more_sense_than_the_block_asked_for) {
    outcome o;
    prepare(o, fixed18(0x70, 0x05, 0x24, 0x00), 0x02);
    o.block.sptd.SenseInfoLength = 14;
    std::memset(o.block.sense, 0xEE, sizeof o.block.sense);
    EXPECT_EQ(finish_sg_io(o.request, o.block.sptd, sizeof o.block), ERROR_SUCCESS);
    EXPECT_EQ(o.block.sptd.SenseInfoLength, 14);
    EXPECT_EQ(o.block.sense[13], 0x00);
    EXPECT_EQ(o.block.sense[14], 0xEE);
}

struct failure_case {
    const char* name;
    unsigned host_status;
    unsigned driver_status;
    DWORD error;
};

class sg_io_failure : public ::testing::TestWithParam<failure_case> {};

TEST_P(sg_io_failure, fails_the_call_and_leaves_the_block) {
    const failure_case& c = GetParam();
    outcome o;
    prepare(o, {}, 0);
    o.request.host_status = static_cast<unsigned short>(c.host_status);
    o.request.driver_status = static_cast<unsigned short>(c.driver_status);
    o.block.sptd.ScsiStatus = 0x5A;
    EXPECT_EQ(finish_sg_io(o.request, o.block.sptd, sizeof o.block), c.error);
    EXPECT_EQ(o.block.sptd.ScsiStatus, 0x5A);
    EXPECT_EQ(o.block.sptd.SenseInfoLength, 18);
}

INSTANTIATE_TEST_SUITE_P(host_and_driver, sg_io_failure,
                         ::testing::Values(failure_case{"adapter_time_out", 0x03, 0, ERROR_SEM_TIMEOUT},
                                           failure_case{"driver_time_out", 0, 0x06, ERROR_SEM_TIMEOUT},
                                           failure_case{"bus_reset", 0x08, 0, ERROR_IO_DEVICE},
                                           failure_case{"no_connection", 0x01, 0, ERROR_IO_DEVICE},
                                           failure_case{"driver_error_with_sense", 0, 0x0C, ERROR_IO_DEVICE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(sg_io_errors, errno_values_map_to_windows_errors) {
    EXPECT_EQ(error_for_errno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error_for_errno(ENXIO), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error_for_errno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_for_errno(EPERM), ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_for_errno(EINVAL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(error_for_errno(EIO), ERROR_IO_DEVICE);
    EXPECT_EQ(error_for_errno(EBUSY), ERROR_GEN_FAILURE);
}

// --- device paths ------------------------------------------------------------

TEST(device_paths, letters_d_to_z_are_sr0_to_sr22) {
    EXPECT_EQ(device_for_path("\\\\.\\D:"), "/dev/sr0");
    EXPECT_EQ(device_for_path("\\\\.\\E:"), "/dev/sr1");
    EXPECT_EQ(device_for_path("\\\\.\\e:"), "/dev/sr1");
    EXPECT_EQ(device_for_path("\\\\.\\Z:"), "/dev/sr22");
    EXPECT_EQ(device_for_path("\\\\.\\C:"), "");
    EXPECT_EQ(device_for_path("\\\\.\\E"), "");
    EXPECT_EQ(device_for_path("\\\\.\\E:\\"), "");
    EXPECT_EQ(device_for_path("E:"), "");
    EXPECT_EQ(device_for_path(nullptr), "");
}

// --- locale and terminal -----------------------------------------------------

struct locale_case {
    const char* name;
    const char* lc_all;
    const char* lc_ctype;
    const char* lang;
    bool japanese;
    bool utf8;
};

class locale_choice : public ::testing::TestWithParam<locale_case> {};

TEST_P(locale_choice, follows_posix_precedence_and_the_names) {
    const locale_case& c = GetParam();
    const terminal_locale l = locale_from(c.lc_all, c.lc_ctype, c.lang);
    EXPECT_EQ(l.japanese, c.japanese);
    EXPECT_EQ(l.utf8, c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    names, locale_choice,
    ::testing::Values(locale_case{"japanese_utf8", nullptr, nullptr, "ja_JP.UTF-8", true, true},
                      locale_case{"empty_values_skipped", "", "", "ja_JP.utf8", true, true},
                      locale_case{"lc_all_first", "C", nullptr, "ja_JP.UTF-8", false, false},
                      locale_case{"lc_ctype_before_lang", nullptr, "ja_JP.SJIS", "en_US.UTF-8", true, false},
                      locale_case{"japanese_shift_jis", nullptr, nullptr, "ja_JP.Shift_JIS", true, false},
                      locale_case{"japanese_cp932", nullptr, nullptr, "ja_JP.CP932", true, false},
                      // Japanese the terminal cannot show from code page 932 bytes: English.
                      locale_case{"japanese_euc", nullptr, nullptr, "ja_JP.eucJP", false, false},
                      locale_case{"language_alone", nullptr, nullptr, "ja", false, false},
                      locale_case{"modifier_ignored", nullptr, nullptr, "ja_JP.UTF-8@cjknarrow", true, true},
                      locale_case{"english_utf8", nullptr, nullptr, "C.UTF-8", false, true},
                      locale_case{"other_language_starting_ja", nullptr, nullptr, "jam_XX.UTF-8", false, true},
                      locale_case{"nothing_set", nullptr, nullptr, nullptr, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// "\rProcessing 100% --> ﾌｧｰﾑｳｪｱ転送完了" in code page 932.
const char cp932_line[] = "\rProcessing 100% --> \xCC\xA7\xB0\xD1\xB3\xAA\xB1\x93\x5D\x91\x97\x8A\xAE\x97\xB9";

TEST(console_text, code_page_932_becomes_utf8_only_when_asked) {
    EXPECT_EQ(terminal_text(cp932_line, sizeof cp932_line - 1, true),
              "\rProcessing 100% --> \xEF\xBE\x8C\xEF\xBD\xA7\xEF\xBD\xB0\xEF\xBE\x91\xEF\xBD\xB3\xEF\xBD\xAA"
              "\xEF\xBD\xB1\xE8\xBB\xA2\xE9\x80\x81\xE5\xAE\x8C\xE4\xBA\x86");
    EXPECT_EQ(terminal_text(cp932_line, sizeof cp932_line - 1, false), cp932_line);
    // No character of code page 932: 0x80, 0xA0, 0xFF, a lead byte (0x82) without its trail.
    const char stray[] = "a\x80\xA0\xFFz\x82";
    EXPECT_EQ(terminal_text(stray, 6, true), "a???z?");
}

// The table made at build time converts as the C library's iconv does, every
// byte alone and every pair, a byte that is no character being shown as '?'.
TEST(console_text, code_page_932_table_agrees_with_iconv) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1));
    auto by_iconv = [&](std::string text) {
        std::string out;
        char* in = text.data();
        size_t left = text.size();
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        while (left > 0) {
            char buffer[16];
            char* to = buffer;
            size_t room = sizeof buffer;
            if (iconv(converter, &in, &left, &to, &room) == static_cast<size_t>(-1) && errno != E2BIG) {
                out.append(buffer, static_cast<size_t>(to - buffer));
                out += '?';
                ++in;
                --left;
                continue;
            }
            out.append(buffer, static_cast<size_t>(to - buffer));
        }
        return out;
    };
    for (int lead = 0; lead < 256; ++lead)
        for (int trail = 0; trail < 256; ++trail) {
            const char pair[] = {static_cast<char>(lead), static_cast<char>(trail)};
            const std::string text(pair, 2);
            ASSERT_EQ(terminal_text(pair, 2, true), by_iconv(text)) << std::hex << lead << ' ' << trail;
        }
    iconv_close(converter);
}

// One box asked with `input` typed; returns the answer and what was shown.
std::pair<int, std::string> ask(const std::string& input, UINT style, const char* text, box_manner manner = {}) {
    std::string typed = input;
    std::FILE* in = typed.empty() ? std::fopen("/dev/null", "r") : fmemopen(typed.data(), typed.size(), "r");
    char* shown = nullptr;
    size_t shown_size = 0;
    std::FILE* out = open_memstream(&shown, &shown_size);
    const int answer = ask_on_terminal(in, out, "TORVAL", text, style, manner);
    std::fclose(in);
    std::fclose(out);
    std::string result(shown, shown_size);
    std::free(shown);
    return {answer, result};
}

box_manner japanese(bool utf8) {
    box_manner manner;
    manner.japanese = true;
    manner.to_utf8 = utf8;
    return manner;
}

const UINT QUESTION = MB_YESNO | MB_ICONQUESTION;

struct answer_case {
    std::string typed;
    box_manner manner;
    int answer;
};

TEST(terminal_questions, yes_and_no_as_the_locale_says_them) {
    const answer_case cases[] = {
        {"y\n", {}, IDYES},
        {"YES\n", {}, IDYES},
        {"  n  \n", {}, IDNO},
        {"No\n", {}, IDNO},
        {"\xE3\x81\xAF\xE3\x81\x84\n", japanese(true), IDYES},                 // はい in UTF-8
        {"\xE3\x81\x84\xE3\x81\x84\xE3\x81\x88\n", japanese(true), IDNO},  // いいえ
        {"\x82\xCD\x82\xA2\n", japanese(false), IDYES},                          // はい in code page 932
        {"y\n", japanese(true), IDYES},
        {"\xE3\x81\xAF\xE3\x81\x84\n", {}, IDNO},  // not an answer in English; the input then ends
    };
    for (const answer_case& c : cases) EXPECT_EQ(ask(c.typed, QUESTION, "Go?", c.manner).first, c.answer) << c.typed;
}

TEST(terminal_questions, anything_else_asks_again) {
    const auto [answer, shown] = ask("maybe\n\nyes\n", QUESTION, "Go?");
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(shown, "\nTORVAL: Go?\n[y/n] [y/n] [y/n] ");
}

// Input that keeps answering nothing (a file, /dev/zero) is nobody's Yes: a
// third non-answer, or a line no person types, answers No.
TEST(terminal_questions, input_that_keeps_answering_nothing_is_no) {
    const auto [answer, shown] = ask("x\nmaybe\n?\ny\n", QUESTION, "Go?");
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(shown, "\nTORVAL: Go?\n[y/n] [y/n] [y/n] ");
    EXPECT_EQ(ask(std::string(5000, '\0') + "\ny\n", QUESTION, "Go?").first, IDNO);
}

TEST(terminal_questions, a_stray_byte_around_yes_is_no_answer) {
    // Each is asked again; the input then ends, which answers No.
    const std::string typed[] = {"y!\n",          "-y-\n",           "\xFFy\n", "ye s\n", "yes please\n",
                                 {"y\0n\n", 4}, {"ye\0s\n", 5}, "y\x1B\n",  "y" + std::string(80, ' ') + "x\n"};
    for (const std::string& t : typed) EXPECT_EQ(ask(t, QUESTION, "Go?").first, IDNO) << t;
}

TEST(terminal_questions, end_of_input_answers_no_and_acknowledges) {
    EXPECT_EQ(ask("", QUESTION, "Go?").first, IDNO);
    EXPECT_EQ(ask("maybe", QUESTION, "Go?").first, IDNO);
    EXPECT_EQ(ask("", MB_OK | MB_ICONASTERISK, "Done.").first, IDOK);
}

TEST(terminal_questions, box_shows_caption_text_and_prompt) {
    const auto [answer, shown] =
        ask("\n", MB_OK | MB_ICONASTERISK, "\r\nUpdate operation is completed.\r\nSecond line");
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(shown, "\nTORVAL: Update operation is completed.\nSecond line\n[press Enter] ");
}

TEST(terminal_questions, an_acknowledgement_already_on_the_terminal_gets_its_prompt_alone) {
    box_manner manner;
    manner.text_shown = true;
    EXPECT_EQ(ask("\n", MB_OK | MB_ICONASTERISK, "\r\nUpdate operation is completed.", manner).second,
              "\n[press Enter] ");
    EXPECT_EQ(ask("y\n", QUESTION, "Go?", manner).second, "\nTORVAL: Go?\n[y/n] ");
}

TEST(terminal_questions, japanese_text_and_prompts) {
    // "\r\n完了" in code page 932.
    EXPECT_EQ(ask("\n", MB_OK, "\r\n\x8A\xAE\x97\xB9", japanese(true)).second,
              "\nTORVAL: \xE5\xAE\x8C\xE4\xBA\x86\n[Enter\xE3\x82\xAD\xE3\x83\xBC\xE3\x82\x92\xE6\x8A\xBC\xE3\x81\x97"
              "\xE3\x81\xA6\xE3\x81\x8F\xE3\x81\xA0\xE3\x81\x95\xE3\x81\x84] ");
    EXPECT_EQ(ask("n\n", QUESTION, "?", japanese(false)).second,
              "\nTORVAL: ?\n[\x82\xCD\x82\xA2(y)/\x82\xA2\x82\xA2\x82\xA6(n)] ");
}

// A drive's vendor text that would clear the line and rewrite the question.
TEST(terminal_questions, control_bytes_reach_a_terminal_as_question_marks) {
    box_manner terminal;
    terminal.out_is_terminal = true;
    const char text[] = "From : \x1B[2K\rQUARLEN\x9B" "1A\x07\tend";
    EXPECT_EQ(ask("n\n", QUESTION, text, terminal).second, "\nTORVAL: From : ?[2K\rQUARLEN?1A?\tend\n[y/n] ");
    EXPECT_EQ(ask("n\n", QUESTION, text).second, std::string("\nTORVAL: ") + text + "\n[y/n] ");
    // In code page 932 and UTF-8 the bytes 0x80 to 0x9F are parts of characters.
    EXPECT_EQ(without_control_bytes("\x1B\x8A\xAE\x7F", false), "?\x8A\xAE?");
}

}  // namespace

namespace {

// The record's last line a backend writes from a signal handler: the exit code
// put where the run left it, "%%" kept as one percent sign, nothing kept for
// no path or a line without room for it.
TEST(last_record_line, takes_the_exit_code_where_the_run_left_it) {
    static last_record record;
    record.prepare("/tmp/runs.log", "{\"drive\":1}\n{\"host\":\"100%% sure\",\"exit_code\":%d}\n");
    std::string line(record.text, record.render(143));
    EXPECT_EQ(line, "{\"drive\":1}\n{\"host\":\"100% sure\",\"exit_code\":143}\n");
    line.assign(record.text, record.render(-7));
    EXPECT_EQ(line, "{\"drive\":1}\n{\"host\":\"100% sure\",\"exit_code\":-7}\n");
    record.prepare("", "{\"exit_code\":%d}\n");
    EXPECT_EQ(record.render(0), 0u);
    record.prepare("/tmp/runs.log", std::string(last_record::CAPACITY + 1, 'x').append("%d}\n").c_str());
    EXPECT_EQ(record.render(0), 0u);
}

}  // namespace
