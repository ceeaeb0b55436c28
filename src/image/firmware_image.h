// The firmware image file: loading it into the image buffer and decoding the
// header fields the updater interprets.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/drive_identity.h"
#include "discovery/drive_outcome.h"
#include "image/image_integrity.h"
#include "model/drive_model.h"
#include "platform/working_buffer.h"
#include "transport/drive_layout.h"

// Where the image is read from its file: storage taken with the host's
// working buffers, read through a loaded_image.
extern working_buffer image_buffer;
constexpr uint32_t NT_IMAGE_SIZE = 0x800000;

constexpr uint32_t IMAGE_HEADER_SIZE = 0x13A;

// Offsets of the image header fields the updater interprets, with their widths.
constexpr uint32_t IMAGE_VENDOR_PRODUCT = 0x60;     // 24: the drive the image is for
constexpr uint32_t IMAGE_VERSION_TEXT = 0x90;       // 5: M.mm and one more character
constexpr uint32_t IMAGE_HARDWARE_REVISION = 0xB0;  // 8
constexpr uint32_t IMAGE_VENDOR = 0xD0;             // 8
constexpr uint32_t IMAGE_SECOND_VENDOR = 0xF0;      // 8
constexpr uint32_t IMAGE_PART_KIND = 0x110;         // 1
constexpr uint32_t IMAGE_DATE_TEXT = 0x130;         // 8 or 10

// The header fields the updater reads, decoded from an image's bytes in one
// place. Texts are the header's own bytes, without a terminator.
struct image_header {
    uint8_t vendor_product[IDENTIFICATION_WIDTH];  // the drive the image is for
    uint8_t version_text[5];                       // M.mm and one more character
    uint8_t hardware_revision[8];
    uint8_t vendor[8];
    uint8_t second_vendor[8];
    uint8_t part_kind;
    uint8_t date_field[10];  // 8 characters, or 10 in the month-name form
    bool month_name_form;    // the vendor whose images name the month
    uint16_t version;        // version_text as 0xMmm
    uint32_t date;           // 0x20YYMMDD; 0 when a number in it or its month name is unreadable
};
// Decodes the IMAGE_HEADER_SIZE bytes at `bytes`.
image_header decode_image_header(const uint8_t* bytes);
// The header of the image read last, every reader's; before any image is
// read, the release's version and nothing else.
extern image_header loaded_header;

// The loaded header's date and version, by the names the run knows them by
// (the version is the release's until an image is read).
extern uint32_t& image_date;
extern uint16_t& image_version;

// The file's own name at the end of `path` (after its last / or \\): what
// message 11 shows as the file looked for, whose field is as wide as the
// model's file name.
std::string file_name_in_path(const char* path);

// One load of the current release's image file: its bytes (in the image
// buffer, good until the next load), their length, the decoded header, and
// the file as the run first read it (its size and SHA-256, which these bytes
// were held to). Empty (no bytes) until a load has read a file whole.
struct loaded_image {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    image_header header{};
    image_identity first_read;
    bool has_bytes() const { return bytes != nullptr && length > 0; }
};

// Reads the current release's image file whole into the image buffer and checks
// its header. 0 or -1; a file that cannot be opened, sized or read whole, that
// would not fit the buffer or is shorter than its header, gets no message here
// and leaves `image` as it was. What was read whole is `image`, refused or not.
// `why`, when given, gets image_changed when the file no longer holds the
// bytes the run first read, image_refused for any other failure.
int load_image(loaded_image& image, outcome_reason* why = nullptr);

// Converts exactly `digits` hexadecimal digits at `text` into `value`; -1,
// with `value` untouched, when any of them is something else.
int scan_hex(const uint8_t* text, int digits, uint32_t* value);
// "YY?MM?DD" (the separators are not read) as 0x20YYMMDD into `date`; -1, with
// `date` untouched, when a pair is not two hexadecimal digits.
int scan_short_date(const uint8_t* text, uint32_t* date);
// "M.mm" as 0xMmm: each digit less '0', in 8-bit arithmetic; the point is not read.
uint16_t decode_version(const uint8_t* text);
// The image's date as the 8 characters shown after "20": the header's own
// text in the numeric form, YY/MM/DD made from its decoded date in the
// month-name form.
std::string image_date_text(const image_header& header);

void reset_firmware_image_state();
