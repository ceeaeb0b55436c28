// odd-fwupdate: the updater on a Linux host, drive letters D: to Z: standing
// for /dev/sr0 to /dev/sr22.
#include "entry/entry.h"
#include "platform/linux/linux_host.h"

int main(int argc, char** argv) {
    install_linux_host();
    return updater_main(argc, argv);
}
