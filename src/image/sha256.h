// SHA-256 (FIPS 180-4), the digest an image is known by: sha256sum's, a
// checksum file's beside the image, a build's pinned release image's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t SHA256_SIZE = 32;

struct sha256_state {
    uint32_t h[8];
    uint8_t block[64];
    size_t held = 0;        // bytes waiting in `block`
    uint64_t length = 0;    // bytes taken in all
};

void sha256_begin(sha256_state& s);
void sha256_take(sha256_state& s, const void* bytes, size_t length);
void sha256_end(sha256_state& s, uint8_t digest[SHA256_SIZE]);
// The digest of `length` bytes at once.
void sha256(const void* bytes, size_t length, uint8_t digest[SHA256_SIZE]);
// As sha256sum writes it: 64 lower-case hexadecimal digits.
std::string sha256_text(const uint8_t digest[SHA256_SIZE]);
