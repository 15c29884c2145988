// An ALSA configuration of the test's own, in force while the object lives:
// ALSA_CONFIG_PATH points at it, and ALSA reads it afresh at its next look-up.
#pragma once

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velnar::test {

class AlsaConfigFile {
public:
    explicit AlsaConfigFile(const std::string& text)
    {
        if (const char* old = std::getenv("ALSA_CONFIG_PATH"))
            m_old = old;
        if (FILE* file = std::fopen(m_path.c_str(), "w")) {
            std::fputs(text.c_str(), file);
            std::fclose(file);
        }
        setenv("ALSA_CONFIG_PATH", m_path.c_str(), 1);
    }
    ~AlsaConfigFile()
    {
        m_old.empty() ? unsetenv("ALSA_CONFIG_PATH") : setenv("ALSA_CONFIG_PATH", m_old.c_str(), 1);
        std::remove(m_path.c_str());
    }

private:
    // A new name each time: ALSA notices a changed file by its name and
    // its time stamp, which a rewrite within the same second keeps.
    static inline int s_made = 0;
    const std::string m_path =
        "/tmp/velnar-alsa-" + std::to_string(getpid()) + "-" + std::to_string(++s_made) + ".conf";
    std::string m_old;
};

}  // namespace velnar::test
