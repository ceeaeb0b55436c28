// Fuzz target: any bytes as the firmware image file A0013431.128. The drive at
// E: has been identified; the file is loaded into the image buffer, its header
// decoded, and what the update shows and checks next is run on it: the
// per-drive question with the image's vendor, version and date, the revision
// report and the compatibility check against the header.
//
// Input: one byte of settings, four bytes of length, then the file's bytes.
//   settings bit 0: the 9x family's 2 MiB image buffer instead of the NT's 8 MiB
//   settings bits 1-2: the file's length: 0 the bytes given; 1 the buffer's size
//     plus the signed length byte 1; 2 the header's size plus that byte; 3 the
//     32-bit length modulo the buffer's size and 64 KiB. The bytes given are cut
//     there or followed by zeros.
//   settings bit 3: code page 932 (the Japanese catalogue)
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_run.h"
#include "image/revision_checks.h"
#include "messages/messages.h"

namespace {

const std::string IMAGE_FILE = release_image_file_name();
constexpr size_t PREFIX = 5;
constexpr uint32_t PAST_THE_BUFFER = 0x10000;

uint32_t file_length(const uint8_t* data, size_t size, uint32_t buffer_size) {
    const uint8_t settings = size > 0 ? data[0] : 0;
    uint8_t length[4] = {};
    std::memcpy(length, data + std::min<size_t>(size, 1), std::min<size_t>(size > 1 ? size - 1 : 0, 4));
    const int8_t delta = static_cast<int8_t>(length[0]);
    const uint32_t given = size > PREFIX ? static_cast<uint32_t>(size - PREFIX) : 0;
    switch ((settings >> 1) & 3) {
    case 1: return static_cast<uint32_t>(int64_t{buffer_size} + delta);
    case 2: return static_cast<uint32_t>(std::max<int64_t>(0, int64_t{IMAGE_HEADER_SIZE} + delta));
    case 3: {
        uint32_t wanted = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
                          uint32_t(length[3]) << 24;
        return wanted % (buffer_size + PAST_THE_BUFFER + 1);
    }
    default: return given;
    }
}

bool same_text(const uint8_t* a, const char* b, size_t n) { return std::memcmp(a, b, n) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<uint8_t> file;
    const uint8_t settings = size > 0 ? data[0] : 0;
    const bool win9x_buffer = settings & 1;
    const uint32_t buffer_size = win9x_buffer ? fuzz::WIN9X_IMAGE_BUFFER_SIZE : fuzz::NT_IMAGE_BUFFER_SIZE;
    const uint32_t length = file_length(data, size, buffer_size);
    const size_t given = size > PREFIX ? size - PREFIX : 0;
    file.assign(length, 0);
    if (std::min<size_t>(given, length) > 0) std::memcpy(file.data(), data + PREFIX, std::min<size_t>(given, length));

    uint32_t loaded_bytes = 0;
    {
        sim::machine h;
        h.cfg.oem_code_page = (settings & 8) ? 932 : 437;
        h.cfg.answers = {IDNO};
        h.add_drive_at_letter('E');
        h.cfg.files[IMAGE_FILE] = std::move(file);
        fuzz::prepare_run(h, win9x_buffer);
        const std::vector<uint8_t>& image = h.cfg.files[IMAGE_FILE];

        fuzz::require(identify_drive(descriptor_rows()) == 0, "the emulated drive is identified");
        loaded_image read;
        const int loaded = load_image(read);
        fuzz::require(h.open_handles() == 0, "the image file is closed after loading");
        loaded_bytes = static_cast<uint32_t>(std::min<size_t>(image.size(), buffer_size));
        if (image.size() > buffer_size) fuzz::require(loaded != 0, "a file larger than the image buffer is refused");
        if (image.size() < IMAGE_HEADER_SIZE) fuzz::require(loaded != 0, "a file shorter than its header is refused");
        if (loaded == 0) {
            fuzz::require(read.length == image.size(), "the image's length is the file's length");
            fuzz::require(std::memcmp(read.bytes, image.data(), image.size()) == 0, "the image holds the file as read");
            fuzz::require(same_text(image.data() + IMAGE_VENDOR, "QUA_ADV ", 8), "an accepted image names QUA_ADV");
            fuzz::require(image[IMAGE_PART_KIND] == 'N' || image[IMAGE_PART_KIND] == 'P',
                          "an accepted image is a normal part");
            fuzz::require(image_date >= current_release.minimum_image_date, "an accepted image is not too old");

            show_message(82, KIND_YES_NO);
            fuzz::require(report_revision(0) == 0, "the emulated drive reports its revision");
            const int compatible = check_compatibility(1, update_all);
            if (compatible == 0) {
                fuzz::require(same_text(image.data() + IMAGE_HARDWARE_REVISION, "ATAPI123", 8),
                              "the image passed is for the drive's hardware revision");
                fuzz::require(same_text(image.data() + IMAGE_SECOND_VENDOR, "QUA_ADV ", 8),
                              "the image passed is for the drive's update vendor");
            }
        } else {
            show_message(11, KIND_ERROR);
        }
        file = std::move(h.cfg.files[IMAGE_FILE]);
    }
    fuzz::end_run(loaded_bytes);
    return 0;
}
