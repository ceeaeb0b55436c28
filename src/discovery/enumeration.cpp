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
int drives_refused = 0;
uint8_t drive_info[64];

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

void enumerate_letters(const model_rows& models) {
    notification_count = 0;
    for (char letter = FIRST_LETTER; letter <= LAST_LETTER; ++letter) {
        if (open_drive_device(letter, current_target) != 0) {
            // The system says a drive is there that the run has no right to
            // (Linux: no access to its device, or no CAP_SYS_RAWIO). Windows
            // refuses a user's every letter alike, disks too, and says nothing here.
            if (host::GetLastError() == ERROR_PRIVILEGE_NOT_HELD) ++drives_refused;
            continue;
        }
        if (pass_through_inquiry(drive_data_buffer.address) != 0) {
            close_drive_device();
            continue;
        }
        uint8_t peripheral = drive_data_buffer.address[0];
        // Taken from every CD/DVD drive, whoever made it, so that the system's
        // media change polling keeps away from the drives while they are updated.
        if (peripheral == PERIPHERAL_WRITE_ONCE || peripheral == PERIPHERAL_CD_DVD) take_notification_control(letter);
        if (pass_through_read_drive_info(drive_info) != 0) std::memset(drive_info, 0, sizeof drive_info);
        if (identify_model(drive_data_buffer.address, models) >= 0) {
            int number = append_target();
            if (number >= 0) {
                target_table[number].drive_letter = letter;
                target_table[number].in_update_firmware = may_run_update_firmware(drive_data_buffer.address, drive_info);
                current_target = number;
            }
        }
        close_drive_device();
    }
}

void scan_adapter(const model_rows& models, int adapter, int last_id) {
    for (int id = 0; id <= last_id; ++id) {
        if (aspi_inquiry(adapter, id, drive_data_buffer.address) != 0) continue;
        if (aspi_read_drive_info(adapter, id, drive_info) != 0) std::memset(drive_info, 0, sizeof drive_info);
        if (identify_model(drive_data_buffer.address, models) < 0) continue;
        int number = append_target();
        if (number < 0) return;
        target_table[number].host_adapter = adapter;
        target_table[number].target_id = id;
        target_table[number].in_update_firmware = may_run_update_firmware(drive_data_buffer.address, drive_info);
    }
}

void enumerate_adapters(const model_rows& models) {
    for (int adapter = 0; adapter < adapter_count; ++adapter) {
        if (!adapter_answered[adapter]) continue;
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
    drives_refused = 0;
    if (!working_buffers_ready()) return 0;
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

void reset_enumeration_state() {
    for (target_record& record : target_table) record = target_record{};
    target_count = 0;
    current_target = 0;
    drives_refused = 0;
    std::memset(drive_info, 0, sizeof drive_info);
}
