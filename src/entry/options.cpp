// Owns the run's options.
#include "entry/options.h"

#include <cctype>

run_options options;

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// True when `argument` is an option's name (with its value for /log:).
bool names_option(const std::string& argument, bool slash_forms) {
    const std::string key = slash_forms ? lower(argument) : argument;
    if (key == "--check" || key == "--yes" || key == "--log" || key.rfind("--log=", 0) == 0) return true;
    return slash_forms && (key == "/check" || key == "/yes" || key.rfind("/log:", 0) == 0);
}

// A file name for the record: not empty, and not an option, nor anything that
// starts like one ("-" alone is standard output), so that a script's empty
// variable before --check is never taken for the record's name.
bool log_name(const std::string& value, bool slash_forms) {
    if (value.empty()) return false;
    if (value == "-") return true;
    return value[0] != '-' && !names_option(value, slash_forms);
}

}  // namespace

int parse_options(int argc, char** argv, bool slash_forms, std::string& refused) {
    options = run_options{};
    bool log_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        // Windows takes its options in any case; a file name keeps its own.
        const std::string key = slash_forms ? lower(argument) : argument;
        bool* flag = nullptr;
        std::string value;
        if (key == "--check" || (slash_forms && key == "/check")) {
            flag = &options.check;
        } else if (key == "--yes" || (slash_forms && key == "/yes")) {
            flag = &options.yes;
        } else if (key == "--log") {
            if (i + 1 >= argc || !log_name(argv[i + 1], slash_forms)) {
                refused = argument;
                options = run_options{};
                return OPTION_UNKNOWN;
            }
            value = argv[++i];
        } else if (key.rfind("--log=", 0) == 0 || (slash_forms && key.rfind("/log:", 0) == 0)) {
            value = argument.substr(key[1] == '-' ? 6 : 5);
            if (!log_name(value, slash_forms)) {
                refused = argument;
                options = run_options{};
                return OPTION_UNKNOWN;
            }
        } else {
            refused = argument;
            options = run_options{};
            return OPTION_UNKNOWN;
        }
        // Given twice, or --check with --yes: the command line says two things.
        const bool again = flag ? *flag : log_given;
        if (again || (flag == &options.check && options.yes) || (flag == &options.yes && options.check)) {
            refused = argument;
            options = run_options{};
            return OPTION_CONTRADICTS;
        }
        if (flag) *flag = true;
        else {
            log_given = true;
            options.log = value;
        }
    }
    return 0;
}

void reset_options() { options = run_options{}; }
