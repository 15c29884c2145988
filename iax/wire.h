// Byte layout of IAX frames: pure functions over bytes, no socket, no state.
// The only file of the library that knows where a header field lies.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int IaxFullHeaderBytes = 12;
constexpr int IaxMiniHeaderBytes = 4;
constexpr int IaxMaxFrameBytes = 32768;     // outbound full frame, header and payload
constexpr int IaxMaxDatagramBytes = 65536;  // largest datagram read
constexpr int IaxTextFieldBytes = 80;       // session text fields: 79 characters and a NUL

// Frame types.
enum : int {
    FT_DTMF = 1,
    FT_VOICE = 2,
    FT_CONTROL = 4,
    FT_IAX = 6,
    FT_TEXT = 7,
    FT_IMAGE = 8,
    FT_HTML = 9,
};

// Control subclasses.
enum : int {
    CTRL_RINGING = 3,
    CTRL_ANSWER = 4,
    CTRL_BUSY = 5,
    CTRL_CONGESTION = 8,
};

// IAX messages (subclasses of FT_IAX).
enum : int {
    IAX_NEW = 1,
    IAX_PING = 2,
    IAX_PONG = 3,
    IAX_ACK = 4,
    IAX_HANGUP = 5,
    IAX_REJECT = 6,
    IAX_ACCEPT = 7,
    IAX_AUTHREQ = 8,
    IAX_AUTHREP = 9,
    IAX_INVAL = 10,
    IAX_LAGRQ = 11,
    IAX_LAGRP = 12,
    IAX_REGREQ = 13,
    IAX_REGAUTH = 14,
    IAX_REGACK = 15,
    IAX_REGREJ = 16,
    IAX_DPREQ = 19,
    IAX_DPREP = 20,
    IAX_DIAL = 21,
    IAX_TXREQ = 22,
    IAX_TXCNT = 23,
    IAX_TXACC = 24,
    IAX_TXREADY = 25,
    IAX_TXREL = 26,
    IAX_TXREJ = 27,
    IAX_QUELCH = 28,
    IAX_UNQUELCH = 29,
};

// HTML subclasses.
enum : int {
    HTML_URL = 1,
    HTML_LOAD_COMPLETE = 16,
    HTML_LINK_URL = 18,
    HTML_UNLINK = 19,
    HTML_LINK_REJECT = 20,
};

constexpr uint16_t IaxFullFrameFlag = 0x8000;
constexpr uint16_t IaxUnknownCallNumber = 0xFFFF;

struct IaxFullHeader {
    uint16_t sourceCall;  // without the full-frame flag
    uint16_t destCall;
    uint32_t timestamp;
    uint16_t sequence;
    uint8_t frameType;
    uint8_t subclass;  // compressed byte as on the wire
};

struct IaxMiniHeader {
    uint16_t sourceCall;
    uint16_t timestamp;
};

uint16_t IaxGet16(const unsigned char* bytes);
uint32_t IaxGet32(const unsigned char* bytes);
void IaxPut16(unsigned char* bytes, uint16_t value);
void IaxPut32(unsigned char* bytes, uint32_t value);

// 1 when the datagram starts with the full-frame flag.
bool IaxIsFullFrame(const unsigned char* bytes, int lengthBytes);
// Writes 12 header bytes (sets the full-frame flag on the source call number).
void IaxEncodeFullHeader(unsigned char* out, const IaxFullHeader& header);
// 0, or -1 when fewer than 12 bytes are given.
int IaxDecodeFullHeader(const unsigned char* bytes, int lengthBytes, IaxFullHeader* header);
void IaxEncodeMiniHeader(unsigned char* out, const IaxMiniHeader& header);
int IaxDecodeMiniHeader(const unsigned char* bytes, int lengthBytes, IaxMiniHeader* header);

// One received datagram, decoded once: its kind, its header, and where its
// payload lies inside the given bytes.
struct IaxDatagram {
    bool isFull;
    IaxFullHeader full;  // full frames
    IaxMiniHeader mini;  // mini frames
    const unsigned char* payload;
    int payloadBytes;
};

// 0, or -1 when the datagram is shorter than the header its first bit
// announces (12 bytes full, 4 bytes mini; an empty datagram counts as mini).
int IaxDecodeDatagram(const unsigned char* bytes, int lengthBytes, IaxDatagram* datagram);

// Subclass byte packing: values below 128 as they are, one set bit n as
// 0x80 + n, anything else as 0 (not sendable).
uint8_t IaxCompressSubclass(int value);
int IaxExpandSubclass(uint8_t byte);

// Appends "key=value;" (key given with its '=') into a text buffer of
// capacityBytes, never past the capacity; returns the new text length.
int IaxAppendElement(char* text, int lengthBytes, int capacityBytes, const char* key,
                     const char* value);
int IaxAppendIntElement(char* text, int lengthBytes, int capacityBytes, const char* key, int value);
// Whether value can stand in a "key=value;" element without changing what the
// receiver reads: no ';', '=' or control character (null counts as empty).
bool IaxIsElementValue(const char* value);
// Appends raw text without a NUL, cut at the capacity; returns the new length.
int IaxAppendText(char* text, int lengthBytes, int capacityBytes, const char* value);

// Value of the first occurrence of key (with its '=') in a NUL-terminated
// payload, up to the next ';' or the end; a new string the caller frees
// with free(), or null when the key is absent or memory runs out.
char* IaxTextValue(const char* payload, const char* key);
// Lenient decimal: leading blanks, optional sign, digits; 0 without digits.
// Saturates instead of overflowing.
int IaxParseDecimal(const char* text);
// Decimal value of a key, or fallback when the key is absent.
int IaxTextInt(const char* payload, const char* key, int fallback);
// "a.b.c.d" with each number taken modulo 256; 0 on success (address in
// host order in *address), -1 when fewer than four numbers are read.
int IaxParseDottedQuad(const char* text, uint32_t* address);

// Copies at most capacityBytes-1 characters and always terminates.
void IaxCopyText(char* to, int capacityBytes, const char* from);
