// Lays out a firmware image: body bytes from the seed everywhere, then the
// header fields written over them.
#include "tools/make-image/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

uint8_t body_byte(uint32_t seed, uint32_t offset) {
    // splitmix64 finaliser over (seed, offset): only fixed-width integer
    // arithmetic, so every platform produces the same image.
    uint64_t x = (uint64_t(seed) << 32 | offset) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return uint8_t(x ^ (x >> 31));
}

namespace {

// Writes text blank-padded (or, with pad false, as is) and truncated to the
// field; bytes past the end of a short image are dropped.
void put(std::vector<uint8_t>& image, header_field field, const std::string& text, bool pad = true) {
    uint32_t width = pad ? field.width : uint32_t(std::min<size_t>(text.size(), field.width));
    for (uint32_t i = 0; i < width && field.offset + i < image.size(); ++i)
        image[field.offset + i] = uint8_t(i < text.size() ? text[i] : ' ');
}

}  // namespace

std::vector<uint8_t> build_image(const image_fields& fields) {
    std::vector<uint8_t> image(fields.size);
    for (uint32_t i = 0; i < fields.size; ++i) image[i] = body_byte(fields.seed, i);
    put(image, vendor_product_field, fields.vendor_product);
    put(image, version_field, fields.version);
    put(image, hardware_revision_field, fields.hardware_revision);
    put(image, image_vendor_field, fields.image_vendor);
    put(image, second_vendor_field, fields.second_vendor);
    put(image, part_kind_field, std::string(1, fields.part_kind));
    // Not padded: a numeric date leaves the last two bytes of the area to the
    // body, as in an image whose header carries the short form.
    put(image, date_field, fields.date, false);
    return image;
}

bool write_image_file(const std::string& path, const image_fields& fields) {
    std::vector<uint8_t> image = build_image(fields);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    out.close();
    return bool(out);
}

std::string month_name_date(const std::string& month, int day, int year) {
    if (day < 0 || day > 99) throw std::invalid_argument("day out of range: " + std::to_string(day));
    if (year < 0 || year > 9999) throw std::invalid_argument("year out of range: " + std::to_string(year));
    std::string text = month.substr(0, 3);
    text.resize(3, ' ');
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02d %04d", day, year);
    return text + tail;
}
