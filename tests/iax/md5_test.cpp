#include "iax/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Md5(const std::string& text)
{
    char hex[33];
    IaxMd5Hex(text.c_str(), "", hex);
    return hex;
}

TEST(Md5Test, Rfc1321TestSuite)
{
    struct Case {
        const char* input;
        const char* digest;
    } cases[] = {
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
    for (const Case& c : cases)
        EXPECT_EQ(Md5(c.input), c.digest) << '"' << c.input << '"';
}

TEST(Md5Test, ChallengeAndSecretAreDigestedAsOneText)
{
    char joined[33];
    IaxMd5Hex("message ", "digest", joined);
    EXPECT_STREQ(joined, "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(Md5Test, UpdatesAcrossBlockBoundariesMatchOneUpdate)
{
    std::string text(200, 'q');
    for (size_t split : {1u, 55u, 56u, 63u, 64u, 65u, 128u}) {
        IaxMd5Context context;
        IaxMd5Init(&context);
        IaxMd5Update(&context, text.data(), split);
        IaxMd5Update(&context, text.data() + split, text.size() - split);
        unsigned char digest[16];
        IaxMd5Final(&context, digest);
        char hex[33];
        IaxHexDigest(digest, hex);
        EXPECT_EQ(hex, Md5(text)) << "split at " << split;
    }
}

}  // namespace
