// Reads lines from a file descriptor (the console phone's standard input)
// on the Qt event loop: each complete line goes to onLine without its line
// break; the end of the input (or a read error) delivers a last unfinished
// line, if any, and then calls onEnd once.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace velnar {

class LineReader : public QObject {
public:
    LineReader(int fd, std::function<void(const std::string&)> onLine, std::function<void()> onEnd);
    ~LineReader() override;
    // Reads no more and calls nothing more, also not for lines already read.
    void Stop();

private:
    void OnReadable();
    void End();

    int m_fd;
    std::function<void(const std::string&)> m_onLine;
    std::function<void()> m_onEnd;
    std::string m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace velnar
