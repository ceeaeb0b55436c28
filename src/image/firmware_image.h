// The firmware image file: loading it into the image buffer and decoding the
// header fields the updater interprets.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/drive_identity.h"
#include "model/drive_model.h"
#include "transport/drive_layout.h"

constexpr uint32_t IMAGE_HEADER_SIZE = 0x13A;

// Offsets of the image header fields the updater interprets, with their widths.
constexpr uint32_t IMAGE_VENDOR_PRODUCT = 0x60;     // 24: the drive the image is for
constexpr uint32_t IMAGE_VERSION_TEXT = 0x90;       // 5: M.mm and one more character
constexpr uint32_t IMAGE_HARDWARE_REVISION = 0xB0;  // 8
constexpr uint32_t IMAGE_VENDOR = 0xD0;             // 8
constexpr uint32_t IMAGE_SECOND_VENDOR = 0xF0;      // 8
constexpr uint32_t IMAGE_PART_KIND = 0x110;         // 1
constexpr uint32_t IMAGE_DATE_TEXT = 0x130;         // 8 or 10

extern int32_t transfer_length;
extern uint32_t image_date;
extern uint16_t image_version;  // 0xMmm: the release's version, then the loaded image's

// Reads the current release's image file whole into the image buffer and checks
// its header. 0 or -1; a file that cannot be opened, sized or read whole, that
// would not fit the buffer or is shorter than its header, gets no message here.
int load_image();

// Converts exactly `digits` hexadecimal digits at `text` into `value`; -1,
// with `value` untouched, when any of them is something else.
int scan_hex(const uint8_t* text, int digits, uint32_t* value);
// "YY?MM?DD" (the separators are not read) as 0x20YYMMDD into `date`; -1, with
// `date` untouched, when a pair is not two hexadecimal digits.
int scan_short_date(const uint8_t* text, uint32_t* date);
// "M.mm" as 0xMmm: each digit less '0', in 8-bit arithmetic; the point is not read.
uint16_t decode_version(const uint8_t* text);
// True when the header's vendor text selects the month-name date form.
bool month_name_date_form(const uint8_t* header);
// The image's date as the 8 characters shown after "20": the header's own text
// in the numeric form, YY/MM/DD made from image_date in the month-name form.
std::string image_date_text(const uint8_t* header);

void reset_firmware_image_state();
