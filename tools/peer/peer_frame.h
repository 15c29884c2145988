// Byte-level IAX frame codec of our raw-frame peers: the tests' scripted
// peer and the echo service.
//
// Written independently of the library under test: the peer builds and
// parses raw datagrams itself, so a test that passes checks the wire format
// and not merely that the library agrees with itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace iaxpeer {

using Bytes = std::vector<uint8_t>;

// Frame types (header byte 10).
enum FrameType : uint8_t {
    kDtmf = 1,
    kVoice = 2,
    kControl = 4,
    kIax = 6,
    kText = 7,
    kImage = 8,
    kHtml = 9,
};

// Control subclasses.
enum Control : uint32_t {
    kRinging = 3,
    kAnswer = 4,
    kBusy = 5,
    kCongestion = 8,
};

// IAX message subclasses.
enum IaxMessage : uint32_t {
    kNew = 1,
    kPing = 2,
    kPong = 3,
    kAck = 4,
    kHangup = 5,
    kReject = 6,
    kAccept = 7,
    kAuthReq = 8,
    kAuthRep = 9,
    kInval = 10,
    kLagRq = 11,
    kLagRp = 12,
    kRegReq = 13,
    kRegAuth = 14,
    kRegAck = 15,
    kRegRej = 16,
    kDpReq = 19,
    kDpRep = 20,
    kDial = 21,
    kTxReq = 22,
    kTxCnt = 23,
    kTxAcc = 24,
    kTxReady = 25,
    kTxRel = 26,
    kTxRej = 27,
    kQuelch = 28,
    kUnquelch = 29,
};

// HTML subclasses.
enum Html : uint32_t {
    kHtmlUrl = 1,
    kHtmlLoadComplete = 16,
    kHtmlLinkUrl = 18,
    kHtmlUnlink = 19,
    kHtmlLinkReject = 20,
};

constexpr uint32_t kGsmFormat = 2;
constexpr uint16_t kUnknownCall = 0xFFFF;
constexpr size_t kFullHeaderBytes = 12;
constexpr size_t kMiniHeaderBytes = 4;

// One-byte subclass packing: values below 128 as they are, a single higher
// bit n as 0x80 + n, anything else as 0 (not representable).
uint8_t CompressSubclass(uint32_t subclass);
uint32_t ExpandSubclass(uint8_t byte);

struct FullHeader {
    uint16_t sourceCall = 0;  // without the full-frame bit
    uint16_t destCall = kUnknownCall;
    uint32_t timestampMs = 0;
    uint16_t sequence = 0;
    uint8_t type = 0;
    uint8_t subclassByte = 0;  // already compressed
};

Bytes BuildFull(const FullHeader& header, const Bytes& payload = {});
Bytes BuildMini(uint16_t sourceCall, uint16_t timestampLow16, const Bytes& data);

// What the peer made of one datagram.
struct PeerFrame {
    bool full = false;
    uint16_t sourceCall = 0;   // full-frame bit removed
    uint16_t destCall = 0;     // full frames only, as on the wire
    uint32_t timestampMs = 0;  // mini frames: the 16 bits on the wire
    uint16_t sequence = 0;
    uint8_t type = 0;
    uint8_t subclassByte = 0;
    uint32_t subclass = 0;  // expanded
    Bytes payload;
    size_t datagramBytes = 0;

    bool Is(uint8_t frameType, uint32_t sub) const
    {
        return full && type == frameType && subclass == sub;
    }
    // The payload as text, up to its first NUL.
    std::string Text() const;
    // One-line description for failure messages.
    std::string Describe() const;
};

// Whether the receiver of this frame acknowledges it: every full frame but
// ACK, REJECT, INVAL, TXCNT and TXACC.
bool NeedsAck(const PeerFrame& frame);

// nullopt for a datagram too short for the header its first bit announces.
std::optional<PeerFrame> ParseDatagram(const uint8_t* data, size_t lengthBytes);

using Elements = std::vector<std::pair<std::string, std::string>>;

// "k1=v1;k2=v2;" exactly as the text payload is laid out.
std::string JoinElements(const Elements& elements);
// Strict split of a text payload into its elements, in order; nullopt when
// the text is not a plain run of "key=value;" elements.
std::optional<Elements> SplitElements(const std::string& text);

Bytes ToBytes(const std::string& text, bool withNul = false);

const char* IaxMessageName(uint32_t subclass);

}  // namespace iaxpeer
