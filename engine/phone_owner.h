// What the phone engine needs from the object that owns it (the main dialog,
// or a test or console owner): a place to show status texts, and word of
// incoming calls.
#pragma once

#include <string>

namespace velnar {

class PhoneOwner {
public:
    virtual ~PhoneOwner() = default;
    // Shows one status text: it replaces the status line and is appended as a
    // new line to the messages list.
    virtual void ShowStatus(const std::string& text) = 0;
    // A call has come in and is ringing here; caller is its caller
    // identification (a number, a name or both), empty when it has none.
    virtual void IncomingCall(const std::string& caller) { (void)caller; }
    // The registration with the server changed: "Registered", "Registration
    // refused" or "Not registered" (version 2 only).
    virtual void RegistrationChanged(const std::string& state) { (void)state; }
};

}  // namespace velnar
