// One connection to the sound server, shared by everything of the program
// that speaks to it (the wave devices, the mixer device), running on the Qt
// event loop of the thread that made it (see pulse_loop.h).
//
// The connection is made on demand and never spawns a server. Connect waits
// a short, bounded time for the server to answer, serving only this
// connection meanwhile. A connection that fails or is ended by the server
// is reported to every subscriber; the next Connect makes a fresh one.
//
// The server and default devices are those of the environment and the
// client configuration at the time the connection is made (PULSE_SERVER
// and the like).
#pragma once

#include "platform/pulse/pulse_loop.h"

#include <pulse/context.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace velnar {

class PulseContext {
public:
    enum class State {
        Unconnected,  // never connected, or let go of
        Connecting,
        Ready,
        Failed,  // the server refused, went away or could not be reached
    };
    using StateFn = std::function<void(State)>;

    // How long Connect waits for a server that does not answer at once.
    static constexpr int kConnectWaitMs = 1500;

    // The connection of this thread, made on first use (not yet connected)
    // and shared while anyone holds it.
    static std::shared_ptr<PulseContext> Shared();

    // Whether a sound server answers within the wait (through the shared
    // connection, which stays connected while it is held).
    static bool ServerAnswers(int waitMs = kConnectWaitMs);

    PulseContext();
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Ready at once when connected; otherwise connects (afresh after a
    // failure) and waits up to `waitMs` for the server. Returns IsReady().
    bool Connect(int waitMs = kConnectWaitMs);
    // Serves this connection alone (nothing else of the program) until the
    // condition holds or `waitMs` has passed; returns the condition.
    bool WaitUntil(const std::function<bool()>& condition, int waitMs);
    State GetState() const { return m_state; }
    bool IsReady() const { return m_state == State::Ready; }
    // Why the last Connect failed; empty after a success.
    const std::string& FailureReason() const { return m_failureReason; }
    // The library's context while there is one (ready or not).
    pa_context* Handle() const { return m_context; }
    PulseLoop& Loop() { return m_loop; }

    // Called on every change of state (also while Connect waits). A
    // subscriber may unsubscribe itself or others from its call (but must
    // not let go of the last hold on the context there).
    int Subscribe(StateFn onState);
    void Unsubscribe(int id);

private:
    static void OnContextState(pa_context* context, void* userdata);
    void SetState(State state);
    void NoteFailureReason();
    void Drop();

    PulseLoop m_loop;
    pa_context* m_context = nullptr;
    State m_state = State::Unconnected;
    std::map<int, StateFn> m_subscribers;
    int m_nextId = 1;
    std::string m_failureReason;
};

}  // namespace velnar
