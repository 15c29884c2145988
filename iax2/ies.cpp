// Layer: ies (above wire). Every element's length is checked against the
// data left and against the length its id defines before it is read.
#include "iax2/ies.h"

#include "iax2/codes.h"

namespace iax2 {

namespace {

uint32_t ReadBig(ByteView data)
{
    uint32_t value = 0;
    for (uint8_t octet : data)
        value = value << 8 | octet;
    return value;
}

int TakeText(ByteView data, std::optional<std::string>* into)
{
    if (!IsWellFormedUtf8(data))
        return -1;
    *into = std::string(data.begin(), data.end());
    return 0;
}

template <typename T>
int TakeFixed(ByteView data, size_t length, std::optional<T>* into)
{
    if (data.size() != length)
        return -1;
    *into = T(ReadBig(data));
    return 0;
}

int TakeAddress(ByteView data, std::optional<Ipv4Address>* into)
{
    if (data.size() == 28)
        return 0;  // IPv6: not used by this client
    if (data.size() != 16 || data[0] != 0x02 || data[1] != 0x00)
        return -1;
    *into = Ipv4Address{ReadBig(data.subspan(4, 4)), uint16_t(ReadBig(data.subspan(2, 2)))};
    return 0;
}

int TakeDate(ByteView data, std::optional<DateTime>* into)
{
    if (data.size() != 4)
        return -1;
    *into = UnpackDateTime(ReadBig(data));
    return 0;
}

int TakeFlag(ByteView data, bool* into)
{
    *into = true;
    return data.empty() ? 0 : -1;
}

int TakeText8(uint8_t id, ByteView data, Ies* ies)
{
    switch (id) {
    case kIeCalledNumber: return TakeText(data, &ies->calledNumber);
    case kIeCallingNumber: return TakeText(data, &ies->callingNumber);
    case kIeCallingName: return TakeText(data, &ies->callingName);
    case kIeCalledContext: return TakeText(data, &ies->calledContext);
    case kIeUsername: return TakeText(data, &ies->username);
    case kIeChallenge: return TakeText(data, &ies->challenge);
    case kIeMd5Result: return TakeText(data, &ies->md5Result);
    case kIeCause: return TakeText(data, &ies->cause);
    case kIeLanguage: return TakeText(data, &ies->language);
    case kIeDnid: return TakeText(data, &ies->dnid);
    default: return 1;
    }
}

int TakeElement(uint8_t id, ByteView data, Ies* ies)
{
    if (const int text = TakeText8(id, data, ies); text != 1)
        return text;
    switch (id) {
    case kIeCallToken: ies->callToken = std::string(data.begin(), data.end()); return 0;
    case kIeCapability: return TakeFixed(data, 4, &ies->capability);
    case kIeFormat: return TakeFixed(data, 4, &ies->format);
    case kIeTransferId: return TakeFixed(data, 4, &ies->transferId);
    case kIeVersion: return TakeFixed(data, 2, &ies->version);
    case kIeAuthMethods: return TakeFixed(data, 2, &ies->authMethods);
    case kIeRefresh: return TakeFixed(data, 2, &ies->refresh);
    case kIeCallNo: return TakeFixed(data, 2, &ies->callNo);
    case kIeMsgCount: return TakeFixed(data, 2, &ies->msgCount);
    case kIeSamplingRate: return TakeFixed(data, 2, &ies->samplingRate);
    // The encryption element is drawn one octet long but described as two:
    // take either, as the length octet says.
    case kIeEncryption:
        return data.size() == 1 || data.size() == 2 ? (ies->encryption = uint16_t(ReadBig(data)), 0)
                                                    : -1;
    case kIeCauseCode: return TakeFixed(data, 1, &ies->causeCode);
    case kIeUnknown: return TakeFixed(data, 1, &ies->unknownCommand);
    case kIeCallingPres: return TakeFixed(data, 1, &ies->callingPres);
    case kIeCallingTon: return TakeFixed(data, 1, &ies->callingTon);
    case kIeApparentAddr: return TakeAddress(data, &ies->apparentAddress);
    case kIeDateTime: return TakeDate(data, &ies->dateTime);
    case kIeAutoAnswer: return TakeFlag(data, &ies->autoAnswer);
    default: return 0;  // unknown or unused: skipped by its length
    }
}

// Length of the UTF-8 sequence a lead octet starts, 0 when it starts none.
int SequenceLength(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Rejects overlong forms, surrogates and code points above U+10FFFF.
bool SecondOctetFits(uint8_t lead, uint8_t second)
{
    if (lead == 0xE0)
        return second >= 0xA0;
    if (lead == 0xED)
        return second <= 0x9F;
    if (lead == 0xF0)
        return second >= 0x90;
    if (lead == 0xF4)
        return second <= 0x8F;
    return true;
}

}  // namespace

bool IsWellFormedUtf8(ByteView text)
{
    for (size_t at = 0; at < text.size();) {
        const int length = SequenceLength(text[at]);
        if (length == 0 || at + size_t(length) > text.size())
            return false;
        for (int i = 1; i < length; ++i)
            if ((text[at + i] & 0xC0) != 0x80)
                return false;
        if (length > 1 && !SecondOctetFits(text[at], text[at + 1]))
            return false;
        at += size_t(length);
    }
    return true;
}

int ParseIes(ByteView data, Ies* ies)
{
    size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < 2)
            return -1;
        const uint8_t id = data[at];
        const size_t length = data[at + 1];
        if (data.size() - at - 2 < length)
            return -1;
        if (TakeElement(id, data.subspan(at + 2, length), ies) != 0)
            return -1;
        at += 2 + length;
    }
    return 0;
}

uint32_t PackDateTime(DateTime when)
{
    return uint32_t(when.year - 2000) << 25 | uint32_t(when.month) << 21 |
           uint32_t(when.day) << 16 | uint32_t(when.hour) << 11 | uint32_t(when.minute) << 5 |
           uint32_t(when.second / 2);
}

DateTime UnpackDateTime(uint32_t word)
{
    return DateTime{int(word >> 25) + 2000, int(word >> 21 & 0xF), int(word >> 16 & 0x1F),
                    int(word >> 11 & 0x1F), int(word >> 5 & 0x3F), int(word & 0x1F) * 2};
}

IeWriter& IeWriter::Raw(uint8_t id, ByteView data)
{
    m_bytes.push_back(id);
    m_bytes.push_back(uint8_t(data.size()));
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
    return *this;
}

IeWriter& IeWriter::Text(uint8_t id, const std::string& text)
{
    size_t length = text.size() < 255 ? text.size() : 255;
    while (length > 0 && length < text.size() && (uint8_t(text[length]) & 0xC0) == 0x80)
        --length;  // never split a character
    const auto* begin = reinterpret_cast<const uint8_t*>(text.data());
    return Raw(id, ByteView(begin, length));
}

IeWriter& IeWriter::U8(uint8_t id, uint8_t value)
{
    return Raw(id, ByteView(&value, 1));
}

IeWriter& IeWriter::U16(uint8_t id, uint16_t value)
{
    const uint8_t octets[2] = {uint8_t(value >> 8), uint8_t(value)};
    return Raw(id, octets);
}

IeWriter& IeWriter::U32(uint8_t id, uint32_t value)
{
    const uint8_t octets[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                               uint8_t(value)};
    return Raw(id, octets);
}

IeWriter& IeWriter::Empty(uint8_t id)
{
    return Raw(id, ByteView());
}

// The family is stored as the octets 02 00 whatever the host's layout; port
// and address are big-endian.
IeWriter& IeWriter::Address(uint8_t id, Ipv4Address address)
{
    uint8_t octets[16] = {0x02, 0x00, uint8_t(address.port >> 8), uint8_t(address.port)};
    for (int i = 0; i < 4; ++i)
        octets[4 + i] = uint8_t(address.address >> (24 - 8 * i));
    return Raw(id, octets);
}

IeWriter& IeWriter::Date(uint8_t id, DateTime when)
{
    return U32(id, PackDateTime(when));
}

}  // namespace iax2
