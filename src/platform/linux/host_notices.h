// The Linux host's own notices on standard error, in English and in Japanese
// (code page 932 bytes, shown as the terminal shows the console).
#pragma once

enum class host_notice {
    held,            // %s: the device
    access_refused,  // %s twice: the device
    no_capability,   // %s: the device
    target,          // %d: the drive's number, %c: its letter, %s: the device
    came_back,       // %s: the device
    read_refused,    // %s twice: the device (a check, which only reads)
    detached,        // %s: the device, gone and not back
    not_proven,      // %s: the device, back under its name as a drive not proven the same
};

const char* host_notice_text(host_notice notice, bool japanese);
