// Writes the report of the emulated ASPI manager's drives.
#include "tools/aspi-emu/drive_report.h"

#include <cstdio>
#include <fstream>

namespace aspi_emu {
namespace {

std::string drive_name(const sim::drive_slot& slot) {
    return "drive_" + std::to_string(slot.adapter) + "_" + std::to_string(slot.target);
}

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// The outcome as the trace names it, and the sense of a refusal.
std::string outcome(const emu::command_result& r) {
    std::string text = sim::outcome_name(r);
    if (r.sense_length) text += " sense " + sim::hex_bytes(r.sense, r.sense_length);
    return text;
}

// Written beside the target and renamed over it, so a reader never sees half a file.
bool replace_file(const std::string& path, const char* bytes, size_t length) {
    const std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes, static_cast<std::streamsize>(length));
        if (!out) return false;
    }
    std::remove(path.c_str());
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

bool replace_file(const std::string& path, const std::string& text) {
    return replace_file(path, text.data(), text.size());
}

}  // namespace

bool write_drive_report(const std::string& folder, const std::vector<sim::drive_slot>& drives, bool with_images) {
    bool written = true;
    std::string summary;
    for (const sim::drive_slot& slot : drives) {
        if (!slot.drive || slot.adapter < 0) continue;
        const emu::virtual_drive& drive = *slot.drive;
        summary += "adapter=" + std::to_string(slot.adapter) + " target=" + std::to_string(slot.target) +
                   " revision=" + trimmed(drive.reported_revision()) +
                   " update_mode=" + std::to_string(drive.in_update_mode() ? 1 : 0) +
                   " reflashes=" + std::to_string(drive.reflash_count()) +
                   " flashed_bytes=" + std::to_string(drive.flashed_image().size()) +
                   " commands=" + std::to_string(drive.log().size()) + "\n";

        std::string log;
        for (const emu::command_record& c : drive.log())
            log += sim::hex_bytes(c.cdb.data(), c.cdb.size()) + " dir=" + std::to_string(c.direction) + " len=" +
                   std::to_string(c.data_length) + " at=" + std::to_string(c.at_ms) + " " + outcome(c.result) + "\n";
        const std::string base = folder + "/" + drive_name(slot);
        written = replace_file(base + ".log", log) && written;
        if (with_images) {
            const std::vector<uint8_t>& image = drive.flashed_image();
            written = replace_file(base + ".bin", reinterpret_cast<const char*>(image.data()), image.size()) && written;
        }
    }
    return replace_file(folder + "/drives.txt", summary) && written;
}

bool write_error_report(const std::string& folder, const std::string& reason) {
    return replace_file(folder + "/error.txt", reason + "\n");
}

}  // namespace aspi_emu
