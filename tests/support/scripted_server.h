// A small IAX server on its own thread, for tests of code that drives the
// library from an event loop (the phone engine, the user interface).
//
// It plays the server side of calls: a NEW is acknowledged and answered with
// ACCEPT, RINGING and ANSWER (each step optional), voice is echoed back in
// the form it came (full frames as full frames, mini frames as mini frames),
// DTMF digits are collected, and a HANGUP ends the call. The test reads what
// happened through the thread-safe accessors and can make the server hang up
// or offer a call to the phone.
//
//   iaxpeer::ScriptedServer server;          // 127.0.0.1, ephemeral port
//   dialString = "alice:pw@127.0.0.1:" + std::to_string(server.Port()) + "/100";
//   ... drive the phone ...
//   EXPECT_TRUE(server.WaitFor([&] { return server.VoiceFramesReceived() > 10; }, 2000));
//
// WaitFor only blocks the calling thread; a test whose code under test needs
// its own event loop to run polls the accessors from that loop instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/iax_test_peer.h"

namespace iaxpeer {

struct ScriptedServerOptions {
    bool accept = true;        // ACCEPT a NEW
    bool ring = true;          // then CTRL_RINGING
    bool answer = true;        // then CTRL_ANSWER
    bool echoVoice = true;     // send every voice frame back
    std::string rejectReason;  // not empty: REJECT every NEW with it instead
};

class ScriptedServer {
public:
    explicit ScriptedServer(ScriptedServerOptions options = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return m_port; }

    int CallsOffered() const { return m_callsOffered; }
    int VoiceFramesReceived() const { return m_voiceFrames; }
    int HangupsReceived() const { return m_hangups; }
    std::string Digits() const;
    // Text payload of the last NEW received.
    std::string LastNewText() const;
    // Every frame received, described one per line, for failure messages.
    std::string Log() const;

    // Sends HANGUP with the reason on the current call.
    void HangUp(const std::string& reason = "");
    // Offers a call to a phone listening on 127.0.0.1:port.
    void CallPhone(uint16_t port, const std::string& elements = "exten=100;formats=2;version=1;");

    // Polls the condition until it holds or timeoutMs pass; true if it held.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

private:
    void Run();
    void Handle(const PeerFrame& frame);
    void Post(std::function<void()> command);
    void RunCommands();

    ScriptedServerOptions m_options;
    IaxTestPeer m_peer;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_callsOffered{0};
    std::atomic<int> m_voiceFrames{0};
    std::atomic<int> m_hangups{0};
    mutable std::mutex m_mutex;
    std::string m_digits;
    std::string m_lastNew;
    std::string m_log;
    std::vector<std::function<void()>> m_commands;
    std::thread m_thread;
};

}  // namespace iaxpeer
