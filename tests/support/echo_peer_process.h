// The echo peer program as the far end of a call, in a process of its own:
// it answers at once and sends every voice frame back, and reports touch
// tones and hang-ups on its output (unless quiet).
#pragma once

#include <QProcess>

#include <cstdint>
#include <string>
#include <vector>

namespace velnar::test {

class EchoPeerProcess {
public:
    // quiet: no report per frame, for measurements that must not pay for it.
    explicit EchoPeerProcess(bool quiet = false, const std::vector<std::string>& options = {});
    ~EchoPeerProcess();
    EchoPeerProcess(const EchoPeerProcess&) = delete;
    EchoPeerProcess& operator=(const EchoPeerProcess&) = delete;

    // The UDP port it listens on, 0 when it did not start.
    uint16_t Port() const { return m_port; }
    // The UDP port of its version-2 side, 0 when it has none.
    uint16_t V2Port() const { return m_v2Port; }
    bool Said(const std::string& text) const { return m_output.find(text) != std::string::npos; }
    const std::string& Output() const { return m_output; }
    // Ends it now (a far end that goes away).
    void Stop();

private:
    QProcess m_process;
    uint16_t m_port = 0;
    uint16_t m_v2Port = 0;
    std::string m_output;
};

}  // namespace velnar::test
