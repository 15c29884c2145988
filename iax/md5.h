// RFC 1321 message digest, for answering authentication challenges.
#pragma once

#include <cstddef>
#include <cstdint>

struct IaxMd5Context {
    uint32_t state[4];
    uint64_t lengthBytes;
    unsigned char buffer[64];
};

void IaxMd5Init(IaxMd5Context* context);
void IaxMd5Update(IaxMd5Context* context, const void* data, size_t lengthBytes);
void IaxMd5Final(IaxMd5Context* context, unsigned char digest[16]);

// Writes the 16 digest bytes as 32 lowercase hexadecimal digits and a NUL.
void IaxHexDigest(const unsigned char digest[16], char out[33]);
// Digest of first followed directly by second, as 32 hex digits and a NUL.
void IaxMd5Hex(const char* first, const char* second, char out[33]);
