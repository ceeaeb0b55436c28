// Owns the run's options.
#include "entry/options.h"

#include <cstring>

run_options options;

int parse_options(int argc, char** argv, bool slash_forms, std::string& refused) {
    options = run_options{};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--check" || (slash_forms && argument == "/check")) {
            options.check = true;
        } else if (argument == "--yes" || (slash_forms && argument == "/yes")) {
            options.yes = true;
        } else if (argument == "--log" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.log = argv[++i];
        } else if (argument.rfind("--log=", 0) == 0 && argument.size() > 6) {
            options.log = argument.substr(6);
        } else if (slash_forms && argument.rfind("/log:", 0) == 0 && argument.size() > 5) {
            options.log = argument.substr(5);
        } else {
            refused = argument;
            options = run_options{};
            return -1;
        }
    }
    return 0;
}

void reset_options() { options = run_options{}; }
