// The record's last line that a backend appends itself when the run is ended
// from outside (a signal, Ctrl-C, a closed console): kept in fixed buffers,
// split around the exit code, and written with no allocation, so that a
// signal handler may write it.
#pragma once

#include <cstddef>
#include <cstring>

struct last_record {
    char path[512] = {};
    char before[1536] = {};  // the line up to the exit code
    char after[8] = {};      // and after it ("}\n")
    size_t before_length = 0, after_length = 0;

    // Keeps `line` (with one %d for the exit code; "%%" a percent sign) for
    // `path`; an empty path, or a line that does not fit, keeps none.
    void prepare(const char* new_path, const char* line) {
        path[0] = '\0';
        const size_t path_length = new_path ? std::strlen(new_path) : 0;
        if (path_length == 0 || path_length >= sizeof path || line == nullptr) return;
        size_t at = 0, out = 0;
        const size_t length = std::strlen(line);
        for (; at < length && out < sizeof before; ++at) {
            if (line[at] == '%' && at + 1 < length && line[at + 1] == '%') {
                before[out++] = line[at++];
            } else if (line[at] == '%' && at + 1 < length && line[at + 1] == 'd') {
                break;
            } else {
                before[out++] = line[at];
            }
        }
        if (at >= length || length - at - 2 >= sizeof after) return;
        before_length = out;
        after_length = length - at - 2;
        std::memcpy(after, line + at + 2, after_length);
        std::memcpy(path, new_path, path_length + 1);
    }

    // The line with `exit_code` into `text` (at least before_length + 20 +
    // after_length bytes); its length, or 0 when none is kept.
    size_t render(int exit_code, char* text, size_t capacity) const {
        if (path[0] == '\0' || capacity < before_length + after_length + 12) return 0;
        std::memcpy(text, before, before_length);
        size_t length = before_length;
        char digits[12];
        size_t count = 0;
        unsigned value = exit_code < 0 ? 0u - static_cast<unsigned>(exit_code) : static_cast<unsigned>(exit_code);
        do digits[count++] = static_cast<char>('0' + value % 10);
        while ((value /= 10) != 0);
        if (exit_code < 0) text[length++] = '-';
        while (count > 0) text[length++] = digits[--count];
        std::memcpy(text + length, after, after_length);
        return length + after_length;
    }
};
