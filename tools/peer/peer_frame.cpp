#include "tools/peer/peer_frame.h"

#include <cstdio>
#include <cstring>

namespace iaxpeer {

namespace {

void Put16(Bytes& out, size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void Put32(Bytes& out, size_t at, uint32_t value)
{
    Put16(out, at, static_cast<uint16_t>(value >> 16));
    Put16(out, at + 2, static_cast<uint16_t>(value));
}

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(Get16(p)) << 16 | Get16(p + 2);
}

}  // namespace

uint8_t CompressSubclass(uint32_t subclass)
{
    if (subclass < 128)
        return static_cast<uint8_t>(subclass);
    int bit = -1;
    for (int n = 0; n < 31; ++n) {
        if ((subclass >> n) & 1u) {
            if (bit >= 0)
                return 0;
            bit = n;
        }
    }
    return bit < 0 ? 0 : static_cast<uint8_t>(0x80 + bit);
}

uint32_t ExpandSubclass(uint8_t byte)
{
    if (byte & 0x80)
        return 1u << (byte & 0x1F);
    return byte;
}

Bytes BuildFull(const FullHeader& header, const Bytes& payload)
{
    Bytes out(kFullHeaderBytes + payload.size());
    Put16(out, 0, static_cast<uint16_t>(header.sourceCall | 0x8000));
    Put16(out, 2, header.destCall);
    Put32(out, 4, header.timestampMs);
    Put16(out, 8, header.sequence);
    out[10] = header.type;
    out[11] = header.subclassByte;
    if (!payload.empty())
        std::memcpy(out.data() + kFullHeaderBytes, payload.data(), payload.size());
    return out;
}

Bytes BuildMini(uint16_t sourceCall, uint16_t timestampLow16, const Bytes& data)
{
    Bytes out(kMiniHeaderBytes + data.size());
    Put16(out, 0, static_cast<uint16_t>(sourceCall & 0x7FFF));
    Put16(out, 2, timestampLow16);
    if (!data.empty())
        std::memcpy(out.data() + kMiniHeaderBytes, data.data(), data.size());
    return out;
}

std::optional<PeerFrame> ParseDatagram(const uint8_t* data, size_t lengthBytes)
{
    if (lengthBytes < 2)
        return std::nullopt;
    PeerFrame f;
    f.datagramBytes = lengthBytes;
    uint16_t first = Get16(data);
    f.full = (first & 0x8000) != 0;
    f.sourceCall = first & 0x7FFF;
    size_t headerBytes = f.full ? kFullHeaderBytes : kMiniHeaderBytes;
    if (lengthBytes < headerBytes)
        return std::nullopt;
    if (f.full) {
        f.destCall = Get16(data + 2);
        f.timestampMs = Get32(data + 4);
        f.sequence = Get16(data + 8);
        f.type = data[10];
        f.subclassByte = data[11];
        f.subclass = ExpandSubclass(f.subclassByte);
    } else {
        f.timestampMs = Get16(data + 2);
        f.type = kVoice;
    }
    f.payload.assign(data + headerBytes, data + lengthBytes);
    return f;
}

bool NeedsAck(const PeerFrame& f)
{
    if (!f.full)
        return false;
    if (f.type != kIax)
        return true;
    return f.subclass != kAck && f.subclass != kReject && f.subclass != kInval &&
           f.subclass != kTxCnt && f.subclass != kTxAcc;
}

std::string PeerFrame::Text() const
{
    std::string text(payload.begin(), payload.end());
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

std::string PeerFrame::Describe() const
{
    char line[160];
    if (!full) {
        std::snprintf(line, sizeof line, "mini src=%u ts16=%u len=%zu", sourceCall,
                      static_cast<unsigned>(timestampMs), payload.size());
        return line;
    }
    std::snprintf(line, sizeof line, "full src=%u dst=%u ts=%u seq=%u type=%u sub=%u(%s) len=%zu",
                  sourceCall, destCall, timestampMs, sequence, type, subclass,
                  type == kIax ? IaxMessageName(subclass) : "-", payload.size());
    return line;
}

std::string JoinElements(const Elements& elements)
{
    std::string text;
    for (const auto& [key, value] : elements)
        text += key + "=" + value + ";";
    return text;
}

std::optional<Elements> SplitElements(const std::string& text)
{
    Elements out;
    if (text.find(' ') != std::string::npos)
        return std::nullopt;
    size_t at = 0;
    while (at < text.size()) {
        size_t eq = text.find('=', at);
        size_t semi = text.find(';', at);
        if (eq == std::string::npos || semi == std::string::npos || eq > semi || eq == at)
            return std::nullopt;
        out.emplace_back(text.substr(at, eq - at), text.substr(eq + 1, semi - eq - 1));
        at = semi + 1;
    }
    return out;
}

Bytes ToBytes(const std::string& text, bool withNul)
{
    Bytes out(text.begin(), text.end());
    if (withNul)
        out.push_back(0);
    return out;
}

const char* IaxMessageName(uint32_t subclass)
{
    static const char* const kNames[] = {
        "?",       "NEW",     "PING",  "PONG",  "ACK",    "HANGUP",  "REJECT",  "ACCEPT",
        "AUTHREQ", "AUTHREP", "INVAL", "LAGRQ", "LAGRP",  "REGREQ",  "REGAUTH", "REGACK",
        "REGREJ",  "?",       "?",     "DPREQ", "DPREP",  "DIAL",    "TXREQ",   "TXCNT",
        "TXACC",   "TXREADY", "TXREL", "TXREJ", "QUELCH", "UNQUELCH"};
    return subclass < sizeof kNames / sizeof kNames[0] ? kNames[subclass] : "?";
}

}  // namespace iaxpeer
