// The line under the main dialog's status line: facts about the phone that
// are not status texts and change without one, such as how long the call
// has been connected ("Call time 4:07"). Empty while there is nothing to
// say; later facts (a registration's state) join the same line.
#pragma once

#include "engine/call_stats.h"

#include <QLabel>

namespace velnar {

class CallInfoLine : public QLabel {
    Q_OBJECT
public:
    explicit CallInfoLine(QWidget* parent = nullptr);

    // Shows the running time of a connected call, and nothing otherwise.
    void ShowCall(const CallFigures& figures);
    // A call that rings here until the user takes or declines it; caller
    // may be empty.
    void ShowRinging(const QString& caller);
};

}  // namespace velnar
