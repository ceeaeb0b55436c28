// The line that names a drive left in its update firmware, as every backend
// makes it from the updater's notice: its %s becomes the backend's name of
// the drive.
#pragma once

#include <string>

inline std::string format_notice(const std::string& notice, const std::string& name) {
    std::string text = notice;
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, name);
    return text;
}
