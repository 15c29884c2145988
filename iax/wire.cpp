// Layer: bottom. Byte layout of frames and text payloads; pure functions.
#include "iax/wire.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint16_t IaxGet16(const unsigned char* bytes)
{
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t IaxGet32(const unsigned char* bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
}

void IaxPut16(unsigned char* bytes, uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value);
}

void IaxPut32(unsigned char* bytes, uint32_t value)
{
    IaxPut16(bytes, static_cast<uint16_t>(value >> 16));
    IaxPut16(bytes + 2, static_cast<uint16_t>(value));
}

bool IaxIsFullFrame(const unsigned char* bytes, int lengthBytes)
{
    return lengthBytes >= 1 && (bytes[0] & 0x80) != 0;
}

void IaxEncodeFullHeader(unsigned char* out, const IaxFullHeader& header)
{
    IaxPut16(out, static_cast<uint16_t>(header.sourceCall | IaxFullFrameFlag));
    IaxPut16(out + 2, header.destCall);
    IaxPut32(out + 4, header.timestamp);
    IaxPut16(out + 8, header.sequence);
    out[10] = header.frameType;
    out[11] = header.subclass;
}

int IaxDecodeFullHeader(const unsigned char* bytes, int lengthBytes, IaxFullHeader* header)
{
    if (lengthBytes < IaxFullHeaderBytes)
        return -1;
    header->sourceCall = IaxGet16(bytes) & 0x7FFF;
    header->destCall = IaxGet16(bytes + 2);
    header->timestamp = IaxGet32(bytes + 4);
    header->sequence = IaxGet16(bytes + 8);
    header->frameType = bytes[10];
    header->subclass = bytes[11];
    return 0;
}

void IaxEncodeMiniHeader(unsigned char* out, const IaxMiniHeader& header)
{
    IaxPut16(out, header.sourceCall & 0x7FFF);
    IaxPut16(out + 2, header.timestamp);
}

int IaxDecodeMiniHeader(const unsigned char* bytes, int lengthBytes, IaxMiniHeader* header)
{
    if (lengthBytes < IaxMiniHeaderBytes)
        return -1;
    header->sourceCall = IaxGet16(bytes) & 0x7FFF;
    header->timestamp = IaxGet16(bytes + 2);
    return 0;
}

int IaxDecodeDatagram(const unsigned char* bytes, int lengthBytes, IaxDatagram* datagram)
{
    datagram->isFull = IaxIsFullFrame(bytes, lengthBytes);
    int headerBytes = datagram->isFull ? IaxFullHeaderBytes : IaxMiniHeaderBytes;
    int result = datagram->isFull ? IaxDecodeFullHeader(bytes, lengthBytes, &datagram->full)
                                  : IaxDecodeMiniHeader(bytes, lengthBytes, &datagram->mini);
    if (result != 0)
        return -1;
    datagram->payload = bytes + headerBytes;
    datagram->payloadBytes = lengthBytes - headerBytes;
    return 0;
}

uint8_t IaxCompressSubclass(int value)
{
    if (value >= 0 && value < 128)
        return static_cast<uint8_t>(value);
    int found = -1;
    for (int bit = 0; bit <= 30; ++bit) {
        if (value & (1 << bit)) {
            if (found >= 0)
                return 0;
            found = bit;
        }
    }
    return found < 0 ? 0 : static_cast<uint8_t>(0x80 + found);
}

int IaxExpandSubclass(uint8_t byte)
{
    if (byte & 0x80)
        return static_cast<int>(1u << (byte & 0x1F));
    return byte;
}

int IaxAppendText(char* text, int lengthBytes, int capacityBytes, const char* value)
{
    while (*value && lengthBytes < capacityBytes)
        text[lengthBytes++] = *value++;
    if (lengthBytes < capacityBytes)
        text[lengthBytes] = '\0';
    return lengthBytes;
}

bool IaxIsElementValue(const char* value)
{
    for (; value && *value; ++value) {
        const unsigned char c = static_cast<unsigned char>(*value);
        if (c == ';' || c == '=' || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

int IaxAppendElement(char* text, int lengthBytes, int capacityBytes, const char* key,
                     const char* value)
{
    lengthBytes = IaxAppendText(text, lengthBytes, capacityBytes, key);
    lengthBytes = IaxAppendText(text, lengthBytes, capacityBytes, value ? value : "");
    return IaxAppendText(text, lengthBytes, capacityBytes, ";");
}

int IaxAppendIntElement(char* text, int lengthBytes, int capacityBytes, const char* key, int value)
{
    char digits[16];
    snprintf(digits, sizeof digits, "%d", value);
    return IaxAppendElement(text, lengthBytes, capacityBytes, key, digits);
}

char* IaxTextValue(const char* payload, const char* key)
{
    if (!payload || !key)
        return nullptr;
    const char* found = strstr(payload, key);
    if (!found)
        return nullptr;
    const char* value = found + strlen(key);
    size_t length = strcspn(value, ";");
    char* copy = static_cast<char*>(malloc(length + 1));
    if (!copy)
        return nullptr;
    memcpy(copy, value, length);
    copy[length] = '\0';
    return copy;
}

int IaxParseDecimal(const char* text)
{
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
           *text == '\f')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX)
            value = INT_MAX + 1LL;  // saturate; keeps INT_MIN reachable
    }
    value = negative ? -value : value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

int IaxTextInt(const char* payload, const char* key, int fallback)
{
    char* value = IaxTextValue(payload, key);
    if (!value)
        return fallback;
    int number = IaxParseDecimal(value);
    free(value);
    return number;
}

// Reads one decimal number of a dotted quad; null when there is none.
static const char* ReadQuadPart(const char* text, unsigned* part)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    if (*text < '0' || *text > '9')
        return nullptr;
    unsigned value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = (value * 10 + unsigned(*text - '0')) & 0xFFFFFFu;  // only the low 8 bits matter
    *part = (negative ? 0u - value : value) & 0xFF;
    return text;
}

int IaxParseDottedQuad(const char* text, uint32_t* address)
{
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*text != '.')
                return -1;
            ++text;
        }
        unsigned part = 0;
        text = ReadQuadPart(text, &part);
        if (!text)
            return -1;
        result = (result << 8) | part;
    }
    *address = result;
    return 0;
}

void IaxCopyText(char* to, int capacityBytes, const char* from)
{
    if (capacityBytes <= 0)
        return;
    if (!from)
        from = "";
    size_t length = strnlen(from, static_cast<size_t>(capacityBytes - 1));
    memcpy(to, from, length);
    to[length] = '\0';
}
