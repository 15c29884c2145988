#include "tests/support/scripted_server.h"

#include <chrono>

namespace iaxpeer {

namespace {
constexpr int kPollMs = 5;
}

ScriptedServer::ScriptedServer(ScriptedServerOptions options)
    : m_options(std::move(options)), m_port(m_peer.Port())
{
    // Acknowledged by Handle(): a NEW must open the call before its ACK goes
    // out, so that the ACK already carries the new call's number.
    m_peer.SetAutoAck(false);
    m_thread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    m_thread.join();
}

std::string ScriptedServer::Digits() const
{
    std::lock_guard lock(m_mutex);
    return m_digits;
}

std::string ScriptedServer::LastNewText() const
{
    std::lock_guard lock(m_mutex);
    return m_lastNew;
}

std::string ScriptedServer::Log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

void ScriptedServer::HangUp(const std::string& reason)
{
    Post([this, reason] { m_peer.SendIax(kHangup, reason); });
}

void ScriptedServer::CallPhone(uint16_t port, const std::string& elements)
{
    Post([this, port, elements] {
        m_peer.SetTarget(port);
        m_peer.StartCall();
        m_peer.SendIax(kNew, elements);
    });
}

bool ScriptedServer::WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ScriptedServer::Post(std::function<void()> command)
{
    std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
}

void ScriptedServer::RunCommands()
{
    std::vector<std::function<void()>> commands;
    {
        std::lock_guard lock(m_mutex);
        commands.swap(m_commands);
    }
    for (auto& command : commands)
        command();
}

void ScriptedServer::Run()
{
    while (!m_stop) {
        RunCommands();
        auto frame = m_peer.Receive(kPollMs);
        if (frame)
            Handle(*frame);
    }
}

void ScriptedServer::Handle(const PeerFrame& frame)
{
    {
        std::lock_guard lock(m_mutex);
        m_log += frame.Describe() + "\n";
    }
    if (!frame.Is(kIax, kNew) && NeedsAck(frame))
        m_peer.SendAck(frame);
    if (frame.Is(kIax, kNew)) {
        // A NEW opens a fresh call; the peer learns the caller's number from it.
        uint16_t caller = frame.sourceCall;
        bool resend = m_callsOffered > 0 && caller == m_peer.Call().remoteCall;
        if (!resend) {
            m_peer.StartCall();
            m_peer.Call().remoteCall = caller;
        }
        m_peer.SendAck(frame);
        if (resend)
            return;
        ++m_callsOffered;
        {
            std::lock_guard lock(m_mutex);
            m_lastNew = frame.Text();
        }
        if (!m_options.rejectReason.empty()) {
            m_peer.SendIax(kReject, m_options.rejectReason);
            return;
        }
        if (m_options.accept)
            m_peer.SendIax(kAccept, "formats=2;", true);
        if (m_options.ring)
            m_peer.SendControl(kRinging);
        if (m_options.answer)
            m_peer.SendControl(kAnswer);
    } else if (frame.type == kVoice) {
        ++m_voiceFrames;
        if (!m_options.echoVoice)
            return;
        if (frame.full)
            m_peer.SendVoice(frame.subclass, frame.payload);
        else
            m_peer.SendMini(frame.payload);
    } else if (frame.full && frame.type == kDtmf) {
        std::lock_guard lock(m_mutex);
        m_digits += static_cast<char>(frame.subclass);
    } else if (frame.Is(kIax, kHangup)) {
        ++m_hangups;
    }
}

}  // namespace iaxpeer
