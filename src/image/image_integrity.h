// What the run knows of its image before any drive is touched: the file read
// once whole, its size and SHA-256, held against a build's pinned release
// image, a checksum file beside it, a digest the run was given and the
// release's version; and the rule that every later load of it holds those
// same bytes.
#pragma once

#include <cstdint>
#include <string>

#include "image/sha256.h"

struct image_identity {
    bool known = false;
    uint32_t size = 0;
    uint8_t sha256[SHA256_SIZE] = {};
    // The digest a checksum file beside it or the run gave instead, when the two differ.
    bool other_expected = false;
    uint8_t expected_sha256[SHA256_SIZE] = {};
};

// The image file `name` as this run first read it; unknown until read whole.
const image_identity& first_image_read(const char* name);

// What the run holds the image's SHA-256 to beyond a checksum file beside it:
// a digest it was given (--sha256), and whether the image needs a digest from
// somewhere (a pinned build, a checksum file, the given one) to be flashed at
// all, as an unattended run's does.
struct image_digest_rule {
    bool given = false;
    uint8_t sha256[SHA256_SIZE] = {};
    bool required = false;
};
void set_image_digest_rule(const image_digest_rule& rule);

// The digest written as 64 hexadecimal digits, either case; false for any
// other text.
bool digest_from_text(const std::string& text, uint8_t digest[SHA256_SIZE]);

// Reads the image file `name` whole, before any drive is touched, and refuses
// it, told in one line as the image's fault, when a pinned build's size or
// digest, a checksum file `name`.sha256 beside it (one that is there but
// cannot be read, or gives no digest for it, too), the digest rule, or the
// release's version says it is not this build's image. 0 to go on (also when
// the file cannot be read: loading it tells), -1 refused.
int vet_image(const char* name);

// The bytes one load of image file `name` put in memory: 0 when they are the
// bytes the run first read (the first read whole is the one all others must
// hold), -1 for an image refused already, IMAGE_CHANGED after telling that
// the file changed.
constexpr int IMAGE_CHANGED = -2;
int same_as_first_read(const char* name, const uint8_t* bytes, uint32_t size);

void reset_image_integrity_state();
