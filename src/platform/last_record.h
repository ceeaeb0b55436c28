// The record's last lines that a backend appends itself when the run is ended
// from outside (a signal, Ctrl-C, a closed console): a final line for each
// drive not yet recorded and the run's own line, kept in fixed buffers, split
// around the exit code and rendered with no allocation, so that a signal
// handler may write them.
#pragma once

#include <cstddef>
#include <cstring>

struct last_record {
    // Room for the lines of some eighty drives and the run's: a run that finds
    // more keeps none, and a record cut short is never written.
    static constexpr size_t CAPACITY = 64 * 1024;

    char path[512] = {};
    char before[CAPACITY] = {};  // the lines up to the exit code
    char after[8] = {};          // and after it ("}\n")
    char text[CAPACITY + 32] = {};  // as last rendered, a line end first at most
    size_t before_length = 0, after_length = 0;

    // Keeps `lines` (with one %d for the exit code; "%%" a percent sign) for
    // `path`; an empty path, or lines that do not fit, keep none.
    void prepare(const char* new_path, const char* lines) {
        path[0] = '\0';
        const size_t path_length = new_path ? std::strlen(new_path) : 0;
        if (path_length == 0 || path_length >= sizeof path || lines == nullptr) return;
        size_t at = 0, out = 0;
        const size_t length = std::strlen(lines);
        for (; at < length && out < sizeof before; ++at) {
            if (lines[at] == '%' && at + 1 < length && lines[at + 1] == '%') {
                before[out++] = lines[at++];
            } else if (lines[at] == '%' && at + 1 < length && lines[at + 1] == 'd') {
                break;
            } else {
                before[out++] = lines[at];
            }
        }
        const bool at_exit_code = at + 1 < length && lines[at] == '%' && lines[at + 1] == 'd';
        if (!at_exit_code || length - at - 2 >= sizeof after) return;
        before_length = out;
        after_length = length - at - 2;
        std::memcpy(after, lines + at + 2, after_length);
        std::memcpy(path, new_path, path_length + 1);
    }

    // The lines with `exit_code`, in `text`, after a line end when
    // `line_first` (the file ends inside a line): their length, or 0 when
    // none are kept.
    size_t render(int exit_code, bool line_first = false) {
        if (path[0] == '\0') return 0;
        size_t length = 0;
        if (line_first) text[length++] = '\n';
        std::memcpy(text + length, before, before_length);
        length += before_length;
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
