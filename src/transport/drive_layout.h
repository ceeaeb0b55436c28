// The drive's wire layout as the updater speaks it: the opcodes, the READ
// BUFFER and WRITE BUFFER modes with the drive maker's buffers, where the
// fields of the INQUIRY answer and of the identity block lie, the sense the
// updater decides by, the class of the generic SCSI signature, and the
// time-outs commands carry by default.
#pragma once

#include <cstdint>

// Opcodes.
constexpr uint8_t OP_TEST_UNIT_READY = 0x00;
constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_START_STOP_UNIT = 0x1B;
constexpr uint8_t OP_WRITE_BUFFER = 0x3B;
constexpr uint8_t OP_READ_BUFFER = 0x3C;

// READ BUFFER and WRITE BUFFER modes (the low five bits of CDB byte 1).
constexpr int MODE_DATA = 2;             // READ BUFFER: the identity block
constexpr int MODE_ENTER_UPDATE = 4;     // the mode block that starts the update firmware
constexpr int MODE_LEAVE_UPDATE = 5;     // the mode block that makes the drive re-flash and restart
constexpr int MODE_IMAGE_BLOCK = 7;      // one image block at its offset
constexpr uint8_t BUFFER_MODE_BITS = 0x1F;

// The drive maker's buffers.
constexpr int BUFFER_IMAGE = 0xF0;
constexpr int BUFFER_IDENTITY = 0xF1;
constexpr int BUFFER_MODE_BLOCK = 0xFF;

// CDB fields of READ BUFFER and WRITE BUFFER.
constexpr uint32_t BUFFER_OFFSET_LIMIT = 0xFFFFFF;  // 24 bits
constexpr uint32_t BUFFER_LENGTH_LIMIT = 0xFFFF;    // 16 bits: CDB byte 6 stays 0

// The INQUIRY answer; text fields are blank-padded without a terminator.
constexpr uint8_t SCSI_STATUS_BUSY = 0x08;

constexpr uint32_t INQUIRY_LENGTH = 96;
constexpr int INQUIRY_PERIPHERAL = 0;
constexpr int INQUIRY_VENDOR = 8;           // 8, then the product: 24 compared as one
constexpr int INQUIRY_PRODUCT = 16;         // 16
constexpr int INQUIRY_REVISION = 32;        // 4, "M.mm", then one more character shown
constexpr int INQUIRY_DATE = 37;            // "YY/MM/DD" or "YYYY/MM/DD"
// The revision's first three characters while the update firmware runs.
constexpr char UPDATE_FIRMWARE_REVISION[] = "000";
constexpr int VENDOR_WIDTH = 8;
constexpr int PRODUCT_WIDTH = 16;
constexpr int IDENTIFICATION_WIDTH = VENDOR_WIDTH + PRODUCT_WIDTH;

// The identity block (READ BUFFER mode 2, buffer 0xF1).
constexpr uint32_t IDENTITY_LENGTH = 48;
constexpr int IDENTITY_HARDWARE_REVISION = 16;  // 8; its first 4 name the interface
constexpr int IDENTITY_SIGNATURE = 24;          // 8
constexpr int IDENTITY_UPDATE_VENDOR = 32;      // 8; a blank first byte: the update firmware runs
constexpr int IDENTITY_FIELD_WIDTH = 8;

// Fixed-format sense, and the values the updater decides by.
constexpr int SENSE_LENGTH = 18;
constexpr int SENSE_KEY_BYTE = 2;
constexpr int SENSE_ASC_BYTE = 12;
constexpr int SENSE_ASCQ_BYTE = 13;
constexpr uint8_t SENSE_NOT_READY = 0x02;
constexpr uint8_t SENSE_UNIT_ATTENTION = 0x06;
constexpr uint8_t ASC_NOT_READY = 0x04;
constexpr uint8_t ASCQ_BECOMING_READY = 0x01;
constexpr uint8_t ASCQ_INITIALIZING_REQUIRED = 0x02;
constexpr uint8_t ASC_NO_MEDIUM = 0x3A;

// The OEM class of the generic signature "GENERAL " on a SCSI interface: its
// drives answer slowly and restart their own way.
constexpr int OEM_CLASS_SCSI_GENERAL = 0x300;

// Time-outs in ms.
constexpr int32_t DEFAULT_COMMAND_TIMEOUT_MS = 1000;
constexpr int32_t INQUIRY_TIMEOUT_MS = 5000;
constexpr int32_t INQUIRY_TIMEOUT_IEEE1394_MS = 1000;  // the IEEE 1394 route answers at once or not at all
constexpr int32_t IMAGE_BLOCK_TIMEOUT_MS = 20000;
// What a command without a time-out of its own is given, on either route.
constexpr int32_t UNTIMED_COMMAND_LIMIT_MS = 60000;

// The probes of enumeration send the same two commands on both routes.
inline constexpr uint8_t INQUIRY_PROBE_CDB[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
inline constexpr uint8_t DRIVE_INFO_PROBE_CDB[10] = {0x3C, 0x02, 0xF1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00};
