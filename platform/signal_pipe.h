// Turns termination signals (Ctrl-C and the like) into a call on the Qt
// event loop: the handler only writes the signal number into a pipe whose
// reading end a QSocketNotifier watches, so the program ends its call in
// ordinary code, not in the handler.
#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace velnar {

class SignalPipe : public QObject {
public:
    // One instance per program. onSignal gets the signal number.
    SignalPipe(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal);
    ~SignalPipe() override;

private:
    void OnReadable();

    std::vector<int> m_signalNumbers;
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace velnar
