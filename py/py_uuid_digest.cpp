// MD5 (RFC 1321) and SHA-1 (FIPS 180-4) in their plain textbook form: the
// UUID library hashes only NUL-terminated names, and OpenSSL is not a
// dependency of the module.
#include "py_uuid_digest.h"

#include <cstring>

namespace orvo {
namespace {

uint32_t rotate_left(uint32_t value, unsigned bits) { return (value << bits) | (value >> (32 - bits)); }

// Feeds the message in 64-byte blocks with the standard padding: a 1 bit,
// zeros, then the message length in bits (little-endian for MD5,
// big-endian for SHA-1) in the last 8 bytes.
template <typename Block>
void for_each_padded_block(const uint8_t *data, size_t size, bool big_endian_length, Block block) {
    size_t offset = 0;
    for (; size - offset >= 64; offset += 64) block(data + offset);
    uint8_t tail[128] = {};
    const size_t rest = size - offset;
    if (rest != 0) std::memcpy(tail, data + offset, rest);
    tail[rest] = 0x80;
    const size_t tail_size = rest < 56 ? 64 : 128;
    const uint64_t bits = static_cast<uint64_t>(size) * 8u;
    for (int i = 0; i < 8; ++i) {
        const uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
        tail[big_endian_length ? tail_size - 1 - i : tail_size - 8 + i] = byte;
    }
    block(tail);
    if (tail_size == 128) block(tail + 64);
}

constexpr uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr unsigned kMd5Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

void md5_digest(const uint8_t *data, size_t size, uint8_t out[16]) {
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for_each_padded_block(data, size, false, [&state](const uint8_t *block) {
        uint32_t words[16];
        for (int i = 0; i < 16; ++i)
            words[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
                       uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            uint32_t mix;
            int index;
            if (round == 0) {
                mix = (b & c) | (~b & d);
                index = i;
            } else if (round == 1) {
                mix = (d & b) | (~d & c);
                index = (5 * i + 1) % 16;
            } else if (round == 2) {
                mix = b ^ c ^ d;
                index = (3 * i + 5) % 16;
            } else {
                mix = c ^ (b | ~d);
                index = (7 * i) % 16;
            }
            const uint32_t next =
                b + rotate_left(a + mix + kMd5Sines[i] + words[index], kMd5Shifts[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    });
    for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
}

void sha1_digest(const uint8_t *data, size_t size, uint8_t out[20]) {
    uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    for_each_padded_block(data, size, true, [&state](const uint8_t *block) {
        uint32_t words[80];
        for (int i = 0; i < 16; ++i)
            words[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
                       uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
        for (int i = 16; i < 80; ++i)
            words[i] = rotate_left(words[i - 3] ^ words[i - 8] ^ words[i - 14] ^ words[i - 16], 1);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t mix, constant;
            if (i < 20) {
                mix = (b & c) | (~b & d);
                constant = 0x5a827999;
            } else if (i < 40) {
                mix = b ^ c ^ d;
                constant = 0x6ed9eba1;
            } else if (i < 60) {
                mix = (b & c) | (b & d) | (c & d);
                constant = 0x8f1bbcdc;
            } else {
                mix = b ^ c ^ d;
                constant = 0xca62c1d6;
            }
            const uint32_t next = rotate_left(a, 5) + mix + e + constant + words[i];
            e = d;
            d = c;
            c = rotate_left(b, 30);
            b = a;
            a = next;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    });
    for (int i = 0; i < 20; ++i) out[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (3 - i % 4)));
}

}  // namespace orvo
