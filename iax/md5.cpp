// Layer: bottom. Message digest; calls nothing else of the library.
#include "iax/md5.h"

#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kShift[64] = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

uint32_t RotateLeft(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

void Transform(uint32_t state[4], const unsigned char block[64])
{
    uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = uint32_t(block[i * 4]) | (uint32_t(block[i * 4 + 1]) << 8) |
                   (uint32_t(block[i * 4 + 2]) << 16) | (uint32_t(block[i * 4 + 3]) << 24);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
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
        uint32_t rotated = RotateLeft(a + f + kSine[i] + words[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void IaxMd5Init(IaxMd5Context* context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->lengthBytes = 0;
}

void IaxMd5Update(IaxMd5Context* context, const void* data, size_t lengthBytes)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    size_t used = context->lengthBytes % 64;
    context->lengthBytes += lengthBytes;
    while (lengthBytes > 0) {
        size_t take = 64 - used < lengthBytes ? 64 - used : lengthBytes;
        memcpy(context->buffer + used, bytes, take);
        used += take;
        bytes += take;
        lengthBytes -= take;
        if (used == 64) {
            Transform(context->state, context->buffer);
            used = 0;
        }
    }
}

void IaxMd5Final(IaxMd5Context* context, unsigned char digest[16])
{
    uint64_t bits = context->lengthBytes * 8;
    static const unsigned char padding[64] = {0x80};
    size_t used = context->lengthBytes % 64;
    IaxMd5Update(context, padding, used < 56 ? 56 - used : 120 - used);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(bits >> (8 * i));
    IaxMd5Update(context, length, 8);
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<unsigned char>(context->state[i / 4] >> (8 * (i % 4)));
}

void IaxHexDigest(const unsigned char digest[16], char out[33])
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[i * 2] = digits[digest[i] >> 4];
        out[i * 2 + 1] = digits[digest[i] & 0x0F];
    }
    out[32] = '\0';
}

void IaxMd5Hex(const char* first, const char* second, char out[33])
{
    IaxMd5Context context;
    IaxMd5Init(&context);
    IaxMd5Update(&context, first, strlen(first));
    IaxMd5Update(&context, second, strlen(second));
    unsigned char digest[16];
    IaxMd5Final(&context, digest);
    IaxHexDigest(digest, out);
}
