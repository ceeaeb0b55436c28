// Locale, console encoding and terminal questions for the Linux host.
#include "platform/linux/terminal.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// The answer without surrounding blanks, in small letters: only a plain "y" or
// "yes" may start an update, never a stray byte around one.
std::string plain_answer(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    std::string out;
    for (char c : text.substr(first, last - first + 1))
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string lower_without_punctuation(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// iconv is opened once; (iconv_t)-1 when glibc has no code page 932 module.
iconv_t cp932_to_utf8() {
    static iconv_t converter = iconv_open("UTF-8", "CP932");
    return converter;
}

// The text as a box shows it: without the leading line breaks the console
// needs, and with "\r\n" as a terminal's "\n".
std::string box_text(const char* text, bool to_utf8) {
    std::string shown = terminal_text(text, std::strlen(text), to_utf8);
    shown.erase(0, shown.find_first_not_of("\r\n"));
    std::string out;
    for (size_t i = 0; i < shown.size(); ++i)
        if (!(shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')) out += shown[i];
    return out;
}

// One answer line without its line break and surrounding blanks, or false at
// the end of input.
bool read_answer(std::FILE* in, std::string& answer) {
    answer.clear();
    char chunk[128];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, in)) {
        any = true;
        answer += chunk;
        if (!answer.empty() && answer.back() == '\n') break;
    }
    if (!any) return false;
    const size_t first = answer.find_first_not_of(" \t\r\n");
    const size_t last = answer.find_last_not_of(" \t\r\n");
    answer = first == std::string::npos ? "" : answer.substr(first, last - first + 1);
    return true;
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
    result.japanese = language == "ja";
    const size_t dot = locale.find('.');
    if (dot != std::string::npos) {
        const std::string codeset = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
        result.utf8 = lower_without_punctuation(codeset) == "utf8";
    }
    return result;
}

std::string terminal_text(const char* bytes, size_t length, bool to_utf8) {
    if (!to_utf8 || cp932_to_utf8() == reinterpret_cast<iconv_t>(-1)) return std::string(bytes, length);
    std::string out;
    char* in = const_cast<char*>(bytes);
    size_t in_left = length;
    char buffer[256];
    iconv(cp932_to_utf8(), nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
        char* to = buffer;
        size_t to_left = sizeof buffer;
        const size_t done = iconv(cp932_to_utf8(), &in, &in_left, &to, &to_left);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            out += *in++;
            --in_left;
        }
    }
    return out;
}

int ask_on_terminal(std::FILE* in, std::FILE* out, const char* caption, const char* text, UINT style,
                    bool to_utf8) {
    const bool question = (style & 0x0F) == MB_YESNO;
    std::fprintf(out, "\n%s: %s\n", caption ? caption : "", box_text(text ? text : "", to_utf8).c_str());
    std::string answer;
    for (;;) {
        std::fputs(question ? "[y/n] " : "[press Enter] ", out);
        std::fflush(out);
        if (!read_answer(in, answer)) {
            std::fputc('\n', out);
            std::fflush(out);
            return question ? IDNO : IDOK;
        }
        if (!question) return IDOK;
        const std::string word = plain_answer(answer);
        if (word == "y" || word == "yes") return IDYES;
        if (word == "n" || word == "no") return IDNO;
    }
}
