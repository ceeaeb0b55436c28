// odd-fwupdate.exe: the updater on the real Windows host. With no argument it
// updates; /check, /yes, /log:FILE and /image:PATH (or --check, --yes,
// --log FILE, --image PATH) are the options for many machines; /?, -?, /h,
// -h, /help and --help show the usage and /version and --version the version,
// in any case as every Windows option, and any other argument is refused, all
// without touching a drive.
#include <cctype>
#include <cstdio>
#include <string>

#include "entry/entry.h"
#include "entry/options.h"
#include "messages/messages.h"
#include "platform/win32/win32_host.h"

namespace {

std::string lower(const char* argument) {
    std::string key = argument;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

bool is_help(const char* argument) {
    const std::string key = lower(argument);
    return key == "/?" || key == "-?" || key == "/h" || key == "-h" || key == "/help" || key == "--help";
}

bool is_version(const char* argument) {
    const std::string key = lower(argument);
    return key == "/version" || key == "--version";
}

void print_usage() {
    init_firmware_descriptor();
    const std::string drives = every_row([](const model_row& model) { return std::string(model.product_name); });
    const std::string images = every_row([](const model_row& model) { return std::string(model.image_file_name); });
    print_text(format_text("%s\r\n"
                           "Updates the firmware of the %s in this computer.\r\n\r\n"
                           "Usage: odd-fwupdate            update, asking in message boxes\r\n"
                           "       odd-fwupdate /check      tell for each drive whether the update\r\n"
                           "                                applies, change nothing\r\n"
                           "       odd-fwupdate /yes        update without asking (Yes in advance)\r\n"
                           "       odd-fwupdate /log:FILE   append a line of JSON per drive and run\r\n"
                           "       odd-fwupdate /image:PATH read the image (and PATH.sha256) from PATH\r\n"
                           "       odd-fwupdate /record:FILE check, and write what the drives answered\r\n"
                           "                                to FILE, which odd-fwupdate-sim replays\r\n"
                           "       odd-fwupdate /? | -h | --help | --version\r\n\r\n"
                           "Run it from a command prompt whose folder holds %s,\r\n"
                           "or name the image with /image:PATH.\r\n"
                           "On Windows NT, 2000, XP and later open the prompt as Administrator:\r\n"
                           "without write access to a drive the drive is not found.\r\n\r\n"
                           "Exit code: 0 every drive found was visited, 1 no drive was found, an\r\n"
                           "update failed or a question could not be shown, 2 an unknown option,\r\n"
                           "130 Ctrl-C or Ctrl-Break outside an update. With /check or /yes, the\r\n"
                           "most urgent of: 7 a drive is or may be left in its update firmware (a\r\n"
                           "person is needed), 1 an update failed, every drive in a working\r\n"
                           "firmware, 6 the image is missing, damaged or not this program's, 5 try\r\n"
                           "again later (a disc, a drive not ready, another run), 3 (/check) the\r\n"
                           "update applies, 4 no drive this program updates, 0 every drive is up\r\n"
                           "to date.\r\n",
                           updater_title().c_str(), drives.c_str(), images.c_str())
                   .c_str());
}

void print_version() {
    std::string images;
    for (int row = 0; row < MODEL_TABLE_ROWS; ++row)
        images += (row == 0 ? "" : ", ") + release_image_file_name(MODEL_TABLE[row]);
    print_text(format_text("%s (firmware %s, %s)\r\n", updater_title().c_str(), release_version_text().c_str(),
                           images.c_str())
                   .c_str());
}

}  // namespace

int main(int argc, char** argv) {
    install_win32_host();
    if (argc == 2 && is_help(argv[1])) {
        print_usage();
        end_win32_run();
        return 0;
    }
    if (argc == 2 && is_version(argv[1])) {
        print_version();
        end_win32_run();
        return 0;
    }
    std::string refused;
    if (const int wrong = parse_options(argc, argv, true, refused)) {
        const std::string refusal = format_text(
            wrong == OPTION_CONTRADICTS
                ? "odd-fwupdate: \"%s\" repeats or contradicts an option before it (odd-fwupdate /? shows the usage)\n"
            : wrong == OPTION_TOO_LONG ? "odd-fwupdate: the image path \"%s\" is too long; move the image nearer the root\n"
                                       : "odd-fwupdate: unknown option \"%s\" (odd-fwupdate /? shows the usage)\n",
            refused.c_str());
        std::fputs(refusal.c_str(), stderr);
        end_win32_run();
        return EXIT_USAGE;
    }
    const int code = updater_main(argc, argv);
    end_win32_run();
    return code;
}
