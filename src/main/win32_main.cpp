// odd-fwupdate.exe: the updater on the real Windows host.
#include "entry/entry.h"
#include "platform/win32/win32_host.h"

int main(int argc, char** argv) {
    install_win32_host();
    return updater_main(argc, argv);
}
