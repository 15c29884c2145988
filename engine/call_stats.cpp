#include "engine/call_stats.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velnar {

namespace {

constexpr int kGsmFormatBit = 2;
constexpr int kUlawFormatBit = 4;
constexpr int kAlawFormatBit = 8;
constexpr double kJitterGain = 1.0 / 16.0;

// Signed distance between two 32-bit time stamps. The library rebuilds a
// mini frame's time stamp from 16 bits without carrying into the upper
// half, so a difference beyond half of that range is such a wrap, not time.
int32_t StampDistance(uint32_t later, uint32_t earlier)
{
    int32_t distance = static_cast<int32_t>(later - earlier);
    if (distance < -32768)
        distance += 65536;
    else if (distance > 32768)
        distance -= 65536;
    return distance;
}

}  // namespace

void CallStats::Start()
{
    m_figures = {};
    m_figures.started = true;
    m_haveArrival = false;
    m_highestOffsetMs = 0;
}

void CallStats::Connected(uint32_t nowMs)
{
    if (m_figures.connected)
        return;
    m_figures.connected = true;
    m_connectedAtMs = nowMs;
}

void CallStats::Ended(uint32_t nowMs)
{
    if (!m_figures.connected)
        return;
    m_figures.durationMs = static_cast<uint32_t>(nowMs - m_connectedAtMs);
    m_figures.connected = false;
}

void CallStats::FrameSent(int format, int frames)
{
    m_figures.framesSent += static_cast<uint64_t>(frames);
    if (m_figures.voiceFormat == 0)
        m_figures.voiceFormat = format;
}

void CallStats::FrameArrived(int format, int frames, uint32_t timestampMs, uint32_t arrivalMs)
{
    m_figures.voiceFormat = format;
    m_figures.framesReceived += static_cast<uint64_t>(frames);
    if (!m_haveArrival) {
        m_highestTimestampMs = timestampMs;
        m_framesAtHighest = frames;
    } else {
        UpdateJitter(timestampMs, arrivalMs);
        AdvanceHighest(timestampMs, frames);
    }
    m_lastTimestampMs = timestampMs;
    m_lastArrivalMs = arrivalMs;
    m_haveArrival = true;
    CountLoss();
}

void CallStats::AdvanceHighest(uint32_t timestampMs, int frames)
{
    const int32_t aheadMs = StampDistance(timestampMs, m_highestTimestampMs);
    if (aheadMs <= 0)
        return;
    m_highestOffsetMs += aheadMs;
    m_highestTimestampMs = timestampMs;
    m_framesAtHighest = frames;
}

// As RFC 3550 counts packets, with time stamps for sequence numbers: the
// frames the span from the first to the latest stamp should hold, less
// those that came. A straggler thus fills the gap it left, and a far end
// whose stamps wobble around its frame rhythm loses nothing.
void CallStats::CountLoss()
{
    const int64_t expected = (m_highestOffsetMs + kFrameMs / 2) / kFrameMs + m_framesAtHighest;
    const int64_t received = static_cast<int64_t>(m_figures.framesReceived);
    m_figures.framesLost = expected > received ? static_cast<uint64_t>(expected - received) : 0;
}

// J += (|D| - J) / 16, where D is how much longer the local clock took
// between two arrivals than the far end's time stamps say.
void CallStats::UpdateJitter(uint32_t timestampMs, uint32_t arrivalMs)
{
    const double transitChange = static_cast<int32_t>(arrivalMs - m_lastArrivalMs) -
                                 StampDistance(timestampMs, m_lastTimestampMs);
    m_figures.jitterMs += (std::fabs(transitChange) - m_figures.jitterMs) * kJitterGain;
}

void CallStats::RoundTrip(int ms)
{
    m_figures.roundTripMs = ms;
}

CallFigures CallStats::Figures(uint32_t nowMs) const
{
    CallFigures figures = m_figures;
    if (figures.connected)
        figures.durationMs = static_cast<uint32_t>(nowMs - m_connectedAtMs);
    return figures;
}

std::string VoiceFormatName(int format)
{
    if (format == 0)
        return "none";
    if (format == kGsmFormatBit)
        return "GSM";
    if (format == kUlawFormatBit)
        return "G.711 \u00b5-law";
    if (format == kAlawFormatBit)
        return "G.711 A-law";
    return "format " + std::to_string(format);
}

std::string FormatDuration(int64_t ms)
{
    const int64_t seconds = ms / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string FiguresLine(const CallFigures& figures)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "duration %s, format %s, sent %llu, received %llu, lost %llu, jitter %.1f ms, ",
                  FormatDuration(figures.durationMs).c_str(),
                  VoiceFormatName(figures.voiceFormat).c_str(),
                  static_cast<unsigned long long>(figures.framesSent),
                  static_cast<unsigned long long>(figures.framesReceived),
                  static_cast<unsigned long long>(figures.framesLost), figures.jitterMs);
    std::string line = text;
    line += figures.roundTripMs < 0 ? "round trip -"
                                    : "round trip " + std::to_string(figures.roundTripMs) + " ms";
    line += figures.bufferDelayMs < 0 ? ", buffer -"
                                      : ", buffer " + std::to_string(figures.bufferDelayMs) + " ms";
    return line;
}

}  // namespace velnar
