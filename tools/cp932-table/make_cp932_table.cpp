// make-cp932-table OUTPUT: writes the code page 932 to Unicode table that the
// Linux host shows console bytes with, taken at build time from the C
// library's iconv, so that the program loads no conversion module when it
// runs (a statically linked program cannot).
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

constexpr uint32_t NONE = 0xFFFF;
// Where the second byte of a pair may lie.
constexpr int TRAIL_FIRST = 0x40;
constexpr int TRAIL_LAST = 0xFC;

// The code point `length` bytes convert to as one whole character, or NONE;
// `begins_one` when they are only the start of one.
uint32_t code_point(iconv_t converter, const unsigned char* bytes, size_t length, bool& begins_one) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char in[2] = {static_cast<char>(bytes[0]), static_cast<char>(length > 1 ? bytes[1] : 0)};
    unsigned char out[8] = {};
    char* from = in;
    char* to = reinterpret_cast<char*>(out);
    size_t left = length;
    size_t room = sizeof out;
    const size_t done = iconv(converter, &from, &left, &to, &room);
    begins_one = done == static_cast<size_t>(-1) && errno == EINVAL;
    if (done == static_cast<size_t>(-1) || left != 0 || sizeof out - room != 4) return NONE;
    return out[0] | out[1] << 8 | static_cast<uint32_t>(out[2]) << 16 | static_cast<uint32_t>(out[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
    iconv_t converter = iconv_open("UTF-32LE", "CP932");
    if (argc != 2 || converter == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "make-cp932-table: usage: make-cp932-table OUTPUT (and an iconv with CP932)\n");
        return 1;
    }
    uint32_t single[256];
    int lead_index[256];
    int leads = 0;
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        bool begins_one = false;
        single[b] = code_point(converter, &byte, 1, begins_one);
        lead_index[b] = begins_one ? leads++ : -1;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// Made by make-cp932-table from the C library's CP932 conversion.\n#pragma once\n\n#include <cstdint>\n\n"
                 "constexpr uint16_t CP932_NONE = 0x%04X;\nconstexpr int CP932_TRAIL_FIRST = 0x%02X;\n"
                 "constexpr int CP932_TRAIL_LAST = 0x%02X;\n\n// The code point of each byte alone.\n"
                 "constexpr uint16_t CP932_SINGLE[256] = {",
                 static_cast<unsigned>(NONE), TRAIL_FIRST, TRAIL_LAST);
    for (int b = 0; b < 256; ++b) std::fprintf(out, "%s0x%04X,", b % 12 ? " " : "\n    ", static_cast<unsigned>(single[b]));
    std::fprintf(out, "\n};\n\n// Each lead byte's row in CP932_DOUBLE, -1 for the other bytes.\nconstexpr int16_t CP932_LEAD_ROW[256] = {");
    for (int b = 0; b < 256; ++b) std::fprintf(out, "%s%d,", b % 16 ? " " : "\n    ", lead_index[b]);
    std::fprintf(out, "\n};\n\n// The code point of each pair: [lead row][trail - CP932_TRAIL_FIRST].\n"
                      "constexpr uint16_t CP932_DOUBLE[%d][%d] = {",
                 leads, TRAIL_LAST - TRAIL_FIRST + 1);
    for (int lead = 0; lead < 256; ++lead) {
        if (lead_index[lead] < 0) continue;
        std::fprintf(out, "\n    {");
        for (int trail = TRAIL_FIRST; trail <= TRAIL_LAST; ++trail) {
            const unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            bool begins_one = false;
            const uint32_t point = code_point(converter, pair, 2, begins_one);
            if (point > 0xFFFF) {
                std::fprintf(stderr, "make-cp932-table: %02X %02X is beyond 16 bits\n", lead, trail);
                return 1;
            }
            std::fprintf(out, "%s0x%04X,", (trail - TRAIL_FIRST) % 12 ? " " : "\n        ", static_cast<unsigned>(point));
        }
        std::fprintf(out, "},");
    }
    std::fprintf(out, "\n};\n");
    iconv_close(converter);
    return std::fclose(out) == 0 ? 0 : 1;
}
