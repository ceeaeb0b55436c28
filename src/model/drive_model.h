// The one drive model this build updates and the release it installs: its
// descriptor row, how its drives identify themselves in normal and in update
// firmware, the vendor texts of its images, the access values of its mode
// switches and its OEM classes. A build for another model or release changes
// these files (drive_model.h, drive_model.cpp) and no other.
//
// The emulated drive (emulator/) keeps its own copy of these facts on purpose:
// it plays the drive, an oracle independent of what the updater believes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// --- the release and the descriptor row ----------------------------------------

constexpr int MAX_MODEL_ROWS = 8;

// One drive model this build can update, and the release it installs there.
// Text fields are blank-padded without a terminator, compared over their width.
struct model_row {
    char image_file_name[128];  // zero-terminated
    char update_vendor[8];
    char vendor_id[8];
    char product_id[16];
    uint32_t model_code;
    uint32_t minimum_image_date;  // BCD 0xYYYYMMDD
    uint32_t access_code;
};

// The filled rows of a descriptor, in its order (at most MAX_MODEL_ROWS).
struct model_rows {
    const model_row* first;
    int count;
};

constexpr uint16_t RELEASE_VERSION = 0x128;  // 0xMmm, until the image header says otherwise
constexpr char IMAGE_FILE_FORMAT[] = "A0013431.%03x";  // with the image version
constexpr char MODEL_UPDATE_VENDOR[] = "QUA_ADV ";     // 8
constexpr char MODEL_VENDOR_ID[] = "QUARLEN ";         // 8
constexpr char MODEL_PRODUCT_ID[] = "DVD-RW  KWR-322 ";  // 16
constexpr uint32_t MODEL_CODE = 0x100C;
constexpr uint32_t MINIMUM_IMAGE_DATE = 0x20080725;  // BCD 0xYYYYMMDD
constexpr uint32_t MODEL_ACCESS_CODE = 0x5E3A91C4;

// The release as its image writes it: the version of its header ("1.28"),
// its file name, and its header's date (YY/MM/DD), the oldest this build
// accepts. Tools and tests that make the release's image take these.
inline std::string release_version_text() {
    char text[8];
    std::snprintf(text, sizeof text, "%x.%02x", RELEASE_VERSION >> 8, RELEASE_VERSION & 0xFFu);
    return text;
}
inline std::string release_image_file_name() {
    char name[32];
    std::snprintf(name, sizeof name, IMAGE_FILE_FORMAT, RELEASE_VERSION);
    return name;
}
// A BCD date 0xYYYYMMDD as YY/MM/DD.
inline std::string bcd_date_text(uint32_t date) {
    char text[12];
    std::snprintf(text, sizeof text, "%02x/%02x/%02x", (date >> 16) & 0xFFu, (date >> 8) & 0xFFu, date & 0xFFu);
    return text;
}
inline std::string release_image_date_text() { return bcd_date_text(MINIMUM_IMAGE_DATE); }

// The release's own image, where a build pins it: its size in bytes and its
// SHA-256 (64 lower-case hexadecimal digits). A pinned build refuses every
// other image; a size of 0 pins nothing, as in the default build.
struct release_image_pin {
    uint32_t size;
    const char* sha256;
};
const release_image_pin& pinned_release_image();

// --- how its drives identify themselves -----------------------------------------

// Vendor and product as the drives answer them, matching every model row
// whatever its own identification (24 bytes each).
constexpr const char* FIXED_IDENTIFICATIONS[] = {"QUARLEN DVD-RW  KWR-322 ", "QUARLEN DVD-RW  KWR-322D"};
// Model rows (model code AND 0xFF00) identified by their update vendor too.
constexpr uint32_t MODEL_FAMILIES_BY_VENDOR[] = {0x1000, 0x4000};
// The update firmware answers INQUIRY under this vendor and product prefix.
constexpr char UPDATE_FIRMWARE_IDENTITY[] = "QUARLEN DVD-RW  KWR-";

// --- its images --------------------------------------------------------------------

// The image vendor every image of this model carries (header offset 0xD0).
constexpr char IMAGE_VENDOR_TEXT[] = "QUA_ADV ";
// The vendor whose images write their date with a month name (header offset 0x60).
constexpr char MONTH_NAME_IMAGE_VENDOR[] = "Lumaris ";
// Signatures and update vendors a drive may carry whatever the image says.
constexpr const char* SIGNATURES_ANY_IMAGE_ACCEPTS[] = {"KESTO   ", "GENERAL "};

// --- the mode switches -------------------------------------------------------------

// What the update firmware of one model checks in the mode block, and how long
// its mode switches may take.
struct update_model {
    uint32_t model_code;
    const char* model_string;  // 16 bytes sent without a terminator
    int32_t entry_timeout_ms;
    int32_t leave_timeout_ms;
};

// One row of an access-value table, chosen by the drive's signature.
struct access_rule {
    const char* signature;  // 8 bytes compared whole; null: any other signature
    bool fixed;             // true: `value` itself; false: the access code plus `value`
    uint32_t value;
};

extern const update_model UPDATE_MODELS[1];
// Each ends with a null signature.
extern const access_rule ENTRY_ACCESS[7];
extern const access_rule LEAVE_ACCESS[4];

// --- OEM classes -------------------------------------------------------------------

struct oem_class_row {
    const char* signature;  // 8 bytes compared whole
    int oem_class;
};
// The generic signature, whose class depends on the interface.
constexpr char GENERIC_SIGNATURE[] = "GENERAL ";
extern const oem_class_row OEM_CLASSES[9];
