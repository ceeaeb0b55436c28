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

// A checksum file lists a release's files, one short line each; one larger
// than this is no such list.
constexpr DWORD MAX_CHECKSUM_FILE_SIZE = 1024 * 1024;

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

// The 64 digits at `at` in `text`, into `digest`.
bool digits_at(const std::string& text, size_t at, uint8_t digest[SHA256_SIZE]) {
    if (text.size() < at + 2 * SHA256_SIZE) return false;
    for (size_t i = 0; i < SHA256_SIZE; ++i) {
        const int high = hex_value(text[at + 2 * i]), low = hex_value(text[at + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool same_name(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The file a line names, without the folder sha256sum was run from.
bool names_image(std::string file, const std::string& name) {
    const size_t folder_end = file.find_last_of("/\\");
    if (folder_end != std::string::npos) file.erase(0, folder_end + 1);
    return same_name(file, name.c_str());
}

// The text as bytes of one per character: a file PowerShell saved (UTF-16LE
// after its mark) is read as the ASCII it holds, any other character a byte
// no name or digit is; a UTF-8 mark is dropped.
std::string plain_text(const std::string& text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
    if (text.compare(0, 2, "\xFF\xFE") != 0) return text;
    std::string plain;
    for (size_t at = 2; at + 1 < text.size(); at += 2)
        plain += text[at + 1] == 0 && static_cast<unsigned char>(text[at]) < 0x80 ? text[at] : '\x7F';
    return plain;
}

// The digest the checksum file's text gives the image at `path`, in any form
// sha256sum writes ("<64 digits>  <name>", " *" in binary mode, a folder
// before the name, "SHA256 (<name>) = <64 digits>" with --tag) or a line of
// 64 digits alone, as the file is saved on either system (CRLF, a UTF-8 byte
// order mark, UTF-16LE with its mark). False when no line says.
bool digest_for(const std::string& file_text, const char* path, uint8_t digest[SHA256_SIZE]) {
    const std::string name = file_name_in_path(path);
    const std::string text = plain_text(file_text);
    static const char TAG[] = "SHA256 (";
    static const char TAG_END[] = ") = ";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.rfind(TAG, 0) == 0) {
            const size_t name_end = line.rfind(TAG_END);
            if (name_end == std::string::npos || name_end < sizeof TAG - 1) continue;
            const size_t digits = name_end + sizeof TAG_END - 1;
            if (line.size() == digits + 2 * SHA256_SIZE && digits_at(line, digits, digest) &&
                names_image(line.substr(sizeof TAG - 1, name_end - (sizeof TAG - 1)), name))
                return true;
            continue;
        }
        if (!digits_at(line, 0, digest)) continue;
        std::string file = line.substr(2 * SHA256_SIZE);
        if (file.empty()) return true;
        if (file.size() < 3 || file[0] != ' ' || (file[1] != ' ' && file[1] != '*')) continue;
        if (names_image(file.substr(2), name)) return true;
    }
    return false;
}

// Where a checksum file beside the image stands.
enum class checksum_file { absent, read, unreadable };

// The checksum file `checksum_name` whole into `text`. Only a file the system
// says is not there is absent: one that is there but cannot be opened (no
// right, held by another program, a folder, a FIFO, a device) or read whole,
// or is larger than any list of checksums, is unreadable.
checksum_file read_checksum_file(const std::string& checksum_name, std::string& text) {
    const HANDLE file = open_to_read(checksum_name.c_str());
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = host::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? checksum_file::absent
                                                                               : checksum_file::unreadable;
    }
    DWORD size_high = 0;
    const DWORD size = host::GetFileSize(file, &size_high);
    bool whole = size != INVALID_FILE_SIZE && size_high == 0 && size <= MAX_CHECKSUM_FILE_SIZE;
    if (whole) {
        text.assign(size, '\0');
        DWORD read = 0;
        whole = size == 0 || (host::ReadFile(file, &text[0], size, &read, nullptr) && read == size);
    }
    host::CloseHandle(file);
    return whole ? checksum_file::read : checksum_file::unreadable;
}

void tell(int notice, const char* name) { host::write_notice(format_text(notice_text(notice), name, name).c_str()); }

// The digest the image is held to besides a checksum file, and whether it needs one.
image_digest_rule digest_rule;

// 0 when no checksum file lies beside the image or it gives the image's digest;
// otherwise -1 after telling which. `found` says whether one gave a digest.
int check_against_checksum_file(const char* name, image_identity& identity, bool& found) {
    found = false;
    std::string text;
    const checksum_file state = read_checksum_file(std::string(name) + ".sha256", text);
    if (state == checksum_file::absent) return 0;
    uint8_t expected[SHA256_SIZE];
    if (state == checksum_file::unreadable || !digest_for(text, name, expected)) {
        tell(NOTICE_CHECKSUM_UNREADABLE, name);
        return -1;
    }
    found = true;
    if (std::memcmp(expected, identity.sha256, SHA256_SIZE) != 0) {
        identity.other_expected = true;
        std::memcpy(identity.expected_sha256, expected, SHA256_SIZE);
        tell(NOTICE_CHECKSUM_MISMATCH, name);
        return -1;
    }
    return 0;
}

// 0 when the digest the run was given, if any, is the image's and the image
// has a digest wherever the rule needs one; otherwise -1 after telling which.
int check_against_digest_rule(const char* name, image_identity& identity, bool pinned, bool checksum_file_found) {
    if (digest_rule.given && std::memcmp(digest_rule.sha256, identity.sha256, SHA256_SIZE) != 0) {
        identity.other_expected = true;
        std::memcpy(identity.expected_sha256, digest_rule.sha256, SHA256_SIZE);
        tell(NOTICE_DIGEST_MISMATCH, name);
        return -1;
    }
    if (digest_rule.required && !digest_rule.given && !pinned && !checksum_file_found) {
        host::write_notice(format_text(notice_text(NOTICE_NO_DIGEST), name, name, name).c_str());
        return -1;
    }
    return 0;
}

// Makes `identity` the image's first read whole, unless a pinned build's size
// or digest, the release's version, a checksum file beside it or the digest
// rule refuses it.
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
    bool checksum_file_found = false;
    image.refused = check_against_checksum_file(name, image.identity, checksum_file_found) != 0 ||
                    check_against_digest_rule(name, image.identity, pin.size != 0, checksum_file_found) != 0;
    return image.refused ? -1 : 0;
}

}  // namespace

bool digest_from_text(const std::string& text, uint8_t digest[SHA256_SIZE]) {
    return text.size() == 2 * SHA256_SIZE && digits_at(text, 0, digest);
}

void set_image_digest_rule(const image_digest_rule& rule) { digest_rule = rule; }

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
    digest_rule = image_digest_rule{};
}
