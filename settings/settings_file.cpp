#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>

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

}  // namespace

void SplitAddressWord(const std::string& word, StoredSettings& target)
{
    const size_t colon = word.find(':');
    const size_t at = word.find('@');
    target.user = colon == std::string::npos ? std::string() : word.substr(0, colon);
    // The password runs from after the colon (or from the start when there
    // is none) up to the at-sign.
    const size_t passwordStart = colon == std::string::npos ? 0 : colon + 1;
    if (at != std::string::npos && at > passwordStart)
        target.password = word.substr(passwordStart, at - passwordStart);
    else
        target.password.clear();
    target.server = at == std::string::npos ? word : word.substr(at + 1);
}

bool LoadSettingsFile(const std::string& path, StoredSettings& target)
{
    // A directory opens like an empty file here; it is no settings file.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return false;
    std::ifstream file(path);
    if (!file.is_open())
        return false;
    std::string addressWord;
    file >> addressWord;
    SplitAddressWord(addressWord, target);
    std::string noiseWord;
    if (file >> noiseWord) {
        if (!ParseNoisePosition(noiseWord, target.noisePosition))
            target.noisePosition = kDefaultNoisePosition;
        std::string restOfNoiseLine;
        std::getline(file, restOfNoiseLine);
        target.keys.Read(file);
    }
    return true;
}

bool SaveSettingsFile(const std::string& path, const StoredSettings& values)
{
    // The file holds the password: it is truncated before the mode is
    // tightened, so no old content is ever readable by others, and fchmod
    // also narrows a file that an older version left world-readable.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    // Without keys the file stays exactly as earlier programs wrote it.
    std::string text = values.user + ":" + values.password + "@" + values.server + "\n" +
                       std::to_string(values.noisePosition);
    if (!values.keys.Empty())
        text += "\n" + values.keys.Lines();
    ok = WriteAll(fd, text) && ok;
    ok = ::close(fd) == 0 && ok;
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
