// make-image: writes a firmware image file with chosen header fields, for
// tests, examples and scenario files.
#include "tools/make-image/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

const char usage_text[] =
    "usage: make-image --out FILE [--size N] [--version 1.28]\n"
    "                  [--date 08/07/25 | --month-date Jul 25 2008]\n"
    "                  [--vendor-product TEXT] [--hardware-revision TEXT]\n"
    "                  [--image-vendor TEXT] [--second-vendor TEXT]\n"
    "                  [--part-kind C] [--seed N]\n"
    "  --size takes decimal or 0x-hex, optionally followed by K or M (KiB, MiB);\n"
    "  text fields are blank-padded or truncated to their width in the header.\n";

struct bad_arguments : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Decimal or 0x-hex; with suffixes allowed, a trailing K or M scales by KiB
// or MiB. Anything that does not fit 32 bits is refused, never wrapped.
uint32_t parse_number(const std::string& option, const std::string& text, bool suffixes) {
    std::string digits = text;
    uint64_t scale = 1;
    if (suffixes && !digits.empty()) {
        char last = digits.back();
        if (last == 'K' || last == 'k') scale = 1024;
        if (last == 'M' || last == 'm') scale = 1024 * 1024;
        if (scale != 1) digits.pop_back();
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    uint64_t value = 0;
    for (char c : digits) {
        int digit = c >= '0' && c <= '9' ? c - '0'
                  : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : -1;
        if (digit < 0) throw bad_arguments(option + ": not a number: " + text);
        value = value * base + uint64_t(digit);
        if (value > UINT32_MAX) throw bad_arguments(option + ": too large: " + text);
    }
    if (digits.empty()) throw bad_arguments(option + ": not a number: " + text);
    if (value * scale > UINT32_MAX) throw bad_arguments(option + ": too large: " + text);
    return uint32_t(value * scale);
}

int parse_int(const std::string& option, const std::string& text) {
    return int(std::min<uint32_t>(parse_number(option, text, false), 1000000));
}

}  // namespace

int main(int argc, char** argv) {
    image_fields fields;
    std::string out;
    try {
        bool date_given = false;
        for (int i = 1; i < argc; ++i) {
            std::string option = argv[i];
            if (option == "--help" || option == "-h") {
                std::fputs(usage_text, stdout);
                return 0;
            }
            int needed = option == "--month-date" ? 3 : 1;
            if (i + needed >= argc) throw bad_arguments(option + ": value missing");
            std::string value = argv[i + 1];
            if (option == "--out") out = value;
            else if (option == "--size") fields.size = parse_number(option, value, true);
            else if (option == "--seed") fields.seed = parse_number(option, value, false);
            else if (option == "--version") fields.version = value;
            else if (option == "--vendor-product") fields.vendor_product = value;
            else if (option == "--hardware-revision") fields.hardware_revision = value;
            else if (option == "--image-vendor") fields.image_vendor = value;
            else if (option == "--second-vendor") fields.second_vendor = value;
            else if (option == "--part-kind") {
                if (value.size() != 1) throw bad_arguments("--part-kind takes one character");
                fields.part_kind = value[0];
            } else if (option == "--date" || option == "--month-date") {
                if (date_given) throw bad_arguments("give one of --date and --month-date, once");
                date_given = true;
                try {
                    fields.date = option == "--date" ? value
                        : month_name_date(value, parse_int(option, argv[i + 2]), parse_int(option, argv[i + 3]));
                } catch (const std::invalid_argument& e) {
                    throw bad_arguments(option + ": " + e.what());
                }
            } else {
                throw bad_arguments("unknown option: " + option);
            }
            i += needed;
        }
        if (out.empty()) throw bad_arguments("--out is required");
    } catch (const bad_arguments& e) {
        std::fprintf(stderr, "make-image: %s\n%s", e.what(), usage_text);
        return 2;
    }
    if (!write_image_file(out, fields)) {
        std::fprintf(stderr, "make-image: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
