#include "settings/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace velnar {

namespace {

// One byte past the limit tells a file that is too large from one that
// fits exactly, also where the size is not known in advance (/proc).
ReadOutcome ReadAtMost(int fd, std::string& text, std::string& why)
{
    text.assign(kMaxReadBytes + 1, '\0');
    size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t n = ::read(fd, text.data() + filled, text.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            return ReadOutcome::NotOpened;
        }
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
    }
    text.resize(filled);
    if (filled > kMaxReadBytes) {
        why = "too large";
        return ReadOutcome::Refused;
    }
    return ReadOutcome::Read;
}

}  // namespace

ReadOutcome ReadBoundedFile(const std::string& path, std::string& text, std::string& why)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = std::strerror(errno);
        return ReadOutcome::NotOpened;
    }
    struct stat info {};
    ReadOutcome outcome = ReadOutcome::Refused;
    if (::fstat(fd, &info) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        why = "not a regular file";
    else
        outcome = ReadAtMost(fd, text, why);
    ::close(fd);
    if (outcome != ReadOutcome::Read)
        text.clear();
    return outcome;
}

}  // namespace velnar
