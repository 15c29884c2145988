// The phone engine: places and ends calls through the IAX library, takes in
// incoming calls, turns library events into status texts, and moves speech
// between the wave devices, the GSM codec and the library.
//
// Everything runs on the thread that owns the Qt event loop: the engine's
// library pump wakes it for the library's socket (read from the first
// outgoing call on) and for the library's retransmissions, time-outs and
// jitter-buffered events, and the wave-in device hands it capture
// completions. Nothing is locked.
#pragma once

#include "engine/capture_ring.h"
#include "engine/library_pump.h"
#include "engine/phone_call.h"
#include "engine/phone_owner.h"
#include "engine/playback_queue.h"
#include "platform/wave_device.h"
#include "settings/call_target.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct IaxEvent;
struct IaxSession;

namespace velnar {

constexpr int kGsmFormat = 2;  // the GSM 06.10 format bit

class CIaxPhone {
public:
    // localPort 0 binds the library's default port (5036).
    CIaxPhone(PhoneOwner& owner, std::unique_ptr<WaveIn> waveIn, std::unique_ptr<WaveOut> waveOut,
              int localPort = 0);
    virtual ~CIaxPhone();
    CIaxPhone(const CIaxPhone&) = delete;
    CIaxPhone& operator=(const CIaxPhone&) = delete;

    // Places a call from a dial string ([user[:password]@]host[:port][/number]).
    void Dial(const std::string& dialString);
    // Places a call from separate fields, so that a password may hold the
    // dial string's separators. A number the request cannot carry, or a
    // password too long to answer a challenge with, is refused with a status
    // text and no call.
    void Dial(const CallTarget& target);
    void HangUp();
    bool IsInCall() const { return !m_bIdle; }
    // Whether the current call has been answered (captured speech is then
    // sent).
    bool IsTalking() const { return m_bTalking; }
    // The call the phone is busy with; null when there is none.
    const PhoneCall* CurrentCall() const { return m_pCurrentCall; }
    // How many call records the phone holds (the current one and any waiting).
    size_t CallCount() const;
    // The session of the call this phone placed; null when there is none.
    const IaxSession* OutgoingSession() const { return m_pOutgoingSession; }
    void SendTones(const std::string& tones);
    // Drains the library: called on socket readiness and when its timer fires.
    void OnNetworkEvent();
    // Releases played blocks; called after every drain.
    void ReclaimPlayback();
    // A filled capture buffer; 0, or -1 for a short buffer while talking.
    int OnCaptureDone(WaveHeader* header);

    // Captured buffers whose level is below this are not sent. Written by the
    // main dialog; 1 is the Settings slider's default position.
    int32_t m_nNoiseThreshold = 1;

    // What wakes the engine for the library (a test that moves the library's
    // clock re-arms it).
    LibraryPump& Pump() { return m_pump; }
    // The capture buffers (a test counts those that came back).
    const CaptureRing& Capture() const { return m_capture; }
    // The playback queue (a test looks at its pause and its blocks).
    const PlaybackQueue& Playback() const { return m_playback; }

protected:
    void Start(int localPort);
    void PlaceCall(const std::string& dialString);
    // sendNew has the library send the NEW on the session; 0 when it did.
    void PlaceCallWith(const std::function<int(IaxSession*)>& sendNew);
    bool RefusesTarget(const CallTarget& target);
    bool PlainAnswerRefused(const IaxEvent* event) const;
    PhoneCall* FindCall(IaxSession* session) const;
    void DrainLibrary(int& newcomers, bool& stop);
    static bool EndsItsSession(const IaxEvent* event);
    void TakeNewcomer(IaxEvent* event, int& newcomers, bool& stop);
    void HandleEvent(IaxEvent* event, PhoneCall* call);
    void Answer();
    void ResetCall();
    void SetStatus(const std::string& text);
    PhoneCall* NewCall(IaxSession* session);
    void ReleaseCalls();
    void ReleaseCall(PhoneCall* call);

    // Audio path.
    int OpenAudio();
    void CloseAudio();
    void ReviveAudio();
    void RetryFailedPlayback();
    int StartCapture();
    void RecycleCapture(WaveHeader* header);
    void SendCaptured(const WaveHeader* header);
    void PlayVoice(IaxEvent* event, PhoneCall* call);
    bool QueuePlayback(const uint8_t* pcm, int pendingBlocks);
    int PendingPlaybackBlocks() const;
    void ReleasePlayback();

    // The library's timer list and socket readiness.
    void EnableReadNotifications();
    void ArmLibraryTimer();
    void OnLibraryWake();

    PhoneOwner& m_pOwner;
    std::unique_ptr<WaveOut> m_hWaveOut;
    std::unique_ptr<WaveIn> m_hWaveIn;
    PhoneCall* m_pCurrentCall = nullptr;
    std::string m_strDialString;
    CallTarget m_target;  // of a call placed from fields
    PhoneCall* m_pCalls = nullptr;
    bool m_bTalking = false;
    IaxSession* m_pOutgoingSession = nullptr;
    CaptureRing m_capture{m_hWaveIn.get()};
    PlaybackQueue m_playback{m_hWaveOut.get()};
    bool m_bIdle = true;
    std::string m_strTones;
    int m_socket = -1;  // the library's socket; -1 until Start obtains it

    bool m_audioOpen = false;
    LibraryPump m_pump{[this] { OnLibraryWake(); }};
    // Capture completions are posted; they must not reach a destroyed engine.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velnar
