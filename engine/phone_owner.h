// What the phone engine needs from the object that owns it (the main dialog,
// or a test or console owner): a place to show status texts.
#pragma once

#include <string>

namespace velnar {

class PhoneOwner {
public:
    virtual ~PhoneOwner() = default;
    // Shows one status text: it replaces the status line and is appended as a
    // new line to the messages list.
    virtual void ShowStatus(const std::string& text) = 0;
};

}  // namespace velnar
