#include "console/console_phone.h"

#include "engine/iax_phone.h"
#include "settings/call_target.h"

#include <cstdio>
#include <filesystem>

namespace velnar {

namespace {

constexpr char kKeypadKeys[] = "0123456789*#";

// The status texts after which a one-shot call ends at once.
bool EndsOneShotCall(const std::string& text)
{
    return text == "Cannot connect- bad server name? " || text == "Time out- server dead?" ||
           text == "Authentication was rejected" || text == "Authentyfication required!" ||
           text == "Password cannot be sent in plain text";
}

void Complain(const std::string& message)
{
    std::fprintf(stderr, "velnar-console: %s\n", message.c_str());
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

ConsolePhone::ConsolePhone(ConsoleOptions options, std::function<void(int)> exit)
    : m_options(std::move(options)), m_exit(std::move(exit))
{
    m_holdTimer.setSingleShot(true);
    m_timeoutTimer.setSingleShot(true);
    connect(&m_holdTimer, &QTimer::timeout, this, [this] { Finish(OneShotStatus()); });
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this] { Finish(OneShotStatus()); });
}

// The engine goes before the timers and the working copy; a call still in
// progress was hung up by Finish.
ConsolePhone::~ConsolePhone()
{
    m_phone.reset();
}

// The protocol is fixed for the program's run: the file read at a later
// call may name a server, but not move the phone to another port.
bool ConsolePhone::LoadStartSettings(std::string& error)
{
    LoadSettingsFile();
    ApplyOverrides();
    m_protocol = ReadProtocolSettings(m_settings.keys);
    if (m_options.protocol)
        m_protocol.version = *m_options.protocol;
    if (m_options.registerForCalls)
        m_protocol.registerForCalls = true;
    if (m_options.registerForCalls && m_protocol.version != 2) {
        error = kRegisterWantsVersion2;
        return false;
    }
    StoreProtocolSettings(m_protocol, m_settings.keys);
    return true;
}

bool ConsolePhone::Start(std::unique_ptr<WaveIn> waveIn, std::unique_ptr<WaveOut> waveOut,
                         int localPort)
{
    m_phone = std::make_unique<CIaxPhone>(*this, std::move(waveIn), std::move(waveOut), localPort,
                                          m_protocol);
    if (m_phone->LocalPort() < 0)
        return false;
    m_phone->m_nNoiseThreshold = NoiseThreshold(m_settings.noisePosition);
    if (m_protocol.version == 2 && m_protocol.registerForCalls)
        StartRegistration();
    return true;
}

void ConsolePhone::StartRegistration()
{
    const CallTarget account = MakeCallTarget(m_settings, "");
    if (account.host.empty())
        Complain("registration: no server to register with (VOIP.set or --server)");
    m_phone->UseProtocol(m_protocol, account);
}

void ConsolePhone::ShowStatus(const std::string& text)
{
    m_lastStatus = text;
    PrintLine(text);
    // The engine is in the middle of its own work here: decide afterwards.
    if (m_options.callNumber)
        QTimer::singleShot(0, this, [this, text] { CheckOneShot(text); });
}

void ConsolePhone::IncomingCall(const std::string& caller)
{
    // Version 1 keeps its own way with incoming calls.
    if (m_phone->ProtocolVersion() != 2)
        return;
    Complain("incoming call" + (caller.empty() ? std::string() : " from " + caller) +
             ": answer takes it, hangup declines it");
}

void ConsolePhone::RegistrationChanged(const std::string& state)
{
    if (state == m_lastRegistration)
        return;
    m_lastRegistration = state;
    Complain("registration: " + state);
}

void ConsolePhone::RunCommand(const std::string& line)
{
    // Lines read while the hang-up is awaited come after "quit".
    if (m_finished)
        return;
    const std::string command = Trimmed(line);
    const size_t space = command.find_first_of(" \t");
    const std::string word = command.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : Trimmed(command.substr(space));
    if (word.empty())
        return;
    if (word == "call")
        Call(rest);
    else if (word == "key")
        SendKeys(rest);
    else if (!rest.empty() && (word == "hangup" || word == "status" || word == "stats" ||
                               word == "quit" || word == "answer" || word == "registration"))
        Complain(word + ": takes no argument");
    else if (word == "hangup")
        m_phone->HangUp();
    else if (word == "status")
        PrintLine(m_lastStatus);
    else if (word == "stats")
        PrintStats();
    else if (word == "answer")
        Answer();
    else if (word == "registration")
        PrintRegistration();
    else if (word == "quit")
        Finish(0);
    else
        Complain(
            "unknown command '" + word +
            "' (commands: call NUMBER, answer, hangup, key DIGITS, status, stats, registration, "
            "quit)");
}

// The current call's figures, or the last call's; one line either way.
void ConsolePhone::PrintStats()
{
    const CallFigures figures = m_phone->Figures();
    PrintLine(figures.started ? FiguresLine(figures) : "stats: no call yet");
}

void ConsolePhone::EndOfInput()
{
    Finish(0);
}

void ConsolePhone::PlaceOneShotCall()
{
    m_timeoutTimer.start(m_options.timeoutSeconds * 1000);
    if (!Call(*m_options.callNumber))
        Finish(1);
}

void ConsolePhone::Interrupt()
{
    Finish(m_options.callNumber ? OneShotStatus() : 0);
}

void ConsolePhone::PrintRegistration()
{
    if (m_phone->ProtocolVersion() != 2)
        PrintLine("registration: version 1 does not register");
    else
        PrintLine(m_phone->RegistrationState());
}

void ConsolePhone::Answer()
{
    if (!m_phone->IsRinging()) {
        Complain("answer: no call is ringing");
        return;
    }
    m_phone->AnswerIncoming();
}

// False when nothing could be dialled. A call that rings here is answered,
// as the window's Call button does, whatever the number.
bool ConsolePhone::Call(const std::string& number)
{
    if (m_phone->IsRinging()) {
        m_phone->AnswerIncoming();
        return true;
    }
    if (m_phone->IsInCall()) {
        Complain("call: already in a call (hang up first)");
        return false;
    }
    const CallTarget target = Target(number);
    if (IsEmptyTarget(target)) {
        Complain("call: nothing to dial: no server (VOIP.set or --server) and no number");
        return false;
    }
    if (RefusesTarget(target))
        return false;
    m_phone->Dial(target);
    return true;
}

// Said here rather than as a status text: the engine would refuse the same.
bool ConsolePhone::RefusesTarget(const CallTarget& target)
{
    if (!IsDialableNumber(target.number) || !IsDialableNumber(target.context))
        Complain("invalid number");
    else if (!FitsSecretLength(target.password))
        Complain("the password is longer than " + std::to_string(kMaxSecretChars) + " characters");
    else
        return false;
    return true;
}

void ConsolePhone::SendKeys(const std::string& digits)
{
    if (!m_phone->IsInCall()) {
        Complain("key: not in a call");
        return;
    }
    if (digits.empty() || digits.find_first_not_of(kKeypadKeys) != std::string::npos) {
        Complain("key: wants keypad keys (0-9, * and #), not '" + digits + "'");
        return;
    }
    for (char key : digits)
        m_phone->SendTones(std::string(1, key));
}

CallTarget ConsolePhone::Target(const std::string& number)
{
    if (m_settings.server.empty())
        LoadSettingsAtCall();
    ApplyOverrides();
    StoreProtocolSettings(m_protocol, m_settings.keys);
    return MakeCallTarget(m_settings, number);
}

// As the window's Call: a file that cannot be opened changes nothing; one
// that opens sets the working copy and the noise threshold.
void ConsolePhone::LoadSettingsAtCall()
{
    if (LoadSettingsFile())
        m_phone->m_nNoiseThreshold = NoiseThreshold(m_settings.noisePosition);
}

// True when the file was read into the working copy.
bool ConsolePhone::LoadSettingsFile()
{
    StoredSettings stored;
    const ReadOutcome outcome = ReadSettingsFile(kSettingsFileName, stored);
    if (outcome != ReadOutcome::Read) {
        std::error_code error;
        // A refused file has been reported by the reader already.
        if (outcome == ReadOutcome::NotOpened && !m_fileComplaint &&
            std::filesystem::exists(kSettingsFileName, error)) {
            Complain(std::string("cannot read ") + kSettingsFileName + "; it is left aside");
            m_fileComplaint = true;
        }
        return false;
    }
    m_settings = stored;
    return true;
}

void ConsolePhone::ApplyOverrides()
{
    if (m_options.server)
        m_settings.server = *m_options.server;
    if (m_options.user)
        m_settings.user = *m_options.user;
    if (m_options.password)
        m_settings.password = *m_options.password;
}

void ConsolePhone::CheckOneShot(const std::string& text)
{
    if (m_finished)
        return;
    if (text == "Connected") {
        m_connected = true;
        m_timeoutTimer.stop();
        m_holdTimer.start(m_options.holdSeconds * 1000);
    } else if (EndsOneShotCall(text) || !m_phone->IsInCall()) {
        Finish(OneShotStatus());
    }
}

// A call in progress is hung up on the wire before the program ends, and
// the far end's acknowledgement awaited (briefly): a HANGUP lost after the
// program has gone would leave the other party's call up.
void ConsolePhone::Finish(int status)
{
    if (m_finished)
        return;
    m_finished = true;
    m_holdTimer.stop();
    m_timeoutTimer.stop();
    if (!m_phone) {
        m_exit(status);
        return;
    }
    m_phone->HangUpBeforeExit(kExitHangUpWaitMs, [this, status] { m_exit(status); });
}

void ConsolePhone::PrintLine(const std::string& text)
{
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace velnar
