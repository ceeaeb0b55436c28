// Builds firmware image files for tests, examples and scenarios: a header with
// chosen field values over a body of bytes that follow from a seed, so a
// reader can tell any byte that changed on its way to the drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/drive_model.h"

// Header fields and where they sit in the image. Each is blank-padded or
// truncated to its width; the date is written as given, up to its 10 bytes.
struct image_fields {
    // 24 bytes at 0x60; "Lumaris " first means the month-name date
    std::string vendor_product = std::string(MODEL_TABLE[0].vendor_id) + MODEL_TABLE[0].product_id;
    std::string version = release_version_text() + " ";  // 5 bytes at 0x90
    std::string hardware_revision = "ATAPI123"; // 8 bytes at 0xB0
    std::string image_vendor = IMAGE_VENDOR_TEXT;     // 8 bytes at 0xD0
    std::string second_vendor = MODEL_TABLE[0].update_vendor;  // 8 bytes at 0xF0
    char part_kind = 'N';                       // 1 byte at 0x110
    std::string date = release_image_date_text();  // at 0x130: "YY/MM/DD" or month-name form "Jul25 2008"
    uint32_t size = 2u * 1024 * 1024;           // whole file; a size inside the header cuts it off there
    uint32_t seed = 1;                          // body bytes follow from (seed, offset)
};

struct header_field {
    uint32_t offset;
    uint32_t width;
};
constexpr header_field vendor_product_field{0x60, 24};
constexpr header_field version_field{0x90, 5};
constexpr header_field hardware_revision_field{0xB0, 8};
constexpr header_field image_vendor_field{0xD0, 8};
constexpr header_field second_vendor_field{0xF0, 8};
constexpr header_field part_kind_field{0x110, 1};
constexpr header_field date_field{0x130, 10};  // widest date form

// The body byte at an offset of an image built with this seed.
uint8_t body_byte(uint32_t seed, uint32_t offset);

std::vector<uint8_t> build_image(const image_fields& fields);

// Returns false when the file cannot be written completely.
bool write_image_file(const std::string& path, const image_fields& fields);

// ("Jul", 25, 2008) -> "Jul25 2008". The month is blank-padded or truncated to
// three characters and not checked, so images with a bad month can be made;
// day 0..99 and year 0..9999, otherwise std::invalid_argument.
std::string month_name_date(const std::string& month, int day, int year);
