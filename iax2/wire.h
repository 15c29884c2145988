// Byte layout of version-2 datagrams: pure functions over byte spans, no
// socket, no state. The only file of the library that knows where a header
// field lies. Layer: above codes.h only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace iax2 {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

constexpr size_t kFullHeaderBytes = 12;
constexpr size_t kMiniHeaderBytes = 4;

enum class DatagramKind { Invalid, Full, Mini, MetaVideo, MetaTrunk };

// What the first octets say the datagram is; a full frame shorter than its
// header is Invalid.
DatagramKind Classify(ByteView datagram);

struct FullHeader {
    uint16_t source = 0;       // sender's call number (15 bits)
    uint16_t destination = 0;  // receiver's call number (15 bits)
    bool retransmitted = false;
    uint32_t timestamp = 0;  // ms on the sender's call clock
    uint8_t oseqno = 0;
    uint8_t iseqno = 0;
    uint8_t type = 0;
    uint32_t subclass = 0;  // decoded: 2^n when the C bit was set
};

struct MiniHeader {
    uint16_t source = 0;
    uint16_t timestamp = 0;  // low 16 bits of the sender's call clock
};

// Decode a header; 0 on success, -1 when the datagram is not of that kind,
// too short, or (full) its subclass exponent is 32 or more. The payload span
// points into the datagram.
int ParseFull(ByteView datagram, FullHeader* header, ByteView* payload);
int ParseMini(ByteView datagram, MiniHeader* header, ByteView* payload);

// The subclass octet for a value: itself up to 0x7F, else the C bit with
// the exponent of a power of two; -1 for values that have neither form.
int EncodeSubclass(uint32_t value);

// Append a whole frame to out; -1 (out unchanged) when the subclass has no
// encoding or a call number does not fit 15 bits.
int AppendFull(const FullHeader& header, ByteView payload, Bytes* out);
int AppendMini(const MiniHeader& header, ByteView payload, Bytes* out);

// The R bit of an encoded full frame, set for a retransmission.
void MarkRetransmitted(Bytes* frame);

}  // namespace iax2
