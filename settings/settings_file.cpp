#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace velnar {

namespace {

// Reads a decimal integer the way a "%d" conversion would (optional sign,
// then digits; trailing characters ignored). Anything else, including a
// number too large for an int, is not a noise position.
bool ParseNoisePosition(const std::string& word, int& position)
{
    const char* first = word.data();
    const char* last = word.data() + word.size();
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-')
            return false;
    }
    int value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end == first)
        return false;
    position = value;
    return true;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// The file holds the password: it is truncated before the mode is tightened,
// so no old content is ever readable by others, and fchmod also narrows a
// file that an older version left world-readable. A FIFO without a reader
// fails at once instead of stalling the program.
bool WriteSettings(const std::string& path, const StoredSettings& values, std::string& why)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                    0600);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!ok)
        why = "not a regular file";
    ok = ok && ::fchmod(fd, 0600) == 0;
    const std::string text = values.user + ":" + values.password + "@" + values.server + "\n" +
                             std::to_string(values.noisePosition);
    ok = ok && WriteAll(fd, text);
    if (!ok && why.empty())
        why = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    return ok;
}

}  // namespace

void SplitAddressWord(const std::string& word, StoredSettings& target)
{
    // The host never holds an at-sign, so the last one ends the password,
    // which may hold at-signs and colons of its own.
    const size_t at = word.rfind('@');
    if (at == std::string::npos) {
        // No password: a colon only marks where a user name ends.
        const size_t colon = word.find(':');
        target.user = colon == std::string::npos ? std::string() : word.substr(0, colon);
        target.password.clear();
        target.server = word;
        return;
    }
    const std::string head = word.substr(0, at);
    const size_t colon = head.find(':');
    // Without a colon, everything before the at-sign is the password.
    target.user = colon == std::string::npos ? std::string() : head.substr(0, colon);
    target.password = colon == std::string::npos ? head : head.substr(colon + 1);
    target.server = word.substr(at + 1);
}

ReadOutcome ReadSettingsFile(const std::string& path, StoredSettings& target)
{
    std::string text;
    std::string why;
    const ReadOutcome outcome = ReadBoundedFile(path, text, why);
    if (outcome == ReadOutcome::Refused)
        std::fprintf(stderr, "velnar: cannot read %s: %s\n",
                     std::filesystem::path(path).filename().c_str(), why.c_str());
    if (outcome != ReadOutcome::Read)
        return outcome;
    std::istringstream file(text);
    std::string addressWord;
    file >> addressWord;
    SplitAddressWord(addressWord, target);
    std::string noiseWord;
    if (file >> noiseWord) {
        if (!ParseNoisePosition(noiseWord, target.noisePosition))
            target.noisePosition = kDefaultNoisePosition;
    }
    return outcome;
}

bool LoadSettingsFile(const std::string& path, StoredSettings& target)
{
    return ReadSettingsFile(path, target) == ReadOutcome::Read;
}

bool SaveSettingsFile(const std::string& path, const StoredSettings& values, std::string* why)
{
    std::string reason;
    const bool ok = WriteSettings(path, values, reason);
    if (why)
        *why = reason;
    return ok;
}

int NoiseThreshold(int noisePosition)
{
    const double threshold = std::exp(std::log(32767.0) * (1000.0 - noisePosition) * 0.001);
    if (!(threshold < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return static_cast<int>(threshold);
}

}  // namespace velnar
