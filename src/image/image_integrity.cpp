// Owns the identity of each image file as the run first read it whole.
#include "image/image_integrity.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "image/firmware_image.h"
#include "messages/messages.h"
#include "model/drive_model.h"
#include "platform/host.h"

namespace {

struct known_image {
    std::string name;
    image_identity identity;
    bool refused = false;  // its first read was refused: so is every later load
};
known_image known_images[MAX_MODEL_ROWS];

// The image file's record, made when first asked for; null when all are taken.
known_image* image_named(const char* name) {
    for (known_image& image : known_images)
        if (image.name == name) return &image;
    for (known_image& image : known_images)
        if (image.name.empty()) {
            image.name = name;
            return &image;
        }
    return nullptr;
}

HANDLE open_to_read(const char* name) {
    return host::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads the open file whole, in pieces, into a digest and the first bytes of
// `header`; false when its size is unknown or it reads short.
bool read_whole(HANDLE file, image_identity& identity, uint8_t* header, size_t header_size) {
    DWORD size_high = 0;
    const DWORD size = host::GetFileSize(file, &size_high);
    if (size == INVALID_FILE_SIZE || size_high != 0) return false;
    static uint8_t piece[64 * 1024];
    sha256_state digest;
    sha256_begin(digest);
    DWORD total = 0;
    while (total < size) {
        DWORD read = 0;
        const DWORD wanted = size - total < sizeof piece ? size - total : sizeof piece;
        if (!host::ReadFile(file, piece, wanted, &read, nullptr) || read == 0) return false;
        if (total < header_size) std::memcpy(header + total, piece, std::min<size_t>(read, header_size - total));
        sha256_take(digest, piece, read);
        total += read;
    }
    sha256_end(digest, identity.sha256);
    identity.size = size;
    identity.known = true;
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool same_name(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The digest a checksum file gives the image at `path`, in sha256sum's format
// ("<64 digits>  <name>", "*" before the name in binary mode, the name maybe
// with a folder before it, as sha256sum writes it wherever it was run) or as
// a line of 64 digits alone. False when no line says.
bool digest_for(const std::string& text, const char* path, uint8_t digest[SHA256_SIZE]) {
    const std::string name = file_name_in_path(path);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.size() < 2 * SHA256_SIZE) continue;
        bool hex = true;
        for (size_t i = 0; i < SHA256_SIZE && hex; ++i) {
            const int high = hex_value(line[2 * i]), low = hex_value(line[2 * i + 1]);
            hex = high >= 0 && low >= 0;
            if (hex) digest[i] = static_cast<uint8_t>(high << 4 | low);
        }
        if (!hex) continue;
        std::string file = line.substr(2 * SHA256_SIZE);
        if (file.empty()) return true;
        if (file.size() < 3 || file[0] != ' ' || (file[1] != ' ' && file[1] != '*')) continue;
        file.erase(0, 2);
        const size_t folder_end = file.find_last_of("/\\");
        if (folder_end != std::string::npos) file.erase(0, folder_end + 1);
        if (same_name(file, name.c_str())) return true;
    }
    return false;
}

void tell(int notice, const char* name) { host::write_notice(format_text(notice_text(notice), name, name).c_str()); }

// 0 when no checksum file lies beside the image or it gives the image's digest;
// otherwise -1 after telling which.
int check_against_checksum_file(const char* name, image_identity& identity) {
    const std::string checksum_name = std::string(name) + ".sha256";
    const HANDLE file = open_to_read(checksum_name.c_str());
    if (file == INVALID_HANDLE_VALUE) return 0;
    char text[4096];
    DWORD read = 0;
    const BOOL done = host::ReadFile(file, text, sizeof text, &read, nullptr);
    host::CloseHandle(file);
    uint8_t expected[SHA256_SIZE];
    if (!done || !digest_for(std::string(text, read), name, expected)) {
        tell(NOTICE_CHECKSUM_UNREADABLE, name);
        return -1;
    }
    if (std::memcmp(expected, identity.sha256, SHA256_SIZE) != 0) {
        identity.other_expected = true;
        std::memcpy(identity.expected_sha256, expected, SHA256_SIZE);
        tell(NOTICE_CHECKSUM_MISMATCH, name);
        return -1;
    }
    return 0;
}

// Makes `identity` the image's first read whole, unless a pinned build's size
// or digest, the release's version or a checksum file beside it refuses it.
int accept_first_read(known_image& image, const image_identity& identity, const uint8_t* header) {
    image.identity = identity;
    const char* name = image.name.c_str();
    const release_image_pin& pin = pinned_release_image();
    const bool pinned_other = pin.size != 0 && (identity.size != pin.size || sha256_text(identity.sha256) != pin.sha256);
    const std::string version = release_version_text();
    const bool other_release = identity.size >= IMAGE_HEADER_SIZE &&
                               std::memcmp(decode_image_header(header).version_text, version.data(), version.size()) != 0;
    if (pinned_other || other_release) {
        tell(NOTICE_IMAGE_NOT_THIS_BUILDS, name);
        image.refused = true;
        return -1;
    }
    image.refused = check_against_checksum_file(name, image.identity) != 0;
    return image.refused ? -1 : 0;
}

}  // namespace

const image_identity& first_image_read(const char* name) {
    static const image_identity unknown;
    for (const known_image& image : known_images)
        if (image.name == name) return image.identity;
    return unknown;
}

int vet_image(const char* name) {
    known_image* image = image_named(name);
    if (image == nullptr || image->identity.known) return 0;
    const HANDLE file = open_to_read(name);
    if (file == INVALID_HANDLE_VALUE) return 0;
    uint8_t header[IMAGE_HEADER_SIZE] = {};
    image_identity identity;
    const bool read = read_whole(file, identity, header, sizeof header);
    host::CloseHandle(file);
    return read ? accept_first_read(*image, identity, header) : 0;
}

int same_as_first_read(const char* name, const uint8_t* bytes, uint32_t size) {
    known_image* image = image_named(name);
    if (image == nullptr) return 0;
    if (image->refused) return -1;  // told when it was refused
    image_identity loaded;
    sha256(bytes, size, loaded.sha256);
    loaded.size = size;
    loaded.known = true;
    if (!image->identity.known) return accept_first_read(*image, loaded, bytes);
    if (loaded.size == image->identity.size && std::memcmp(loaded.sha256, image->identity.sha256, SHA256_SIZE) == 0)
        return 0;
    tell(NOTICE_IMAGE_CHANGED, name);
    return IMAGE_CHANGED;
}

void reset_image_integrity_state() {
    for (known_image& image : known_images) image = known_image{};
}
