// SHA-256 as FIPS 180-4 defines it, for whole images: a few milliseconds
// per megabyte, so every load of the image can be checked against the first.
#include "image/sha256.h"

#include <cstring>

namespace {

constexpr uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t rotate(uint32_t x, int n) { return x >> n | x << (32 - n); }

void compress(uint32_t h[8], const uint8_t* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
               block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ w[i - 15] >> 3;
        const uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = k + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                            ROUND_CONSTANTS[i] + w[i];
        const uint32_t t2 = (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

}  // namespace

void sha256_begin(sha256_state& s) {
    static constexpr uint32_t INITIAL[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(s.h, INITIAL, sizeof s.h);
    s.held = 0;
    s.length = 0;
}

void sha256_take(sha256_state& s, const void* bytes, size_t length) {
    const auto* in = static_cast<const uint8_t*>(bytes);
    s.length += length;
    if (s.held > 0) {
        const size_t room = sizeof s.block - s.held;
        const size_t part = length < room ? length : room;
        std::memcpy(s.block + s.held, in, part);
        s.held += part, in += part, length -= part;
        if (s.held < sizeof s.block) return;
        compress(s.h, s.block);
        s.held = 0;
    }
    for (; length >= sizeof s.block; in += sizeof s.block, length -= sizeof s.block) compress(s.h, in);
    std::memcpy(s.block, in, length);
    s.held = length;
}

void sha256_end(sha256_state& s, uint8_t digest[SHA256_SIZE]) {
    const uint64_t bits = s.length * 8;
    const uint8_t one = 0x80;
    const uint8_t zeros[64] = {};
    sha256_take(s, &one, 1);
    sha256_take(s, zeros, (s.held <= 56 ? 56 : 120) - s.held);
    uint8_t length_field[8];
    for (int i = 0; i < 8; ++i) length_field[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    sha256_take(s, length_field, sizeof length_field);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(s.h[i] >> (24 - 8 * j));
}

void sha256(const void* bytes, size_t length, uint8_t digest[SHA256_SIZE]) {
    sha256_state s;
    sha256_begin(s);
    sha256_take(s, bytes, length);
    sha256_end(s, digest);
}

std::string sha256_text(const uint8_t digest[SHA256_SIZE]) {
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < SHA256_SIZE; ++i) {
        text += HEX[digest[i] >> 4];
        text += HEX[digest[i] & 0xF];
    }
    return text;
}
