// The drive models this build updates and the release it installs: one row
// of MODEL_TABLE (model_table.cpp) per model with every fact that differs
// between models, and what the family shares: how its drives identify
// themselves in normal and in update firmware, the vendor texts of its images,
// the access values of its mode switches by signature and its OEM classes. A
// build for another model or release changes the files of this folder and no
// other; another model of the family is another row of the table.
//
// The emulated drive (emulator/) keeps its own copy of these facts on purpose:
// it plays the drive, an oracle independent of what the updater believes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// --- the models and the descriptor rows ------------------------------------------

constexpr int MAX_MODEL_ROWS = 8;

// One drive model this build can update, and the release it installs there,
// as the run's descriptor holds it (copied whole from MODEL_TABLE).
// Text fields are blank-padded without a terminator, compared over their width.
struct model_row {
    char image_file_name[128];  // zero-terminated
    char update_vendor[8];
    char vendor_id[8];
    char product_id[16];
    uint32_t model_code;
    uint32_t minimum_image_date;  // BCD 0xYYYYMMDD
    uint32_t access_code;
    char model_string[16];   // what the update firmware checks first in the mode block
    uint16_t block_length;   // image bytes a WRITE BUFFER carries
    int32_t entry_timeout_ms;  // the switch into the update firmware
    int32_t leave_timeout_ms;  // the switch back, which re-flashes the drive
    char product_name[48];   // zero-terminated: the drives as a help text names them
};

// The filled rows of a descriptor, in its order (at most MAX_MODEL_ROWS).
struct model_rows {
    const model_row* first;
    int count;
};

// A row of MODEL_TABLE: texts of exactly their field's width (checked where
// the table is defined), the image's file name as a format with the image
// version.
struct model_facts {
    const char* image_file_format;
    const char* update_vendor;   // 8
    const char* vendor_id;       // 8
    const char* product_id;      // 16
    uint32_t model_code;
    uint32_t minimum_image_date;  // BCD 0xYYYYMMDD, the oldest image accepted
    uint32_t access_code;
    const char* model_string;    // 16
    uint16_t block_length;
    int32_t entry_timeout_ms;
    int32_t leave_timeout_ms;
    const char* product_name;
};

// Every model this build updates, in the order drives are matched against
// them: the only place a build for another model changes.
extern const model_facts MODEL_TABLE[];
extern const int MODEL_TABLE_ROWS;

constexpr uint16_t RELEASE_VERSION = 0x128;  // 0xMmm, until the image header says otherwise

// The release as its image writes it: the version of its header ("1.28"),
// its file name, and its header's date (YY/MM/DD), the oldest this build
// accepts for a model (the first of the table unless named). Tools and tests
// that make the release's image take these.
inline std::string release_version_text() {
    char text[8];
    std::snprintf(text, sizeof text, "%x.%02x", RELEASE_VERSION >> 8, RELEASE_VERSION & 0xFFu);
    return text;
}
inline std::string release_image_file_name(const model_facts& model = MODEL_TABLE[0]) {
    char name[32];
    std::snprintf(name, sizeof name, model.image_file_format, RELEASE_VERSION);
    return name;
}
// A BCD date 0xYYYYMMDD as YY/MM/DD.
inline std::string bcd_date_text(uint32_t date) {
    char text[12];
    std::snprintf(text, sizeof text, "%02x/%02x/%02x", (date >> 16) & 0xFFu, (date >> 8) & 0xFFu, date & 0xFFu);
    return text;
}
inline std::string release_image_date_text(const model_facts& model = MODEL_TABLE[0]) {
    return bcd_date_text(model.minimum_image_date);
}

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

// One row of an access-value table, chosen by the drive's signature.
struct access_rule {
    const char* signature;  // 8 bytes compared whole; null: any other signature
    bool fixed;             // true: `value` itself; false: the access code plus `value`
    uint32_t value;
};

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
