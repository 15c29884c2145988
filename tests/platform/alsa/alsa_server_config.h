// An ALSA configuration of the test's own, in force while the object lives
// (ALSA_CONFIG_PATH points at it; ALSA reads it afresh at the next look-up).
#pragma once

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace velnar::test {

class AlsaConfigFile {
public:
    explicit AlsaConfigFile(const std::string& text)
    {
        char name[] = "/tmp/velnar-alsa-XXXXXX";
        const int fd = mkstemp(name);
        m_path = name;
        if (fd >= 0) {
            (void)!write(fd, text.data(), text.size());
            close(fd);
        }
        if (const char* old = std::getenv("ALSA_CONFIG_PATH"))
            m_old = old;
        setenv("ALSA_CONFIG_PATH", m_path.c_str(), 1);
    }
    ~AlsaConfigFile()
    {
        m_old ? setenv("ALSA_CONFIG_PATH", m_old->c_str(), 1) : unsetenv("ALSA_CONFIG_PATH");
        std::remove(m_path.c_str());
    }
    AlsaConfigFile(const AlsaConfigFile&) = delete;
    AlsaConfigFile& operator=(const AlsaConfigFile&) = delete;

private:
    std::string m_path;
    std::optional<std::string> m_old;
};

}  // namespace velnar::test
