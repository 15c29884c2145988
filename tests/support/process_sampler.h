// What the kernel counts for a process and its threads, read from /proc:
// CPU time and wake-ups (voluntary and involuntary context switches, each
// one the thread going to sleep or being put aside), sampled before and
// after a measured stretch.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velnar::test {

// One thread, or a whole process.
struct ThreadCounts {
    std::string name;
    double cpuSeconds = 0;  // user + system
    long wakeups = 0;
};

// One process's use over a measured stretch: per thread, and in total (the
// total CPU also counts threads that ended meanwhile).
struct ProcessUsage {
    std::string label;
    double cpuSeconds = 0;
    double wakeupsPerSecond = 0;
    std::vector<std::pair<std::string, ThreadCounts>> threads;  // id, use over the stretch
    double wallSeconds = 0;
    double CpuPercent() const { return wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0; }
};

class ProcessSampler {
public:
    // procDir: "/proc/self" or "/proc/<pid>".
    ProcessSampler(std::string label, QString procDir);
    void Begin();
    ProcessUsage End(double wallSeconds) const;

private:
    std::string m_label;
    QString m_dir;
    ThreadCounts m_process;
    std::map<std::string, ThreadCounts> m_threads;
};

// Runs the event loop for that long while the samplers measure their
// processes.
std::vector<ProcessUsage> MeasureFor(int seconds, std::vector<ProcessSampler> samplers);

// The process's use and each thread's share, one line each.
void PrintUsage(const ProcessUsage& usage);

// The sum of several processes' use, as one.
ProcessUsage Combined(std::string label, const std::vector<ProcessUsage>& parts);

// This process's CPU seconds so far (user + system) and resident memory.
double OwnCpuSeconds();
double OwnResidentMb();

}  // namespace velnar::test
