// odd-fwupdate: the updater on a Linux host, drive letters D: to Z: standing
// for /dev/sr0 to /dev/sr22. With no argument it runs the update; --check,
// --yes, --log FILE, --image PATH and --sha256 HEX are the options for many
// machines; --help, -h and --version answer without opening a device; any
// other argument is a usage error (exit code 2), so that no mistyped option
// can flash a drive.
#include <cstdio>
#include <cstring>
#include <string>

#include "entry/entry.h"
#include "entry/options.h"
#include "platform/linux/linux_host.h"
#include "platform/linux/update_window.h"

namespace {

void print_usage() {
    init_firmware_descriptor();
    const std::string names = every_row([](const model_row& model) {
        std::string name = std::string(model.vendor_id, sizeof model.vendor_id) +
                           std::string(model.product_id, sizeof model.product_id);
        return name.erase(name.find_last_not_of(' ') + 1);
    });
    const std::string images = every_row([](const model_row& model) { return std::string(model.image_file_name); });
    std::printf(
        "Usage: odd-fwupdate [--check] [--yes] [--log FILE] [--image PATH] [--record FILE]\n"
        "       odd-fwupdate --help | --version\n"
        "\n"
        "Updates the firmware of the %s drives of this machine.\n"
        "Run it with no argument from the folder that holds the image file %s\n"
        "(or name the image elsewhere with --image PATH); it asks before anything that\n"
        "cannot be undone, and an update once started is not cut short.\n"
        "\n"
        "Drive letters stand for the optical drives: D: = /dev/sr0, E: = /dev/sr1, ...,\n"
        "Z: = /dev/sr22.\n"
        "\n"
        "It needs write access to the drive and the CAP_SYS_RAWIO capability: run it as\n"
        "root, or give the user write access to the drive (the cdrom group) and the\n"
        "program the capability (setcap cap_sys_rawio+ep odd-fwupdate).\n"
        "\n"
        "For many machines:\n"
        "  --check     tells for each drive whether the update applies, in one line,\n"
        "              and changes nothing; read access to the drive is enough\n"
        "  --yes       updates without asking: Yes given in advance to every question\n"
        "  --log FILE  appends one line of JSON per drive and per run to FILE\n"
        "  --image PATH  reads the image from PATH, and its checksum from PATH.sha256,\n"
        "                instead of %s in the current folder\n"
        "  --sha256 HEX  the image's SHA-256, 64 hexadecimal digits; --yes updates a\n"
        "                drive only with an image whose SHA-256 it was given: here, in\n"
        "                the checksum file beside the image, or pinned in the program\n"
        "  --record FILE  checks every drive as --check does and writes to FILE what this\n"
        "                machine's drives answered, a scenario odd-fwupdate-sim replays:\n"
        "                to rehearse the update before the flash, or to send to support\n"
        "\n"
        "Exit codes: 0 every drive found was visited; 1 no drive was found, an error\n"
        "stopped the run, or a question could not be shown; 2 a wrong argument;\n"
        "128+N ended by signal N. With --check or --yes, the most urgent of: 7 a drive\n"
        "is or may be left in its update firmware (a person is needed); 1 an update\n"
        "failed, every drive in a working firmware, or a drive this user may not\n"
        "open; 6 the image is missing, damaged or not this program's; 5 try again\n"
        "later (a disc, a drive not ready, another run); 3 (--check) the update\n"
        "applies; 4 no drive this program updates; 0 every drive is up to date.\n",
        names.c_str(), images.c_str(), images.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    install_linux_host();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        print_usage();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("odd-fwupdate (%s)\n", updater_title().c_str());
        return 0;
    }
    std::string refused;
    if (const int wrong = parse_options(argc, argv, false, refused)) {
        std::fprintf(stderr,
                     wrong == OPTION_CONTRADICTS
                         ? "odd-fwupdate: '%s' repeats or contradicts an option before it (see odd-fwupdate --help)\n"
                     : wrong == OPTION_TOO_LONG ? "odd-fwupdate: the image path '%s' is too long; move the image nearer the root\n"
                                                : "odd-fwupdate: unexpected argument '%s' (see odd-fwupdate --help)\n",
                     refused.c_str());
        return EXIT_USAGE;
    }
    const int exit_code = updater_main(argc, argv);
    // A signal held during a drive's update ends the program once the run has
    // stopped for it; with no drive left the run ended as without it.
    if (run_stopped_by_interrupt) end_by_held_signal();
    return exit_code;
}
