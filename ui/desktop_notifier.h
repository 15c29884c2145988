// Desktop notifications through the freedesktop notification service on the
// session bus. Without a session bus, or with no service running there
// (none is started for us), nothing is shown and nothing waits: the call
// is sent without waiting for its answer.
#pragma once

#include <QString>

namespace velnar {

class DesktopNotifier {
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";

    // True when a notification went to the service.
    bool Notify(const QString& summary, const QString& body) const;
};

// "Incoming call" with, when known, who is calling.
QString IncomingCallBody(const QString& caller);

}  // namespace velnar
