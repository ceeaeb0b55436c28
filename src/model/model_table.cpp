// The models this build updates, one row each. A build that adds rows for a
// test compiles this file with ODD_EXTRA_MODEL_ROWS naming a file of rows.
#include <iterator>

#include "model/drive_model.h"

constexpr model_facts MODEL_TABLE[] = {
    {"A0013431.%03x", "QUA_ADV ", "QUARLEN ", "DVD-RW  KWR-322 ", 0x100C, 0x20080725, 0x5E3A91C4,
     "QUARLEN  KWR-322", 0x8000, 10000, 180000, "QUARLEN KWR-322 DVD recorders"},
#if defined(ODD_EXTRA_MODEL_ROWS)
#include ODD_EXTRA_MODEL_ROWS
#endif
};
const int MODEL_TABLE_ROWS = static_cast<int>(std::size(MODEL_TABLE));

namespace {

constexpr bool width_is(const char* text, size_t width) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length == width;
}

constexpr bool shorter_than(const char* text, size_t size) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length < size;
}

constexpr bool rows_fit() {
    for (const model_facts& row : MODEL_TABLE) {
        if (!width_is(row.update_vendor, sizeof model_row{}.update_vendor) ||
            !width_is(row.vendor_id, sizeof model_row{}.vendor_id) ||
            !width_is(row.product_id, sizeof model_row{}.product_id) ||
            !width_is(row.model_string, sizeof model_row{}.model_string) ||
            !shorter_than(row.product_name, sizeof model_row{}.product_name) ||
            !shorter_than(row.image_file_format, 24))
            return false;
        // A block of 0 would never end the transfer. (Its 16 bits keep it under
        // the 120 KiB a command that usb-storage's queue takes, max_sectors_kb:
        // a longer WRITE BUFFER fails there before it reaches the drive.)
        if (row.block_length == 0) return false;
        if (row.entry_timeout_ms <= 0 || row.leave_timeout_ms <= 0) return false;
    }
    return true;
}

static_assert(std::size(MODEL_TABLE) <= MAX_MODEL_ROWS, "the descriptor holds at most MAX_MODEL_ROWS models");
static_assert(rows_fit(), "a model row's text is not its field's width, or its block length is out of bounds");

}  // namespace

