// Information elements: the decoded set a command frame carries, and a
// writer for outgoing ones. Pure functions over bytes. Layer: above wire.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "iax2/wire.h"

namespace iax2 {

// A socket address as APPARENT ADDR carries it (IPv4 only; an IPv6 one is
// recognised by its length and left unset).
struct Ipv4Address {
    uint32_t address = 0;  // host order
    uint16_t port = 0;     // host order
};

struct DateTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The elements the client reads. Text is kept as received (no terminator);
// absent elements stay empty.
struct Ies {
    std::optional<std::string> calledNumber, callingNumber, callingName, calledContext, username,
        challenge, md5Result, cause, language, dnid, callToken;
    std::optional<uint32_t> capability, format, transferId;
    std::optional<uint16_t> version, authMethods, refresh, callNo, msgCount, samplingRate,
        encryption;
    std::optional<uint8_t> causeCode, unknownCommand, callingPres, callingTon;
    std::optional<Ipv4Address> apparentAddress;
    std::optional<DateTime> dateTime;
    bool autoAnswer = false;
};

// Decode every element after a command header. -1 when an element runs past
// the end, a known element has a length it does not define, or text is not
// well-formed UTF-8; unknown ids are skipped by their length.
int ParseIes(ByteView data, Ies* ies);

// Builds the data of a command frame element by element. Text longer than
// 255 octets is cut at a character boundary.
class IeWriter {
public:
    IeWriter& Text(uint8_t id, const std::string& text);
    IeWriter& Raw(uint8_t id, ByteView data);
    IeWriter& U8(uint8_t id, uint8_t value);
    IeWriter& U16(uint8_t id, uint16_t value);
    IeWriter& U32(uint8_t id, uint32_t value);
    IeWriter& Empty(uint8_t id);
    IeWriter& Address(uint8_t id, Ipv4Address address);
    IeWriter& Date(uint8_t id, DateTime when);
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

bool IsWellFormedUtf8(ByteView text);
uint32_t PackDateTime(DateTime when);  // seconds kept at 2-second resolution
DateTime UnpackDateTime(uint32_t word);

}  // namespace iax2
