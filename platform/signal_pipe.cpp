#include "platform/signal_pipe.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace velnar {

namespace {

int pipeEnds[2] = {-1, -1};

void WriteSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal still to be handled.
    [[maybe_unused]] ssize_t ignored = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal)
    : m_signalNumbers(signalNumbers), m_onSignal(std::move(onSignal))
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    struct sigaction action = {};
    action.sa_handler = WriteSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : m_signalNumbers)
        sigaction(signalNumber, &action, nullptr);
}

SignalPipe::~SignalPipe()
{
    m_notifier.reset();
    for (int signalNumber : m_signalNumbers)
        std::signal(signalNumber, SIG_DFL);
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void SignalPipe::OnReadable()
{
    unsigned char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        if (m_onSignal)
            m_onSignal(byte);
}

}  // namespace velnar
