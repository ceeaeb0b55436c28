// Owns the run's options.
#include "entry/options.h"

#include <cctype>
#include <cstring>

#include "image/image_integrity.h"
#include "model/drive_model.h"

run_options options;

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool starts_with(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// True when `argument` is an option's name (with its value for /log:, --log=,
// /image:, --image=, /sha256: and --sha256=).
bool names_option(const std::string& argument, bool slash_forms) {
    const std::string key = slash_forms ? lower(argument) : argument;
    if (key == "--check" || key == "--yes" || key == "--log" || starts_with(key, "--log=") || key == "--image" ||
        starts_with(key, "--image=") || key == "--sha256" || starts_with(key, "--sha256=") || key == "--record" ||
        starts_with(key, "--record="))
        return true;
    return slash_forms && (key == "/check" || key == "/yes" || starts_with(key, "/log:") ||
                           starts_with(key, "/image:") || starts_with(key, "/sha256:") || key == "/record" ||
                           starts_with(key, "/record:"));
}

// A file name an option takes: not empty, and not an option, nor anything
// that starts like one ("-" alone is standard output where `dash_alone` says
// so), so that a script's empty variable before --check is never taken for
// the file's name.
bool file_name(const std::string& value, bool slash_forms, bool dash_alone) {
    if (value.empty()) return false;
    if (value == "-") return dash_alone;
    return value[0] != '-' && !names_option(value, slash_forms);
}

// The option that takes a value (a file name, a digest), by the forms of each
// system: its value after "=" or ":" in the same argument, or as the next
// argument.
struct value_option {
    const char* name;      // --log
    const char* attached;  // --log=
    const char* slash;     // /log:
    std::string run_options::*value;
    bool dash_alone;  // "-" is a name of its own
};

const value_option VALUE_OPTIONS[] = {
    {"--log", "--log=", "/log:", &run_options::log, true},
    {"--image", "--image=", "/image:", &run_options::image, false},
    {"--sha256", "--sha256=", "/sha256:", &run_options::sha256, false},
    {"--record", "--record=", "/record:", &run_options::record, false},
};

}  // namespace

int parse_options(int argc, char** argv, bool slash_forms, std::string& refused) {
    options = run_options{};
    bool given[sizeof VALUE_OPTIONS / sizeof VALUE_OPTIONS[0]] = {};
    const auto refuse = [&refused](const std::string& argument, int result) {
        refused = argument;
        options = run_options{};
        return result;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        // Windows takes its options in any case; a file name keeps its own.
        const std::string key = slash_forms ? lower(argument) : argument;
        bool* flag = nullptr;
        const value_option* takes = nullptr;
        std::string value;
        if (key == "--check" || (slash_forms && key == "/check")) {
            flag = &options.check;
        } else if (key == "--yes" || (slash_forms && key == "/yes")) {
            flag = &options.yes;
        } else {
            for (const value_option& option : VALUE_OPTIONS) {
                // Windows' /record FILE too.
                const bool named = key == option.name || (slash_forms && key == "/" + std::string(option.name + 2) &&
                                                          option.value == &run_options::record);
                if (named) {
                    if (i + 1 >= argc || !file_name(argv[i + 1], slash_forms, option.dash_alone))
                        return refuse(argument, OPTION_UNKNOWN);
                    value = argv[++i];
                } else if (starts_with(key, option.attached) || (slash_forms && starts_with(key, option.slash))) {
                    const char* form = starts_with(key, option.attached) ? option.attached : option.slash;
                    value = argument.substr(std::strlen(form));
                    if (!file_name(value, slash_forms, option.dash_alone)) return refuse(argument, OPTION_UNKNOWN);
                } else {
                    continue;
                }
                takes = &option;
                break;
            }
            if (takes == nullptr) return refuse(argument, OPTION_UNKNOWN);
        }
        // Given twice, or --check or --record with --yes: the command line says two things.
        const bool again = flag ? *flag : given[takes - VALUE_OPTIONS];
        const bool records = takes != nullptr && takes->value == &run_options::record;
        if (again || (flag == &options.check && options.yes) || (flag == &options.yes && options.check) ||
            (flag == &options.yes && !options.record.empty()) || (records && options.yes))
            return refuse(argument, OPTION_CONTRADICTS);
        if (flag) {
            *flag = true;
            continue;
        }
        // One path cannot name the images of several models: a build of
        // several reads each model's own, by its name.
        if (takes->value == &run_options::image && MODEL_TABLE_ROWS > 1) return refuse(argument, OPTION_UNKNOWN);
        // The image is read by the name the descriptor holds; a path cut short
        // there would name another file.
        if (takes->value == &run_options::image && value.size() >= sizeof(model_row{}.image_file_name))
            return refuse(value, OPTION_TOO_LONG);
        uint8_t digest[SHA256_SIZE];
        if (takes->value == &run_options::sha256 && !digest_from_text(value, digest))
            return refuse(argument, OPTION_UNKNOWN);
        given[takes - VALUE_OPTIONS] = true;
        options.*(takes->value) = value;
    }
    return 0;
}

void reset_options() { options = run_options{}; }
