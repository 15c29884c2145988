// Layer: wire (above codes). Pure: reads only within the span it was given,
// checking the length before every read.
#include "iax2/wire.h"

namespace iax2 {

namespace {

uint16_t Read16(ByteView bytes, size_t at)
{
    return uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

uint32_t Read32(ByteView bytes, size_t at)
{
    return uint32_t(Read16(bytes, at)) << 16 | Read16(bytes, at + 2);
}

void Put16(Bytes* out, uint16_t value)
{
    out->push_back(uint8_t(value >> 8));
    out->push_back(uint8_t(value));
}

void Put32(Bytes* out, uint32_t value)
{
    Put16(out, uint16_t(value >> 16));
    Put16(out, uint16_t(value));
}

}  // namespace

DatagramKind Classify(ByteView datagram)
{
    if (datagram.size() < kMiniHeaderBytes)
        return DatagramKind::Invalid;
    if (datagram[0] & 0x80)
        return datagram.size() >= kFullHeaderBytes ? DatagramKind::Full : DatagramKind::Invalid;
    if (datagram[0] == 0 && datagram[1] == 0)
        return (datagram[2] & 0x80) ? DatagramKind::MetaVideo : DatagramKind::MetaTrunk;
    return DatagramKind::Mini;
}

int ParseFull(ByteView datagram, FullHeader* header, ByteView* payload)
{
    if (Classify(datagram) != DatagramKind::Full)
        return -1;
    const uint8_t coded = datagram[11];
    if ((coded & 0x80) && (coded & 0x7F) >= 32)
        return -1;
    header->source = Read16(datagram, 0) & 0x7FFF;
    header->retransmitted = (datagram[2] & 0x80) != 0;
    header->destination = Read16(datagram, 2) & 0x7FFF;
    header->timestamp = Read32(datagram, 4);
    header->oseqno = datagram[8];
    header->iseqno = datagram[9];
    header->type = datagram[10];
    header->subclass = (coded & 0x80) ? (1u << (coded & 0x7F)) : coded;
    *payload = datagram.subspan(kFullHeaderBytes);
    return 0;
}

int ParseMini(ByteView datagram, MiniHeader* header, ByteView* payload)
{
    if (Classify(datagram) != DatagramKind::Mini)
        return -1;
    header->source = Read16(datagram, 0) & 0x7FFF;
    header->timestamp = Read16(datagram, 2);
    *payload = datagram.subspan(kMiniHeaderBytes);
    return 0;
}

int EncodeSubclass(uint32_t value)
{
    if (value <= 0x7F)
        return int(value);
    if ((value & (value - 1)) != 0)
        return -1;
    int exponent = 0;
    while ((1u << exponent) != value)
        ++exponent;
    return 0x80 | exponent;
}

int AppendFull(const FullHeader& header, ByteView payload, Bytes* out)
{
    const int subclass = EncodeSubclass(header.subclass);
    if (subclass < 0 || header.source > 0x7FFF || header.destination > 0x7FFF)
        return -1;
    Put16(out, uint16_t(0x8000 | header.source));
    Put16(out, uint16_t((header.retransmitted ? 0x8000 : 0) | header.destination));
    Put32(out, header.timestamp);
    out->push_back(header.oseqno);
    out->push_back(header.iseqno);
    out->push_back(header.type);
    out->push_back(uint8_t(subclass));
    out->insert(out->end(), payload.begin(), payload.end());
    return 0;
}

int AppendMini(const MiniHeader& header, ByteView payload, Bytes* out)
{
    if (header.source == 0 || header.source > 0x7FFF)
        return -1;
    Put16(out, header.source);
    Put16(out, header.timestamp);
    out->insert(out->end(), payload.begin(), payload.end());
    return 0;
}

void MarkRetransmitted(Bytes* frame)
{
    if (frame->size() >= kFullHeaderBytes)
        (*frame)[2] |= 0x80;
}

}  // namespace iax2
