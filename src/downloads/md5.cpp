#include "downloads/md5.h"

#include <cstring>

namespace {

uint32_t rotate_left(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Per-round shift amounts and the sine-derived constants of the algorithm.
constexpr int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void process_block(md5_state& s, const unsigned char* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(p[i * 4]) | uint32_t(p[i * 4 + 1]) << 8 | uint32_t(p[i * 4 + 2]) << 16 |
               uint32_t(p[i * 4 + 3]) << 24;
    uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = b + rotate_left(a + f + sines[i] + m[g], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    s.a += a;
    s.b += b;
    s.c += c;
    s.d += d;
}

}  // namespace

void md5_update(md5_state& state, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t used = static_cast<std::size_t>(state.length % 64);
    state.length += size;
    while (size > 0) {
        std::size_t n = 64 - used < size ? 64 - used : size;
        std::memcpy(state.block + used, p, n);
        used += n;
        p += n;
        size -= n;
        if (used == 64) {
            process_block(state, state.block);
            used = 0;
        }
    }
}

void md5_finish(md5_state& state, unsigned char (&digest)[16]) {
    const uint64_t bits = state.length * 8;
    const unsigned char pad = 0x80;
    md5_update(state, &pad, 1);
    const unsigned char zero = 0;
    while (state.length % 64 != 56) md5_update(state, &zero, 1);
    unsigned char length_bytes[8];
    for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    md5_update(state, length_bytes, 8);
    const uint32_t words[4] = {state.a, state.b, state.c, state.d};
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
}

std::string md5_hex(const void* data, std::size_t size) {
    md5_state state;
    md5_update(state, data, size);
    unsigned char digest[16];
    md5_finish(state, digest);
    static const char digits[] = "0123456789abcdef";
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[i * 2] = digits[digest[i] >> 4];
        hex[i * 2 + 1] = digits[digest[i] & 15];
    }
    return hex;
}
