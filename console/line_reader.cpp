#include "console/line_reader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <utility>

namespace velnar {

LineReader::LineReader(int fd, std::function<void(const std::string&)> onLine,
                       std::function<void()> onEnd)
    : m_fd(fd), m_onLine(std::move(onLine)), m_onEnd(std::move(onEnd))
{
    // A closed descriptor is an input that has ended already.
    if (fcntl(fd, F_GETFD) < 0) {
        QTimer::singleShot(0, this, [this] { End(); });
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

LineReader::~LineReader() = default;

// One read per notification, so a descriptor shared with the shell (a
// terminal) never needs to be made non-blocking.
void LineReader::OnReadable()
{
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        End();
        return;
    }
    m_pending.append(buffer, static_cast<size_t>(n));
    size_t newline;
    // A line handler may stop the reader (a "quit"): the rest is not run.
    while (m_notifier && (newline = m_pending.find('\n')) != std::string::npos) {
        std::string line = m_pending.substr(0, newline);
        m_pending.erase(0, newline + 1);
        m_onLine(line);
    }
}

void LineReader::Stop()
{
    m_notifier.reset();
    m_onEnd = nullptr;
}

void LineReader::End()
{
    if (!m_onEnd)
        return;
    m_notifier.reset();
    if (!m_pending.empty())
        m_onLine(std::exchange(m_pending, {}));
    std::exchange(m_onEnd, nullptr)();
}

}  // namespace velnar
