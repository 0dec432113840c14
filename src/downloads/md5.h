// MD5 (RFC 1321). Download files are named by the digest of their link's last
// path segment; the backup index identifies INF files by theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct md5_state {
    uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
    uint64_t length = 0;      // bytes taken so far
    unsigned char block[64] = {};
};

void md5_update(md5_state& state, const void* data, std::size_t size);
// The 16 digest bytes; the state is spent afterwards.
void md5_finish(md5_state& state, unsigned char (&digest)[16]);
// The digest of `size` bytes as 32 lower-case hexadecimal digits.
std::string md5_hex(const void* data, std::size_t size);
