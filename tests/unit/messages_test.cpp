// The dialogue: every catalogue message in both languages, as it reaches the
// console and the message box, with the arguments it takes from the run state.
#include <iconv.h>

#include <cstring>
#include <map>
#include <vector>

#include "dialogue_expectations.h"
#include "messages/messages.h"
#include "update/update.h"
#include "test_support.h"

namespace {

using expect::catalogue_row;

// The Japanese texts as the user reads them, in UTF-8, converted to code page
// 932 by the C library for comparison.
const catalogue_row japanese_rows[] = {
    {0, u8"\nﾄﾞﾗｲﾌﾞ情報の取得に失敗しました。"},
    {1, u8"\nﾊｰﾄﾞｳｪｱﾘﾋﾞｼﾞｮﾝが一致しません。"},
    {3, u8"\n通常ﾓｰﾄﾞ部分の機種型番が一致しません。"},
    {5, u8"\nDVD-RWﾄﾞﾗｲﾌﾞの中にﾃﾞｨｽｸがあります\nｲｼﾞｪｸﾄしてください。"},
    {6, u8"\nﾄﾞﾗｲﾌﾞはｾｯﾄｱｯﾌﾟ中です。\nﾃﾞｨｽｸをｲｼﾞｪｸﾄしてください。"},
    {7, u8"\n不明なｴﾗｰが発生しました。"},
    {9, u8"\nInquiryｺﾏﾝﾄﾞが失敗しました。"},
    {11, u8"\r\nﾊﾞｲﾅﾘﾌｧｲﾙの読み込みに失敗しました。\r\n(ファイル名 : %.12s)"},
    {12, u8"\nﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝｱｯﾌﾟは成功しました。"},
    {14, u8"\nｶｰﾈﾙﾓｰﾄﾞへの切替に失敗しました。"},
    {15, u8"\nﾉｰﾏﾙﾓｰﾄﾞへの切替に失敗しました。"},
    {28, u8"\r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞがありません。"},
    {31, u8"\r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞが%d台見つかりました。\r\nすべてのﾄﾞﾗｲﾌﾞを自動的にｱｯﾌﾟﾃﾞｰﾄしますか？"},
    {34, u8"\r\n%d台目のﾄﾞﾗｲﾌﾞのｱｯﾌﾟﾃﾞｰﾄを開始します。"},
    {35, u8"\r\nｱｯﾌﾟﾃﾞｰﾄﾌﾟﾛｸﾞﾗﾑは完了しました。"},
    {36, u8"\r\nｱｯﾌﾟﾃﾞｰﾄﾌﾟﾛｸﾞﾗﾑはｴﾗｰが発生し終了しました。\r\n"},
    {37, u8"\r\nｶｰﾈﾙﾓ-ﾄﾞ部分の機種型番が一致しません。"},
    {40, u8"\r\n選択されたﾌｧｲﾙはこのﾄﾞﾗｲﾌﾞのﾌｧｰﾑｳｪｱﾌｧｲﾙではありません。"},
    {42, u8"\r\n通常部分のｱｯﾌﾟﾃﾞｰﾄに失敗しました。"},
    {44, u8"\r\n新しいﾌｧｰﾑｳｪｱでﾄﾞﾗｲﾌﾞを再起動中です。"},
    {47, u8"\nﾉｰﾏﾙﾓｰﾄﾞへの切替に失敗しました。\r\n再度ｱｯﾌﾟﾃﾞｰﾄを行いますか？"},
    {48, u8"\r\nIntel社のIDEﾄﾞﾗｲﾊﾞを検出しました。"},
    {52, u8"\r\nIEEE1394ﾄﾞﾗｲﾊﾞを検出しました。"},
    {54, u8"\r\nﾌｧｰﾑｳｪｱはすでに最新です。"},
    {58, u8"\r\n%d台のﾄﾞﾗｲﾌﾞをｱｯﾌﾟﾃﾞｰﾄしました。"},
    {61, u8"\r\n現在ﾌｧｰﾑｳｪｱの書換え中です。電源を切ったり、ﾘｾｯﾄを行わないでください。"},
    {69, u8"\r\n選択されたﾌｧｲﾙは新しいﾊﾞｰｼﾞｮﾝのﾌｧｰﾑｳｪｱﾌｧｲﾙではありません。"},
    {82, u8"\r\n%.24s %.5s (20%.8s)のﾄﾞﾗｲﾌﾞを\r\n%.24s %.5s (20%.8s)にｱｯﾌﾟﾃﾞｰﾄしますか？"},
};

std::string to_cp932(const char* utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in(utf8);
    std::vector<char> out(in.size() * 2 + 16);
    char* src = in.data();
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    size_t converted = iconv(cd, &src, &src_left, &dst, &dst_left);
    EXPECT_NE(converted, static_cast<size_t>(-1)) << utf8;
    iconv_close(cd);
    return std::string(out.data(), out.size() - dst_left);
}

// The fields the run hands message `code`, from the run state.
message_fields fields_of(int code) {
    message_fields fields;
    switch (code) {
    case 11: fields.file_name = current_release.image_file_name; break;
    case 31: fields.number = target_count; break;
    case 34: fields.number = current_target + 1; break;
    case 58: fields.number = updated_count; break;
    case 82: fields = update_question_fields(loaded_header); break;
    default: break;
    }
    return fields;
}

// Fills the run state every argument of the catalogue is taken from.
class dialogue_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        init_firmware_descriptor();
        std::memcpy(&current_release, &firmware_descriptor[0], sizeof current_release);
        target_count = 3;
        current_target = 1;
        updated_count = 2;
        std::memset(inquiry_data, ' ', sizeof inquiry_data);
        std::memcpy(inquiry_data + 8, "QUARLEN DVD-RW  KWR-322 1.23 08/07/25", 37);
        header.assign(IMAGE_HEADER_SIZE, 0);
        std::memcpy(&header[0x60], "QUARLEN DVD-RW  KWR-322 ", 24);
        std::memcpy(&header[0x90], "1.28 ", 5);
        std::memcpy(&header[0x130], "08/07/25", 8);
        image_buffer.address = header.data();
        loaded_header = decode_image_header(header.data());
        image_buffer.size = static_cast<uint32_t>(header.size());
    }
    void TearDown() override {
        image_buffer = {};
        sim_test::TearDown();
    }

    // The message's text with its arguments in place, formatted by the C library.
    static std::string with_arguments(int code, const std::string& text) {
        char out[512];
        switch (code) {
        case 11: std::snprintf(out, sizeof out, text.c_str(), "A0013431.128"); return out;
        case 31: std::snprintf(out, sizeof out, text.c_str(), 3); return out;
        case 34: std::snprintf(out, sizeof out, text.c_str(), 2); return out;
        case 58: std::snprintf(out, sizeof out, text.c_str(), 2); return out;
        case 82:
            std::snprintf(out, sizeof out, text.c_str(), "QUARLEN DVD-RW  KWR-322 ", "1.23 ", "08/07/25",
                          "QUARLEN DVD-RW  KWR-322 ", "1.28 ", "08/07/25");
            return out;
        default: return text;
        }
    }

    std::vector<uint8_t> header;
};

struct kind_case {
    int kind;
    bool printed;
    bool boxed;
    UINT style;
};
const kind_case kinds[] = {
    {KIND_CONSOLE, true, false, 0},
    {KIND_YES_NO, false, true, expect::QUESTION_STYLE},
    {KIND_ERROR, true, true, expect::ERROR_STYLE},
    {KIND_INFO, true, true, expect::INFO_STYLE},
    {KIND_WARNING, true, true, expect::WARNING_STYLE},
};

void expect_presented(sim::machine& host, int code, const std::string& expected) {
    for (const kind_case& k : kinds) {
        SCOPED_TRACE("code " + std::to_string(code) + " kind " + std::to_string(k.kind));
        host.console.clear();
        host.boxes.clear();
        host.cfg.answers = {k.kind == KIND_YES_NO ? IDNO : IDOK};
        host.next_answer_ = 0;
        int result = show_message(code, k.kind, fields_of(code));
        EXPECT_EQ(host.console, k.printed ? expected : "");
        ASSERT_EQ(host.boxes.size(), k.boxed ? 1u : 0u);
        if (k.boxed) {
            EXPECT_EQ(host.boxes[0].caption, "TORVAL");
            EXPECT_EQ(host.boxes[0].style, k.style);
            EXPECT_EQ(host.boxes[0].text, expected);
            EXPECT_EQ(result, k.kind == KIND_YES_NO ? IDNO : IDOK);
        } else {
            EXPECT_EQ(result, 0);
        }
    }
}

TEST_F(dialogue_test, every_english_message_in_every_kind) {
    host.cfg.oem_code_page = 437;
    oem_code_page = 437;
    for (const catalogue_row& row : expect::ENGLISH_CATALOGUE) expect_presented(host, row.code, with_arguments(row.code, row.text));
}

TEST_F(dialogue_test, every_japanese_message_as_code_page_932_bytes) {
    oem_code_page = 932;
    for (const catalogue_row& row : japanese_rows)
        expect_presented(host, row.code, with_arguments(row.code, to_cp932(row.text)));
}

TEST_F(dialogue_test, japanese_details_survive_as_bytes) {
    oem_code_page = 932;
    show_message(37, KIND_CONSOLE);
    // Half-width "ﾓ" (0xD3) followed by an ASCII hyphen, not the long-vowel mark 0xB0.
    EXPECT_NE(host.console.find("\xD3-\xC4\xDE"), std::string::npos);
    host.console.clear();
    show_message(11, KIND_CONSOLE, fields_of(11));
    // Full-width katakana "ファイル名".
    EXPECT_NE(host.console.find("\x83t\x83@\x83" "C\x83\x8B\x96\xBC"), std::string::npos);
    for (int code : {31, 47, 82}) {
        host.boxes.clear();
        show_message(code, KIND_YES_NO, fields_of(code));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_NE(host.boxes[0].text.find("\x81H"), std::string::npos) << code;  // full-width "？"
    }
    host.console.clear();
    show_message(5, KIND_CONSOLE);
    EXPECT_EQ(host.console.find("\x81\x42\n"), std::string::npos);  // no full stop before the line break
}

TEST_F(dialogue_test, unknown_codes_read_as_unknown_in_both_languages) {
    for (uint32_t page : {437u, 932u}) {
        oem_code_page = page;
        for (int code : {18, 2, 99, 100, 101, -1, -1000}) {
            host.console.clear();
            EXPECT_EQ(show_message(code, KIND_CONSOLE), 0);
            EXPECT_EQ(host.console, "\r\nUnknow Message Code\r\n") << code << " on " << page;
        }
    }
}

TEST_F(dialogue_test, arguments_are_the_ones_handed) {
    oem_code_page = 437;
    message_fields fields;
    fields.number = 2;
    show_message(58, KIND_CONSOLE, fields);
    EXPECT_EQ(host.console, "\r\n2drive(s) have been updated successfully.");

    host.console.clear();
    fields.number = 1;
    show_message(34, KIND_CONSOLE, fields);
    EXPECT_EQ(host.console, "\r\nStart updating the device No.1.");
    EXPECT_EQ(last_message_in_english(), "\r\nStart updating the device No.1.");

    host.console.clear();
    oem_code_page = 932;
    show_message(34, KIND_CONSOLE, fields);
    EXPECT_EQ(host.console, to_cp932(u8"\r\n1台目のﾄﾞﾗｲﾌﾞのｱｯﾌﾟﾃﾞｰﾄを開始します。"));
}

TEST_F(dialogue_test, update_question_stops_a_field_at_a_zero_byte) {
    oem_code_page = 437;
    inquiry_data[34] = 0;  // the revision "1.23 " cut after two characters
    show_message(82, KIND_YES_NO, update_question_fields(loaded_header));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text,
              "\r\nDo you want to update the F/W\r\nFrom : QUARLEN DVD-RW  KWR-322  1. (2008/07/25)\r\n"
              "To : QUARLEN DVD-RW  KWR-322  1.28  (2008/07/25)");
}

TEST_F(dialogue_test, long_texts_are_never_cut) {
    std::string long_text(5000, 'x');
    EXPECT_EQ(format_text("%s|%d", long_text.c_str(), 7), long_text + "|7");
    print_text(long_text.c_str());
    EXPECT_EQ(host.console, long_text);
}

}  // namespace
