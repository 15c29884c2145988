// The phone engine: places and ends calls through a call link of the chosen
// protocol version, takes in incoming calls, turns the link's events into
// status texts, and moves speech between the wave devices, the codecs and
// the link.
//
// Everything runs on the thread that owns the Qt event loop: the engine's
// library pump wakes it for the link's socket (read from the first outgoing
// call on, or from the start when the link listens for calls) and for its
// retransmissions, time-outs and jitter-buffered events, and the wave-in
// device hands it capture completions. Nothing is locked.
#pragma once

#include "engine/call_link.h"
#include "engine/call_stats.h"
#include "engine/capture_ring.h"
#include "engine/hang_up_wait.h"
#include "engine/library_pump.h"
#include "engine/name_resolver.h"
#include "engine/phone_call.h"
#include "engine/phone_owner.h"
#include "engine/playback_queue.h"
#include "platform/device_catalog.h"
#include "platform/wave_device.h"
#include "settings/call_target.h"
#include "settings/protocol_settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

class QTimer;

namespace velnar {

constexpr int kGsmFormat = 2;  // the GSM 06.10 format bit
// How long a program that is ending waits, in all, for the far end to
// acknowledge its hang-up.
constexpr int kExitHangUpWaitMs = 1000;

class CIaxPhone {
public:
    // localPort 0 binds the protocol's own port: 5036 for version 1; 4569
    // for version 2 when it is free, an ephemeral one otherwise (said on
    // standard error).
    CIaxPhone(PhoneOwner& owner, std::unique_ptr<WaveIn> waveIn, std::unique_ptr<WaveOut> waveOut,
              int localPort = 0, const ProtocolSettings& protocol = {});
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
    // Ends the call in progress; an incoming version-2 call that rings is
    // declined.
    void HangUp();
    // An incoming version-2 call rings here: Dial (or AnswerIncoming)
    // answers it, HangUp declines it.
    bool IsRinging() const;
    void AnswerIncoming();

    // The protocol for the next calls, and the account that registers with
    // it (version 2 with registerForCalls): applied at once when idle,
    // otherwise when the call in progress ends. A change of version moves
    // the phone to the other version's local port.
    void UseProtocol(const ProtocolSettings& protocol, const CallTarget& account);
    int ProtocolVersion() const;
    // "Registered", "Registration refused" or "Not registered" with version
    // 2; empty with version 1.
    std::string RegistrationState() const;
    // The local UDP port the phone listens on; -1 when it could not bind.
    int LocalPort() const;
    // For a program about to end: hangs up a call in progress, then runs
    // done once the far end has acknowledged the hang-up, or after maxMs at
    // the latest (at once when nothing was hung up). Later calls while one
    // waits are ignored.
    void HangUpBeforeExit(int maxMs, std::function<void()> done);
    bool IsInCall() const { return !m_bIdle; }
    // Whether the current call has been answered (captured speech is then
    // sent).
    bool IsTalking() const { return m_bTalking; }
    // The call the phone is busy with; null when there is none.
    const PhoneCall* CurrentCall() const { return m_pCurrentCall; }
    // How many call records the phone holds (the current one and any waiting).
    size_t CallCount() const;
    // The link's handle of the call this phone placed; null when there is none.
    LinkCall OutgoingSession() const { return m_pOutgoingSession; }
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

    // The microphone and speaker for the next calls, by catalog identifier;
    // empty ones are the defaults. A device the catalog does not list when
    // a call starts is named once on standard error, and the default used.
    void ChooseDevices(std::shared_ptr<DeviceCatalog> catalog, std::string microphone,
                       std::string speaker);

    // The figures of the current call, or of the last one when none runs.
    CallFigures Figures() const;
    // How often an answered call measures its round trip with a lag request.
    void SetLagIntervalMs(int ms);
    // Replaces the system's resolver (a test's resolver that never answers).
    void UseResolver(std::unique_ptr<NameResolver> resolver);

    // What wakes the engine for the library (a test that moves the library's
    // clock re-arms it).
    LibraryPump& Pump() { return m_pump; }
    // The capture buffers (a test counts those that came back).
    const CaptureRing& Capture() const { return m_capture; }
    // The playback queue (a test looks at its pause and its blocks).
    const PlaybackQueue& Playback() const { return m_playback; }

protected:
    void Start();
    void OpenLink();
    void CloseLink();
    void ApplyProtocol();
    std::vector<uint32_t> Formats() const;
    void RegisterAccount();
    void OnRegistrarResolved(const std::string& address);
    void PlaceCall(const std::string& dialString);
    // sendNew has the library send the NEW on the session, to the address
    // found for the server's name (empty: the server as given); 0 when it
    // did. serverName is the name to look up first, empty when none is
    // needed.
    using SendNew = std::function<int(LinkCall, const std::string& address)>;
    void PlaceCallWith(const std::string& serverName, const SendNew& sendNew);
    void ContactServer(const SendNew& sendNew, const std::string& address);
    void OnServerResolved(const SendNew& sendNew, const std::string& address);
    bool RefusesTarget(const CallTarget& target);
    bool PlainAnswerRefused(const LinkEvent& event) const;
    PhoneCall* FindCall(LinkCall session) const;
    void DrainLibrary(int& newcomers, bool& stop);
    void TakeNewcomer(const LinkEvent& event, int& newcomers, bool& stop);
    void HandleEvent(const LinkEvent& event, PhoneCall* call);
    void EndedByFarEnd(const LinkEvent& event, const char* status);
    void ReportCause(const LinkEvent& event) const;
    void RegistrationChanged(const std::string& state);
    void Answer();
    void ResetCall();
    void SetStatus(const std::string& text);
    PhoneCall* NewCall(LinkCall session);
    void ReleaseCalls();
    void ReleaseCall(PhoneCall* call);

    // Audio path.
    int OpenAudio();
    void ReportNoSound() const;
    void CloseAudio();
    void ReviveAudio();
    void RetryFailedPlayback();
    int StartCapture();
    void RecycleCapture(WaveHeader* header);
    void SendCaptured(const WaveHeader* header);
    void PlayVoice(const LinkEvent& event, PhoneCall* call);
    bool DecodeBlock(PhoneCall* call, uint32_t format, const uint8_t* data, uint8_t* pcm);
    int EncodeBlock(PhoneCall* call, const uint8_t* pcm, uint8_t* frame);
    bool QueuePlayback(const uint8_t* pcm, int pendingBlocks);
    int PendingPlaybackBlocks() const;
    void ReleasePlayback();

    // Device choice.
    void ApplyDeviceChoice();
    std::string Available(const std::string& id, bool microphone);

    // Call figures.
    void OnVoiceArrival(LinkCall session, uint32_t format, int frames, uint32_t timestampMs,
                        uint32_t arrivalMs);
    void CallAnswered();
    void CallOver();
    void SendLagRequest();
    QTimer& LagTimer();

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
    LinkCall m_pOutgoingSession = nullptr;
    CaptureRing m_capture{m_hWaveIn.get()};
    PlaybackQueue m_playback{m_hWaveOut.get()};
    bool m_bIdle = true;
    std::string m_strTones;
    int m_socket = -1;  // the link's socket; -1 until it is open
    int m_localPort = -1;
    int m_requestedPort = 0;
    ProtocolSettings m_protocol;
    CallTarget m_account;             // registers with version 2
    bool m_protocolPending = false;   // a change waits for the call to end
    std::string m_registrationShown;  // what the owner was last told
    std::unique_ptr<CallLink> m_link;
    std::unique_ptr<NameResolver> m_registrarResolver = MakeSystemResolver();

    bool m_audioOpen = false;
    std::shared_ptr<DeviceCatalog> m_catalog;
    std::string m_chosenMicrophone;
    std::string m_chosenSpeaker;
    std::string m_openMicrophone;  // what the wave pair was last switched to
    std::string m_openSpeaker;
    std::set<std::string> m_reportedGone;
    CallStats m_stats;
    std::unique_ptr<QTimer> m_lagTimer;
    std::string m_audioFailure;  // "<device>: <reason>" of the last failed open
    bool m_bResolving = false;   // the outgoing call waits for its server's address
    std::unique_ptr<NameResolver> m_resolver = MakeSystemResolver();
    HangUpWait m_exitWait{[this] { return m_link ? m_link->Unacknowledged() : 0; }};
    LibraryPump m_pump{[this] { OnLibraryWake(); }};
    // Capture completions are posted; they must not reach a destroyed engine.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velnar
