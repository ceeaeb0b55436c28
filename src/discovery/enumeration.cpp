// Owns the target table and the drive information area: finds the drives
// this build can update, by drive letter through pass-through or by host
// adapter and SCSI id through ASPI, and takes media change notification
// control of every CD/DVD drive met on the way.
#include "discovery/enumeration.h"

#include <cstring>

#include "discovery/firmware_signs.h"
#include "discovery/host_environment.h"
#include "model/drive_model.h"
#include "transport/aspi_adapters.h"
#include "transport/transport.h"

target_record target_table[MAX_TARGETS];
int target_count = 0;
int current_target = 0;
uint8_t drive_info[64];
listed_drive listed_drives[MAX_LISTED];
int listed_count = 0;
bool drives_unlisted = false;

namespace {

constexpr char FIRST_LETTER = 'D';
constexpr char LAST_LETTER = 'Z';

constexpr uint8_t PERIPHERAL_WRITE_ONCE = 0x04;
constexpr uint8_t PERIPHERAL_CD_DVD = 0x05;

const char* const ESDI_IDENTIFIER = "ESDI_506";
// IDE channels hold a master and a slave; a SCSI bus ids 0 to 6 beside its adapter.
constexpr int LAST_IDE_ID = 1;
constexpr int LAST_SCSI_ID = 6;

constexpr uint32_t MODEL_FAMILY_MASK = 0xFF00;
const char* const BLANK_UPDATE_VENDOR = "        ";

bool names_model(const uint8_t* inquiry_data, const model_row& row) {
    const uint8_t* vendor = inquiry_data + INQUIRY_VENDOR;
    if (std::memcmp(vendor, row.vendor_id, VENDOR_WIDTH) == 0 &&
        std::memcmp(inquiry_data + INQUIRY_PRODUCT, row.product_id, PRODUCT_WIDTH) == 0)
        return true;
    for (const char* identification : FIXED_IDENTIFICATIONS)
        if (std::memcmp(vendor, identification, IDENTIFICATION_WIDTH) == 0) return true;
    return false;
}

bool identified_by_update_vendor(uint32_t model_code) {
    for (uint32_t family : MODEL_FAMILIES_BY_VENDOR)
        if ((model_code & MODEL_FAMILY_MASK) == family) return true;
    return false;
}

// A drive in its update firmware answers a blank update vendor and carries the
// maker's update vendor in its signature instead.
bool update_vendor_matches(const model_row& row) {
    if (std::memcmp(drive_info + IDENTITY_UPDATE_VENDOR, row.update_vendor, IDENTITY_FIELD_WIDTH) == 0)
        return true;
    return std::memcmp(drive_info + IDENTITY_UPDATE_VENDOR, BLANK_UPDATE_VENDOR, IDENTITY_FIELD_WIDTH) == 0 &&
           std::memcmp(drive_info + IDENTITY_SIGNATURE, row.update_vendor, IDENTITY_FIELD_WIDTH) == 0;
}

// Appends a record and returns its number, or -1 when the table is full.
int append_target() {
    if (target_count >= MAX_TARGETS) return -1;
    return target_count++;
}

// Lists the drive at `letter` (or `adapter`, `id`): its place, or -1 when the list is full.
int list_drive(char letter, int adapter, int id) {
    if (listed_count >= MAX_LISTED) return -1;
    listed_drive& drive = listed_drives[listed_count];
    drive = listed_drive{};
    drive.drive_letter = letter;
    drive.host_adapter = adapter;
    drive.target_id = id;
    return listed_count++;
}

// The drive just listed could not be reached or read, for `reason`, with the
// system's words for it when it gave any.
void list_unreached(char letter, int adapter, int id, outcome_reason reason, const char* words) {
    const int place = list_drive(letter, adapter, id);
    if (place < 0) return;
    drive_outcome& outcome = listed_drives[place].outcome;
    outcome.fate = drive_fate::unreadable;
    outcome.reason = reason;
    outcome.system_error = words;
}

// The identity block enumeration just read of `drive` (drive_info).
void keep_identity(listed_drive& drive, const command_outcome& identity_read) {
    drive.identity_read = !identity_read.failed();
    std::memcpy(drive.identity, drive_info, sizeof drive.identity);
}

// A drive met on the way whose answers do not make it one of the targets:
// found in its update firmware, unreadable, or another model.
void list_other_drive(char letter, int adapter, int id, const uint8_t* inquiry, const command_outcome& identity_read,
                      const model_rows& models) {
    const int place = list_drive(letter, adapter, id);
    if (place < 0) return;
    drive_outcome& outcome = listed_drives[place].outcome;
    std::memcpy(outcome.before, inquiry, sizeof outcome.before);
    keep_identity(listed_drives[place], identity_read);
    bool names_a_model = false;
    for (int row = 0; row < models.count; ++row) names_a_model = names_a_model || names_model(inquiry, models.first[row]);
    const outcome_reason unread = unless_detached(outcome_reason::identity_unreadable, identity_read);
    if (answers_as_update_firmware(inquiry)) {
        // Only this model's update firmware answers so, whatever its identity
        // block shows: a person must see to it.
        outcome.fate = drive_fate::update_firmware;
        outcome.reason = identity_read.failed() ? unread : outcome_reason::another_signature;
        outcome.in_update_firmware = 1;
    } else if (identity_read.failed() && names_a_model) {
        outcome.fate = drive_fate::unreadable;
        outcome.reason = unread;
    } else {
        outcome.fate = drive_fate::not_this_model;
        outcome.reason = outcome_reason::another_vendor;
        return;
    }
    if (identity_read.failed()) outcome.system_error = identity_read.system_words;
}

// The system's words for the call that failed last.
std::string system_words() {
    char words[sizeof command_outcome::system_words] = {};
    host::system_error_text(words, sizeof words);
    return words;
}

// Makes target `number`, which answered `inquiry`, the drive just listed.
void list_target(int number, const uint8_t* inquiry, const command_outcome& identity_read) {
    const int place = list_drive(0, -1, -1);
    if (place < 0) return;
    std::memcpy(listed_drives[place].outcome.before, inquiry, INQUIRY_LENGTH);
    keep_identity(listed_drives[place], identity_read);
    target_record& target = target_table[number];
    listed_drives[place].drive_letter = target.drive_letter;
    listed_drives[place].host_adapter = target.host_adapter;
    listed_drives[place].target_id = target.target_id;
    listed_drives[place].target = number;
    target.listed = place;
}

bool is_optical(uint8_t peripheral) { return peripheral == PERIPHERAL_WRITE_ONCE || peripheral == PERIPHERAL_CD_DVD; }
bool is_optical_type(int device_type) { return device_type >= 0 && is_optical(static_cast<uint8_t>(device_type)); }

void enumerate_letters(const model_rows& models) {
    notification_count = 0;
    for (char letter = FIRST_LETTER; letter <= LAST_LETTER; ++letter) {
        // What the system calls an optical drive is listed, whether or not it
        // can be reached; any other letter only when it answers as one.
        const char root[] = {letter, ':', '\\', '\0'};
        const bool optical_letter = host::GetDriveTypeA(root) == DRIVE_CDROM;
        if (open_drive_device(letter, current_target) != 0) {
            // The system says a drive is there that the run has no right to
            // (Linux: no access to its device, or no CAP_SYS_RAWIO; Windows: a
            // user who is not an administrator), or that another program or
            // run holds, so that nothing of this run may reach it.
            const DWORD error = host::GetLastError();
            if (error == ERROR_PRIVILEGE_NOT_HELD) {
                list_unreached(letter, -1, -1, outcome_reason::no_right, "");
            } else if (error == ERROR_SHARING_VIOLATION) {
                list_unreached(letter, -1, -1, outcome_reason::in_use, system_words().c_str());
            } else if (optical_letter) {
                list_unreached(letter, -1, -1,
                               error == ERROR_ACCESS_DENIED ? outcome_reason::no_right : outcome_reason::cannot_open,
                               system_words().c_str());
            }
            continue;
        }
        const command_outcome probe = pass_through_inquiry(drive_data_buffer.address);
        if (probe.failed()) {
            close_drive_device();
            if (optical_letter) list_unreached(letter, -1, -1, reason_of_command(probe), probe.system_words);
            continue;
        }
        uint8_t peripheral = drive_data_buffer.address[0];
        // Taken from every CD/DVD drive, whoever made it, so that the system's
        // media change polling keeps away from the drives while they are updated.
        if (is_optical(peripheral)) take_notification_control(letter);
        const command_outcome identity_read = pass_through_read_drive_info(drive_info);
        if (identity_read.failed()) std::memset(drive_info, 0, sizeof drive_info);
        const int listed_before = listed_count;
        const int row = identify_model(drive_data_buffer.address, models);
        if (row >= 0) {
            int number = append_target();
            if (number >= 0) {
                target_table[number].drive_letter = letter;
                target_table[number].model_row = row;
                target_table[number].in_update_firmware = may_run_update_firmware(drive_data_buffer.address, drive_info);
                list_target(number, drive_data_buffer.address, identity_read);
                current_target = number;
            }
        } else if (optical_letter || is_optical(peripheral)) {
            list_other_drive(letter, -1, -1, drive_data_buffer.address, identity_read, models);
        }
        if (listed_count > listed_before) listed_drives[listed_count - 1].ieee1394 = ieee1394_in_use();
        close_drive_device();
    }
}

void scan_adapter(const model_rows& models, int adapter, int last_id) {
    for (int id = 0; id <= last_id; ++id) {
        const command_outcome probe = aspi_inquiry(adapter, id, drive_data_buffer.address);
        if (probe.failed()) {
            // No device at that id is no drive; an optical drive the manager
            // knows there that did not answer is one that could not be reached;
            // an adapter that refuses every request hides what it holds.
            if (probe.kind == outcome_kind::not_sent && probe.system_error == SS_INVALID_HA) drives_unlisted = true;
            if (probe.kind != outcome_kind::not_sent && is_optical_type(aspi_device_type(adapter, id)))
                list_unreached(0, adapter, id, reason_of_command(probe), probe.system_words);
            continue;
        }
        const command_outcome identity_read = aspi_read_drive_info(adapter, id, drive_info);
        if (identity_read.failed()) std::memset(drive_info, 0, sizeof drive_info);
        const int row = identify_model(drive_data_buffer.address, models);
        if (row < 0) {
            if (is_optical(drive_data_buffer.address[0]))
                list_other_drive(0, adapter, id, drive_data_buffer.address, identity_read, models);
            continue;
        }
        int number = append_target();
        if (number < 0) return;
        target_table[number].host_adapter = adapter;
        target_table[number].target_id = id;
        target_table[number].model_row = row;
        target_table[number].in_update_firmware = may_run_update_firmware(drive_data_buffer.address, drive_info);
        list_target(number, drive_data_buffer.address, identity_read);
    }
}

void enumerate_adapters(const model_rows& models) {
    // A manager with no host adapter shows no drive, whatever is there.
    if (send_aspi_command == nullptr || adapter_count == 0) drives_unlisted = true;
    for (int adapter = 0; adapter < adapter_count; ++adapter) {
        if (!adapter_answered[adapter]) {
            drives_unlisted = true;
            continue;
        }
        const uint8_t* identifier = adapter_identifiers[adapter];
        if (std::memcmp(identifier, ESDI_IDENTIFIER, ADAPTER_IDENTIFIER_COMPARED) == 0) {
            scan_adapter(models, adapter, LAST_IDE_ID);
        } else if (std::memcmp(identifier, INTEL_ATA_IDENTIFIER, ADAPTER_IDENTIFIER_COMPARED) == 0) {
            intel_ide_driver = 1;
            scan_adapter(models, adapter, LAST_IDE_ID);
        } else if (intel_ide_driver != 1) {
            // Under the Intel IDE driver the other adapters are left alone.
            scan_adapter(models, adapter, LAST_SCSI_ID);
        }
    }
}

}  // namespace

// Returns the number of targets found, also kept in target_count; 0 when the
// host could not be prepared.
int enumerate_targets(const model_rows& models) {
    target_count = 0;
    listed_count = 0;
    drives_unlisted = !working_buffers_ready();
    if (drives_unlisted) return 0;
    if (win9x_family)
        enumerate_adapters(models);
    else
        enumerate_letters(models);
    return target_count;
}

command_target target_of(int target) {
    if (target < 0 || target >= target_count) return {};
    const target_record& record = target_table[target];
    return {true, target, record.host_adapter, record.target_id, record.drive_letter};
}

int identify_model(const uint8_t* inquiry_data, const model_rows& models) {
    for (int row = 0; row < models.count; ++row) {
        const model_row& model = models.first[row];
        if (!names_model(inquiry_data, model)) continue;
        if (!identified_by_update_vendor(model.model_code) || update_vendor_matches(model)) return row;
    }
    return -1;
}

drive_outcome& outcome_of_target(int target) {
    static drive_outcome unlisted;
    const int place = target >= 0 && target < target_count ? target_table[target].listed : -1;
    if (place < 0) {
        unlisted = drive_outcome{};
        return unlisted;
    }
    return listed_drives[place].outcome;
}

void reset_enumeration_state() {
    for (listed_drive& drive : listed_drives) drive = listed_drive{};
    listed_count = 0;
    drives_unlisted = false;
    for (target_record& record : target_table) record = target_record{};
    target_count = 0;
    current_target = 0;
    std::memset(drive_info, 0, sizeof drive_info);
}
