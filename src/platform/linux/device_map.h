// The one map of the Linux host: drive letters D: to Z: stand for /dev/sr0 to
// /dev/sr22, in that order (23 devices).
#pragma once

#include <cctype>
#include <cstring>
#include <string>

constexpr char FIRST_DEVICE_LETTER = 'D';
constexpr char LAST_DEVICE_LETTER = 'Z';
constexpr int DEVICE_COUNT = LAST_DEVICE_LETTER - FIRST_DEVICE_LETTER + 1;

// The device a Windows device path names: "\\.\D:" is "/dev/sr0", "\\.\Z:"
// is "/dev/sr22" (the letter in either case); empty for any other path.
inline std::string device_for_path(const char* windows_path) {
    if (windows_path == nullptr || std::strlen(windows_path) != 6 || std::strncmp(windows_path, "\\\\.\\", 4) != 0 ||
        windows_path[5] != ':')
        return {};
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(windows_path[4])));
    if (letter < FIRST_DEVICE_LETTER || letter > LAST_DEVICE_LETTER) return {};
    return "/dev/sr" + std::to_string(letter - FIRST_DEVICE_LETTER);
}
