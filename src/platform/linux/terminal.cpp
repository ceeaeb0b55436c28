// Locale, console encoding and terminal questions for the Linux host.
#include "platform/linux/terminal.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include <termios.h>
#include <unistd.h>

#include "cp932_table.h"

namespace {

// A line longer than this is no answer at all.
constexpr size_t LONGEST_ANSWER = 64;
// No terminal passes a longer line; input that does is not typed by anyone.
constexpr size_t LONGEST_LINE = 4096;
// A question is asked again after a line that answers nothing, but only so
// often: input that keeps answering nothing is nobody's Yes.
constexpr int TIMES_ASKED = 3;

// The prompts and answers in code page 932, shown as the console is.
const char PROMPT_YES_NO_JAPANESE[] = "[\x82\xCD\x82\xA2(y)/\x82\xA2\x82\xA2\x82\xA6(n)] ";  // [はい(y)/いいえ(n)]
const char PROMPT_ENTER_JAPANESE[] =
    "[Enter\x83L\x81[\x82\xF0\x89\x9F\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2] ";  // [Enterキーを押してください]
const char YES_JAPANESE[] = "\x82\xCD\x82\xA2";          // はい
const char NO_JAPANESE[] = "\x82\xA2\x82\xA2\x82\xA6";  // いいえ

// The answer without surrounding blanks, with ASCII letters in small: only a
// plain "y" or "yes" may start an update, never one with a stray byte around
// it. A line holding a control byte is no answer (empty).
std::string plain_answer(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r");
    std::string out;
    for (char c : text.substr(first, last - first + 1)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return "";
        out += static_cast<char>(byte < 0x80 ? std::tolower(byte) : byte);
    }
    return out;
}

std::string lower_without_punctuation(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void append_utf8(std::string& out, uint32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | point >> 12);
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The code point of the character at `bytes` (one byte or a pair) and its
// length, or CP932_NONE.
uint16_t cp932_character(const unsigned char* bytes, size_t left, size_t& length) {
    length = 1;
    const int row = CP932_LEAD_ROW[bytes[0]];
    if (row < 0) return CP932_SINGLE[bytes[0]];
    if (left < 2 || bytes[1] < CP932_TRAIL_FIRST || bytes[1] > CP932_TRAIL_LAST) return CP932_NONE;
    length = 2;
    return CP932_DOUBLE[row][bytes[1] - CP932_TRAIL_FIRST];
}

// Code page 932 text as the terminal shows it.
std::string shown_text(const char* text, const box_manner& manner) {
    const std::string shown = terminal_text(text, std::strlen(text), manner.to_utf8);
    return manner.out_is_terminal ? without_control_bytes(shown, !manner.japanese) : shown;
}

// The text as a box shows it: without the leading line breaks the console
// needs, and with "\r\n" as a terminal's "\n".
std::string box_text(const char* text, const box_manner& manner) {
    std::string shown = shown_text(text, manner);
    shown.erase(0, shown.find_first_not_of("\r\n"));
    std::string out;
    for (size_t i = 0; i < shown.size(); ++i)
        if (!(shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')) out += shown[i];
    return out;
}

enum class line_read { answer, end, not_typed };

// One line of input without its line break. Every byte is kept, a NUL too; a
// line longer than any answer comes back empty. A line that goes on past
// anything a person types (an image file, /dev/zero) is not_typed, and is
// left unread beyond that.
line_read read_answer(std::FILE* in, std::string& answer) {
    answer.clear();
    size_t length = 0;
    int c = EOF;
    while ((c = std::getc(in)) != EOF && c != '\n') {
        if (++length > LONGEST_LINE) return line_read::not_typed;
        if (length <= LONGEST_ANSWER) answer += static_cast<char>(c);
    }
    if (c == EOF && length == 0) return line_read::end;
    if (length > LONGEST_ANSWER) answer.clear();
    return line_read::answer;
}

}  // namespace

terminal_locale locale_from(const char* lc_all, const char* lc_ctype, const char* lang) {
    const char* name = "";
    for (const char* candidate : {lc_all, lc_ctype, lang})
        if (candidate && *candidate) {
            name = candidate;
            break;
        }
    const std::string locale = name;
    terminal_locale result;
    const std::string language = locale.substr(0, locale.find_first_of("_.@"));
    std::string codeset;
    const size_t dot = locale.find('.');
    if (dot != std::string::npos) codeset = lower_without_punctuation(locale.substr(dot + 1, locale.find('@', dot) - dot - 1));
    result.utf8 = codeset == "utf8";
    // Japanese only where the terminal can show it: as UTF-8, or as the code
    // page 932 bytes themselves; any other codeset (EUC-JP, none) gets English.
    const bool shift_jis = codeset == "sjis" || codeset == "shiftjis" || codeset == "cp932" ||
                           codeset == "windows31j" || codeset == "pck";
    result.japanese = language == "ja" && (result.utf8 || shift_jis);
    return result;
}

std::string terminal_text(const char* bytes, size_t length, bool to_utf8) {
    if (!to_utf8) return std::string(bytes, length);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    std::string out;
    for (size_t at = 0; at < length;) {
        size_t used = 1;
        const uint16_t point = cp932_character(in + at, length - at, used);
        if (point == CP932_NONE) {
            // Not code page 932 text (0x80, 0xA0, 0xFD to 0xFF, a lead byte
            // without its trail byte): raw, it would be broken UTF-8.
            out += '?';
            used = 1;
        } else {
            append_utf8(out, point);
        }
        at += used;
    }
    return out;
}

std::string without_control_bytes(const std::string& shown, bool single_byte) {
    std::string out = shown;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = (byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7F ||
                             (single_byte && byte >= 0x80 && byte <= 0x9F);
        if (control) c = '?';
    }
    return out;
}

int ask_on_terminal(std::FILE* in, std::FILE* out, const char* caption, const char* text, UINT style,
                    const box_manner& manner, bool* line_ended) {
    if (line_ended) *line_ended = false;
    const bool question = (style & 0x0F) == MB_YESNO;
    if (question || !manner.text_shown) {
        std::fprintf(out, "\n%s: %s\n", shown_text(caption ? caption : "", manner).c_str(),
                     box_text(text ? text : "", manner).c_str());
    } else {
        std::fputc('\n', out);
    }
    const char* prompt = question ? (manner.japanese ? PROMPT_YES_NO_JAPANESE : "[y/n] ")
                                  : (manner.japanese ? PROMPT_ENTER_JAPANESE : "[press Enter] ");
    const std::string shown_prompt = terminal_text(prompt, std::strlen(prompt), manner.to_utf8);
    const std::string yes = plain_answer(terminal_text(YES_JAPANESE, std::strlen(YES_JAPANESE), manner.to_utf8));
    const std::string no = plain_answer(terminal_text(NO_JAPANESE, std::strlen(NO_JAPANESE), manner.to_utf8));
    std::string answer;
    for (int asked = 1;; ++asked) {
        // What was typed before the prompt showed answers nothing it asks.
        if (manner.in_is_terminal) ::tcflush(::fileno(in), TCIFLUSH);
        std::fputs(shown_prompt.c_str(), out);
        // A prompt that could not be written is a box that could not be shown.
        if (std::fflush(out) != 0 || std::ferror(out)) {
            std::clearerr(out);
            return 0;
        }
        const line_read read = read_answer(in, answer);
        if (read != line_read::answer) {
            if (read == line_read::end) {
                std::fputc('\n', out);
                std::fflush(out);
                if (line_ended) *line_ended = true;
            }
            return question ? IDNO : IDOK;
        }
        if (!question) return IDOK;
        const std::string word = plain_answer(answer);
        if (word == "y" || word == "yes" || (manner.japanese && word == yes)) return IDYES;
        if (word == "n" || word == "no" || (manner.japanese && word == no)) return IDNO;
        if (asked == TIMES_ASKED) return IDNO;
    }
}
