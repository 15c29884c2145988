// The console phone: the phone engine with its status texts on standard
// output, one per line, driven by commands read from standard input
// (interactive use) or by one call that decides the exit status (one-shot
// use, --call).
//
// It dials as the window's Call does: the settings file "VOIP.set" in the
// current directory is read at start (its protocol choice decides the local
// port and whether the phone registers) and again at a call while no server
// is known; the command line's --server, --user, --password-file,
// --protocol and --register override what it holds, and the call target is
// built by the same function.
#pragma once

#include "console/console_options.h"
#include "engine/phone_owner.h"
#include "platform/wave_device.h"
#include "settings/call_target.h"
#include "settings/protocol_settings.h"
#include "settings/settings_file.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace velnar {

class CIaxPhone;

class ConsolePhone : public QObject, public PhoneOwner {
public:
    // exit is called once, with the exit status, when the program is to end;
    // any hang-up has been sent and acknowledged (or waited for a second) by
    // then.
    ConsolePhone(ConsoleOptions options, std::function<void(int)> exit);
    ~ConsolePhone() override;

    // Reads the settings file and applies the command line to it. False,
    // with a one-line message, when the two together make no sense
    // (--register with version 1).
    bool LoadStartSettings(std::string& error);
    // Makes the engine on these devices for the protocol chosen; localPort 0
    // is the protocol's own port. With --register, registration starts.
    // False when the engine could not bind its UDP port.
    bool Start(std::unique_ptr<WaveIn> waveIn, std::unique_ptr<WaveOut> waveOut, int localPort);

    void ShowStatus(const std::string& text) override;
    void IncomingCall(const std::string& caller) override;
    void RegistrationChanged(const std::string& state) override;
    // The protocol the engine was made for (before Start: the one chosen).
    const ProtocolSettings& Protocol() const { return m_protocol; }

    // Interactive use: one command line; the end of the input is "quit".
    void RunCommand(const std::string& line);
    void EndOfInput();
    // One-shot use: places the call of --call.
    void PlaceOneShotCall();
    // A termination signal: hang up and end.
    void Interrupt();

private:
    bool Call(const std::string& number);
    void Answer();
    void StartRegistration();
    void PrintRegistration();
    void SendKeys(const std::string& digits);
    void PrintStats();
    CallTarget Target(const std::string& number);
    bool RefusesTarget(const CallTarget& target);
    void LoadSettingsAtCall();
    bool LoadSettingsFile();
    void ApplyOverrides();
    void CheckOneShot(const std::string& text);
    void Finish(int status);
    static void PrintLine(const std::string& text);
    int OneShotStatus() const { return m_connected ? 0 : 1; }

    ConsoleOptions m_options;
    std::function<void(int)> m_exit;
    std::unique_ptr<CIaxPhone> m_phone;
    StoredSettings m_settings;  // the working copy
    ProtocolSettings m_protocol;
    bool m_fileComplaint = false;  // an unreadable file is said once
    std::string m_lastRegistration;
    std::string m_lastStatus = "Ready";
    bool m_connected = false;
    bool m_finished = false;
    QTimer m_holdTimer;
    QTimer m_timeoutTimer;
};

}  // namespace velnar
