#include "downloads/md5.h"

#include <gtest/gtest.h>

#include <string>

TEST(Md5, TheSuiteOfTheAlgorithmsDefinition) {
    const struct { const char* text; const char* digest; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5_hex(c.text, std::string(c.text).size()), c.digest) << c.text;
}

TEST(Md5, PiecesGiveTheSameDigestAsTheWhole) {
    // Lengths around the 56- and 64-byte block boundaries, fed in odd pieces.
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        std::string text(length, '\0');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(i * 31 + 7);
        md5_state state;
        for (size_t at = 0; at < length; at += 13) md5_update(state, text.data() + at, std::min<size_t>(13, length - at));
        unsigned char digest[16];
        md5_finish(state, digest);
        const std::string whole = md5_hex(text.data(), text.size());
        char hex[33];
        for (int i = 0; i < 16; ++i) snprintf(hex + i * 2, 3, "%02x", digest[i]);
        EXPECT_EQ(whole, hex) << length;
    }
}
