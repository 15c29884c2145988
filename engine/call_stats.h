// The figures of one call, kept while it runs and after it ends until the
// next one starts: its running time, the voice format, voice frames sent and
// received, frames lost (gaps in the far end's time stamps), the
// inter-arrival jitter (the RFC 3550 estimator over the received time
// stamps), the latest round trip of a lag exchange and the jitter buffer's
// playout delay.
//
// A plain model fed by the phone engine; it reads no clock of its own, so
// every time comes in as a millisecond tick count.
#pragma once

#include <cstdint>
#include <string>

namespace velnar {

struct CallFigures {
    bool started = false;    // a call has been started since the program began
    bool connected = false;  // the current call is answered and not yet over
    int64_t durationMs = 0;  // since it was answered; frozen when it ended
    int voiceFormat = 0;     // the format bit of the voice received or sent; 0 none yet
    uint64_t framesSent = 0;
    uint64_t framesReceived = 0;
    uint64_t framesLost = 0;
    double jitterMs = 0;
    int roundTripMs = -1;    // -1 until the first lag reply
    int bufferDelayMs = -1;  // -1 without a live session
};

class CallStats {
public:
    static constexpr int kFrameMs = 20;  // one GSM frame

    // A new call: every figure starts again.
    void Start();
    void Connected(uint32_t nowMs);
    void Ended(uint32_t nowMs);
    void FrameSent(int format, int frames = 1);
    // A voice message of `frames` frames arrived; its time stamp and the
    // local tick at arrival, both in ms.
    void FrameArrived(int format, int frames, uint32_t timestampMs, uint32_t arrivalMs);
    void RoundTrip(int ms);
    void BufferDelay(int ms) { m_figures.bufferDelayMs = ms; }

    CallFigures Figures(uint32_t nowMs) const;

private:
    void AdvanceHighest(uint32_t timestampMs, int frames);
    void CountLoss();
    void UpdateJitter(uint32_t timestampMs, uint32_t arrivalMs);

    CallFigures m_figures;
    uint32_t m_connectedAtMs = 0;
    bool m_haveArrival = false;
    uint32_t m_highestTimestampMs = 0;  // the latest stamp, as sent
    int64_t m_highestOffsetMs = 0;      // how far it lies after the first stamp
    int m_framesAtHighest = 0;          // frames in the message stamped so
    uint32_t m_lastTimestampMs = 0;
    uint32_t m_lastArrivalMs = 0;
};

// "GSM" for the GSM format bit, else "format N"; "none" for 0.
std::string VoiceFormatName(int format);
// Minutes and seconds ("4:07"), hours when there are any ("1:02:09").
std::string FormatDuration(int64_t ms);
// The figures as one line, as the console's `stats` prints them.
std::string FiguresLine(const CallFigures& figures);

}  // namespace velnar
