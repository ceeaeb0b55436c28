// Writes the record of a machine: the scenario keys of docs/scenarios.md for
// what the run read of the host, each drive it listed, and its image.
#include "entry/machine_record.h"

#include <algorithm>
#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/drive_outcomes.h"
#include "entry/entry.h"
#include "entry/run_log.h"
#include "entry/run_opening.h"
#include "image/image_integrity.h"
#include "image/sha256.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/aspi_adapters.h"
#include "transport/transport.h"

namespace {

// Bytes as the scenario reader takes them: "05 80 05 32".
std::string hex_text(const uint8_t* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += format_text(i == 0 ? "%02X" : " %02X", bytes[i]);
    return "\"" + text + "\"";
}

std::string text_of(const uint8_t* bytes, size_t length) {
    return json_text(std::string(reinterpret_cast<const char*>(bytes), length));
}

// The host facts the run reads: its family and version, its code page, the
// Intel IDE driver's keys and, on Windows 95/98/Me, the ASPI manager's adapters.
std::string host_fields() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    host::GetVersionExA(&version);
    std::string keys;
    for (const char* key : INTEL_DRIVER_KEYS)
        if (registry_key_present(key)) keys += (keys.empty() ? "" : ", ") + json_text(key);
    std::string fields = format_text(
        "  \"host\": {\"platform_id\": %lu, \"major_version\": %lu, \"minor_version\": %lu, \"code_page\": %u, "
        "\"registry_keys\": [%s]}",
        static_cast<unsigned long>(version.dwPlatformId), static_cast<unsigned long>(version.dwMajorVersion),
        static_cast<unsigned long>(version.dwMinorVersion), oem_code_page, keys.c_str());
    if (win9x_family != 1) return fields;
    std::string adapters;
    for (int i = 0; i < adapter_count; ++i) {
        const uint8_t* identifier = adapter_identifiers[i];
        const size_t length = static_cast<size_t>(
            std::find(identifier, identifier + sizeof adapter_identifiers[i], 0) - identifier);
        adapters += format_text("%s{\"identifier\": %s, \"inquiry_fails\": %s}", i == 0 ? "" : ", ",
                                text_of(identifier, length).c_str(), adapter_answered[i] ? "false" : "true");
    }
    return fields + format_text(",\n  \"aspi\": {\"present\": %s, \"adapters\": [%s]}",
                                send_aspi_command != nullptr ? "true" : "false", adapters.c_str());
}

// The image the drives were judged by: its header's facts and its digest.
std::string image_fields(const loaded_image& image) {
    if (!image.has_bytes()) return "";
    const image_header& header = image.header;
    const std::string name = file_name_in_path(current_release.image_file_name);
    std::string fields = format_text(
        ",\n  \"images\": [{\"path\": %s, \"size\": %u, \"vendor_product\": %s, \"version\": %s, "
        "\"hardware_revision\": %s, \"image_vendor\": %s, \"second_vendor\": %s, \"part_kind\": %s, \"date\": %s",
        json_text(name).c_str(), image.length, text_of(header.vendor_product, sizeof header.vendor_product).c_str(),
        text_of(header.version_text, sizeof header.version_text).c_str(),
        text_of(header.hardware_revision, sizeof header.hardware_revision).c_str(),
        text_of(header.vendor, sizeof header.vendor).c_str(),
        text_of(header.second_vendor, sizeof header.second_vendor).c_str(), text_of(&header.part_kind, 1).c_str(),
        json_text(image_date_text(header)).c_str());
    if (image.first_read.known) fields += format_text(", \"sha256\": \"%s\"", sha256_text(image.first_read.sha256).c_str());
    return fields + "}]";
}

// Where the drive sits, and how an open of it failed when it did.
std::string place_fields(const listed_drive& drive) {
    std::string fields = drive.drive_letter != 0
                             ? format_text("\"letter\": \"%c\"", drive.drive_letter)
                             : format_text("\"adapter\": %d, \"target\": %d", drive.host_adapter, drive.target_id);
    const std::string path = drive_device_path(drive.drive_letter);
    char name[64] = {};
    host::device_name(path.c_str(), name, sizeof name);
    if (name[0] != '\0') fields += ", \"device_name\": " + json_text(name);
    char serial[128] = {};
    host::drive_serial(path.c_str(), serial, sizeof serial);
    if (serial[0] != '\0') fields += ", \"serial\": " + json_text(serial);
    if (drive.ieee1394) fields += ", \"ieee1394\": true";
    switch (drive.outcome.reason) {
    case outcome_reason::no_right: return fields + ", \"open_fails\": true, \"open_error\": 5";
    case outcome_reason::in_use: return fields + ", \"held_by_another\": true";
    case outcome_reason::cannot_open: return fields + ", \"open_fails\": true, \"open_error\": 2";
    default: return fields;
    }
}

// What the drive answered, as it came, and the same read as the emulator's
// fields, which answer once its firmware changes.
std::string answer_fields(const listed_drive& drive) {
    const uint8_t* inquiry = drive.outcome.before;
    const bool four_digit_year = inquiry[INQUIRY_DATE + 4] == '/';
    std::string fields = format_text(
        ", \"inquiry_bytes\": %s, \"peripheral\": %u, \"vendor\": %s, \"product\": %s, \"revision\": %s, "
        "\"revision_suffix\": %s, \"date\": %s",
        hex_text(inquiry, INQUIRY_LENGTH).c_str(), inquiry[0], text_of(inquiry + INQUIRY_VENDOR, 8).c_str(),
        text_of(inquiry + INQUIRY_PRODUCT, 16).c_str(), text_of(inquiry + INQUIRY_REVISION, 4).c_str(),
        text_of(inquiry + INQUIRY_REVISION + 4, 1).c_str(),
        text_of(inquiry + INQUIRY_DATE, four_digit_year ? 10 : 8).c_str());
    if (!drive.identity_read) return fields + ", \"identity_readable\": false";
    const uint8_t* identity = drive.identity;
    return fields + format_text(
                        ", \"identity_bytes\": %s, \"hardware_revision\": %s, \"signature\": %s, \"update_vendor\": %s, "
                        "\"starts_in_update_mode\": %s",
                        hex_text(identity, IDENTITY_LENGTH).c_str(),
                        text_of(identity + IDENTITY_HARDWARE_REVISION, 8).c_str(),
                        text_of(identity + IDENTITY_SIGNATURE, 8).c_str(),
                        text_of(identity + IDENTITY_UPDATE_VENDOR, 8).c_str(),
                        identity[IDENTITY_UPDATE_VENDOR] == ' ' ? "true" : "false");
}

// True when the drive answered its INQUIRY (a drive never reached or never
// answering has none).
bool inquiry_answered(const listed_drive& drive) {
    const uint8_t* inquiry = drive.outcome.before;
    return std::find_if(inquiry, inquiry + INQUIRY_LENGTH, [](uint8_t byte) { return byte != 0; }) != inquiry + INQUIRY_LENGTH;
}

bool open_failed(outcome_reason reason) {
    return reason == outcome_reason::no_right || reason == outcome_reason::in_use || reason == outcome_reason::cannot_open;
}

}  // namespace

std::string machine_record_text(const loaded_image& image) {
    std::string drives;
    for (int i = 0; i < listed_count; ++i) {
        const listed_drive& drive = listed_drives[i];
        // A drive that opened and never answered its INQUIRY is kept as one that does not answer.
        const std::string answers = inquiry_answered(drive)             ? answer_fields(drive)
                                    : open_failed(drive.outcome.reason) ? std::string()
                                                                        : ", \"faults\": [{\"command\": 1, \"kind\": \"timeout\"}]";
        drives += format_text("%s    {%s%s}", i == 0 ? "" : ",\n", place_fields(drive).c_str(), answers.c_str());
    }
    // A rehearsal is answered as the technician who goes ahead answers: Yes
    // to the question for all drives, to each drive's and to a retry, OK to
    // each notice.
    std::string answers;
    for (int i = 0; i < 2 + 4 * target_count; ++i) answers += i == 0 ? "\"yes\"" : ", \"yes\"";
    return format_text("{\n  \"recorded_by\": %s,\n", json_text(updater_title()).c_str()) + host_fields() +
           image_fields(image) + ",\n  \"drives\": [\n" + drives + "\n  ],\n  \"answers\": [" + answers + "]\n}\n";
}

int write_machine_record(const char* path, const loaded_image& image) {
    const std::string text = machine_record_text(image);
    if (host::write_file_whole(path, text.data(), text.size()) == 0) return 0;
    host::write_notice(format_text(notice_text(NOTICE_RECORD_NOT_WRITTEN), path).c_str());
    return -1;
}
