// Owns the loaded image: the current release's image file read whole into the
// image buffer, and the header fields the updater interprets.
#include <cstring>

#include "discovery/enumeration.h"
#include "image/firmware_image.h"
#include "image/image_integrity.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "model/drive_model.h"
#include "platform/host.h"
#include "transport/drive_commands.h"
#include "transport/transport.h"

working_buffer image_buffer;
image_header loaded_header{};
uint32_t& image_date = loaded_header.date;
uint16_t& image_version = loaded_header.version;

namespace {

constexpr uint32_t CENTURY = 0x20;

const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const uint8_t MONTH_VALUES[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x10, 0x11, 0x12};

uint32_t month_value(const uint8_t* name) {
    for (size_t i = 0; i < sizeof MONTH_VALUES; ++i)
        if (std::memcmp(name, MONTH_NAMES[i], 3) == 0) return MONTH_VALUES[i];
    return 0;
}

// True when the header's vendor text selects the month-name date form.
bool month_name_date_form(const uint8_t* header) {
    return std::memcmp(header + IMAGE_VENDOR_PRODUCT, MONTH_NAME_IMAGE_VENDOR, 8) == 0;
}

// The date field as 0x20YYMMDD; 0 when a number in it is not hexadecimal digits
// or its month name is unknown, so such a date is older than any minimum image date.
uint32_t decode_image_date(const uint8_t* header) {
    const uint8_t* text = header + IMAGE_DATE_TEXT;
    uint32_t date = 0;
    if (!month_name_date_form(header)) return scan_short_date(text, &date) == 0 ? date : 0;
    uint32_t day = 0, century = 0, year = 0;
    if (scan_hex(text + 3, 2, &day) != 0 || scan_hex(text + 6, 2, &century) != 0 || scan_hex(text + 8, 2, &year) != 0)
        return 0;
    // A month name outside the list reads as month 0x00; the whole date is then
    // taken as 0, so a later year cannot carry an unreadable date past the
    // minimum image date.
    uint32_t month = month_value(text);
    if (month == 0) return 0;
    return century << 24 | year << 16 | month << 8 | day;
}

// Reads the open image file whole into the image buffer: its length, or 0
// for a file whose size is unknown, that would not fit, that is shorter than
// its header (so no byte of an earlier load is judged as this one's), or
// that reads short.
uint32_t read_image_file(HANDLE file) {
    DWORD size_high = 0;
    DWORD size = host::GetFileSize(file, &size_high);
    if (size == INVALID_FILE_SIZE || size_high != 0) return 0;
    if (image_buffer.address == nullptr || size > image_buffer.size || size < IMAGE_HEADER_SIZE) return 0;
    DWORD read = 0;
    if (!host::ReadFile(file, image_buffer.address, size, &read, nullptr) || read != size) return 0;
    return read;
}

}  // namespace

int scan_hex(const uint8_t* text, int digits, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        uint8_t c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return -1;
        result = result << 4 | digit;
    }
    *value = result;
    return 0;
}

int scan_short_date(const uint8_t* text, uint32_t* date) {
    uint32_t year = 0, month = 0, day = 0;
    if (scan_hex(text, 2, &year) != 0 || scan_hex(text + 3, 2, &month) != 0 || scan_hex(text + 6, 2, &day) != 0)
        return -1;
    *date = CENTURY << 24 | year << 16 | month << 8 | day;
    return 0;
}

uint16_t decode_version(const uint8_t* text) {
    uint8_t major = static_cast<uint8_t>(text[0] - '0');
    uint8_t minor = static_cast<uint8_t>((text[2] - '0') * 16 + (text[3] - '0'));
    return static_cast<uint16_t>(major << 8 | minor);
}

image_header decode_image_header(const uint8_t* bytes) {
    image_header header{};
    std::memcpy(header.vendor_product, bytes + IMAGE_VENDOR_PRODUCT, sizeof header.vendor_product);
    std::memcpy(header.version_text, bytes + IMAGE_VERSION_TEXT, sizeof header.version_text);
    std::memcpy(header.hardware_revision, bytes + IMAGE_HARDWARE_REVISION, sizeof header.hardware_revision);
    std::memcpy(header.vendor, bytes + IMAGE_VENDOR, sizeof header.vendor);
    std::memcpy(header.second_vendor, bytes + IMAGE_SECOND_VENDOR, sizeof header.second_vendor);
    header.part_kind = bytes[IMAGE_PART_KIND];
    std::memcpy(header.date_field, bytes + IMAGE_DATE_TEXT, sizeof header.date_field);
    header.month_name_form = month_name_date_form(bytes);
    header.version = decode_version(bytes + IMAGE_VERSION_TEXT);
    header.date = decode_image_date(bytes);
    return header;
}

std::string image_date_text(const image_header& header) {
    if (!header.month_name_form) return std::string(reinterpret_cast<const char*>(header.date_field), 8);
    return bcd_date_text(header.date);
}

std::string file_name_in_path(const char* path) {
    const std::string name = path;
    const size_t folder_end = name.find_last_of("/\\");
    return folder_end == std::string::npos ? name : name.substr(folder_end + 1);
}

int load_image(loaded_image& image, outcome_reason* why) {
    outcome_reason ignored;
    outcome_reason& reason = why ? *why : ignored;
    reason = outcome_reason::image_refused;
    image_date = 0;
    HANDLE file = host::CreateFileA(current_release.image_file_name, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const uint32_t length = read_image_file(file);
    host::CloseHandle(file);
    if (length == 0) return -1;
    // What was read is what the run's record tells, refused or not.
    loaded_header = decode_image_header(image_buffer.address);
    image.bytes = image_buffer.address;
    image.length = length;
    image.header = loaded_header;
    const int same = same_as_first_read(current_release.image_file_name, image.bytes, image.length);
    image.first_read = first_image_read(current_release.image_file_name);
    if (same != 0) {
        if (same == IMAGE_CHANGED) reason = outcome_reason::image_changed;
        return -1;
    }
    if (image_date < current_release.minimum_image_date) {
        show_message(MSG_IMAGE_TOO_OLD, KIND_ERROR);
        return -1;
    }
    const uint8_t part_kind = loaded_header.part_kind;
    if (std::memcmp(loaded_header.vendor, IMAGE_VENDOR_TEXT, 8) != 0 || (part_kind != 'N' && part_kind != 'P')) {
        show_message(MSG_ILLEGAL_IMAGE, KIND_ERROR);
        return -1;
    }
    reason = outcome_reason::none;
    return 0;
}

void reset_firmware_image_state() {
    image_buffer = {};
    loaded_header = {};
}
