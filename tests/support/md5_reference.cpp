#include "tests/support/md5_reference.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace iaxpeer {

namespace {

const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t RotateLeft(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// The sine table, computed as RFC 1321 defines it rather than copied.
uint32_t SineConstant(int i)
{
    return static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
}

void Block(uint32_t state[4], const uint8_t* block)
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = block[i * 4] | block[i * 4 + 1] << 8 | block[i * 4 + 2] << 16 |
               static_cast<uint32_t>(block[i * 4 + 3]) << 24;
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
        uint32_t next = b + RotateLeft(a + f + SineConstant(i) + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

std::string Md5Hex(const std::string& text)
{
    std::vector<uint8_t> msg(text.begin(), text.end());
    uint64_t bitLength = static_cast<uint64_t>(msg.size()) * 8;
    msg.push_back(0x80);
    while (msg.size() % 64 != 56)
        msg.push_back(0);
    for (int i = 0; i < 8; ++i)
        msg.push_back(static_cast<uint8_t>(bitLength >> (8 * i)));
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t at = 0; at < msg.size(); at += 64)
        Block(state, msg.data() + at);
    std::string hex;
    char two[3];
    for (uint32_t word : state)
        for (int i = 0; i < 4; ++i) {
            std::snprintf(two, sizeof two, "%02x", (word >> (8 * i)) & 0xFF);
            hex += two;
        }
    return hex;
}

}  // namespace iaxpeer
