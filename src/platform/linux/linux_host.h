// Installs the Linux calls as the platform table. Drive letters D: to Z: stand
// for /dev/sr0 to /dev/sr22; commands reach them through SG_IO.
#pragma once

#include <string>

void install_linux_host();

// The device a Windows device path names: "\\.\D:" is "/dev/sr0", "\\.\Z:"
// is "/dev/sr22" (the letter in either case); empty for any other path.
std::string device_for_path(const char* windows_path);
