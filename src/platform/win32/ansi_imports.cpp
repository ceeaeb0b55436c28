// The three Unicode calls the tool chain's own runtime makes (a semaphore of
// its exception and thread support, the C runtime's look-up of msvcrt.dll and
// of the system's random source), answered by their ANSI twins. Windows 95, 98
// and Me carry the Unicode calls only as stubs that fail, so the program must
// import no W function at all: these definitions take the place of the import
// table slots the runtime calls through, and the linker then imports nothing
// for them.
#include <windows.h>

#if !defined(_WIN64)

namespace {

// The runtime passes plain module names; a name that does not convert fails
// as the call would on a system without that module.
bool to_ansi(LPCWSTR wide, char* ansi, int size) {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, size, nullptr, nullptr) > 0;
}

HANDLE WINAPI create_semaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    char ansi[MAX_PATH];
    if (name != nullptr && !to_ansi(name, ansi, sizeof ansi)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, name != nullptr ? ansi : nullptr);
}

HMODULE WINAPI get_module_handle(LPCWSTR name) {
    char ansi[MAX_PATH];
    if (name == nullptr) return GetModuleHandleA(nullptr);
    if (!to_ansi(name, ansi, sizeof ansi)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return GetModuleHandleA(ansi);
}

HMODULE WINAPI load_library(LPCWSTR name) {
    char ansi[MAX_PATH];
    if (name == nullptr || !to_ansi(name, ansi, sizeof ansi)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryA(ansi);
}

}  // namespace

// The import table slots, by the names the runtime's objects refer to.
extern "C" {
decltype(&create_semaphore) create_semaphore_slot __asm__("__imp__CreateSemaphoreW@16") = create_semaphore;
decltype(&get_module_handle) get_module_handle_slot __asm__("__imp__GetModuleHandleW@4") = get_module_handle;
decltype(&load_library) load_library_slot __asm__("__imp__LoadLibraryW@4") = load_library;
}

#endif
