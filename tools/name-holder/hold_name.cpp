// hold-name.exe NAME: another process holding NAME as an event, not a mutex,
// for the Windows tests of the claim on the drives. It says "held" once the
// event exists and keeps it for two minutes, or until it is ended.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: hold-name NAME\n", stderr);
        return 2;
    }
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, argv[1]);
    if (event == nullptr) {
        std::fprintf(stderr, "hold-name: %s could not be made (error %lu)\n", argv[1],
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    Sleep(120000);
    return 0;
}
