#include "tests/support/process_sampler.h"

#include "tests/support/event_pump.h"

#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace velnar::test {

namespace {

// The name and CPU time from a stat file ("pid (name) state ..."): the name
// is in parentheses and may hold spaces; utime and stime are the 12th and
// 13th fields after it.
bool ReadStat(const QString& path, ThreadCounts& counts)
{
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QString line = QString::fromUtf8(stat.readAll());
    const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
    const QStringList fields = line.mid(close + 2).split(' ');
    if (open < 0 || close < open || fields.size() < 13)
        return false;
    counts.name = line.mid(open + 1, close - open - 1).toStdString();
    counts.cpuSeconds =
        (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
    return true;
}

long ReadSwitches(const QString& statusPath)
{
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    long switches = 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:") ||
            line.startsWith("nonvoluntary_ctxt_switches:"))
            switches += line.mid(line.indexOf(':') + 1).trimmed().toLong();
    return switches;
}

// Every thread of a process, by id.
std::map<std::string, ThreadCounts> SampleThreads(const QString& procDir)
{
    std::map<std::string, ThreadCounts> threads;
    for (const QString& id : QDir(procDir + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString task = procDir + "/task/" + id;
        ThreadCounts counts;
        if (!ReadStat(task + "/stat", counts))
            continue;
        counts.wakeups = ReadSwitches(task + "/status");
        threads[id.toStdString()] = counts;
    }
    return threads;
}

}  // namespace

ProcessSampler::ProcessSampler(std::string label, QString procDir)
    : m_label(std::move(label)), m_dir(std::move(procDir))
{}

void ProcessSampler::Begin()
{
    ReadStat(m_dir + "/stat", m_process);
    m_threads = SampleThreads(m_dir);
}

ProcessUsage ProcessSampler::End(double wallSeconds) const
{
    ProcessUsage usage;
    usage.label = m_label;
    usage.wallSeconds = wallSeconds;
    ThreadCounts process;
    if (ReadStat(m_dir + "/stat", process))
        usage.cpuSeconds = process.cpuSeconds - m_process.cpuSeconds;
    long wakeups = 0;
    for (const auto& [id, now] : SampleThreads(m_dir)) {
        auto before = m_threads.find(id);
        ThreadCounts used = now;
        if (before != m_threads.end()) {
            used.cpuSeconds -= before->second.cpuSeconds;
            used.wakeups -= before->second.wakeups;
        }
        wakeups += used.wakeups;
        usage.threads.emplace_back(id, used);
    }
    usage.wakeupsPerSecond = wallSeconds > 0 ? double(wakeups) / wallSeconds : 0;
    return usage;
}

std::vector<ProcessUsage> MeasureFor(int seconds, std::vector<ProcessSampler> samplers)
{
    for (ProcessSampler& sampler : samplers)
        sampler.Begin();
    const auto start = std::chrono::steady_clock::now();
    RunFor(seconds * 1000);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<ProcessUsage> usages;
    for (const ProcessSampler& sampler : samplers)
        usages.push_back(sampler.End(wall));
    return usages;
}

void PrintUsage(const ProcessUsage& usage)
{
    std::printf("%-34s CPU %6.2f %%   wake-ups %7.1f /s\n", usage.label.c_str(), usage.CpuPercent(),
                usage.wakeupsPerSecond);
    for (const auto& [id, thread] : usage.threads)
        std::printf("  thread %-8s %-16s CPU %6.2f %%   wake-ups %7.1f /s\n", id.c_str(),
                    thread.name.c_str(), 100.0 * thread.cpuSeconds / usage.wallSeconds,
                    double(thread.wakeups) / usage.wallSeconds);
}

ProcessUsage Combined(std::string label, const std::vector<ProcessUsage>& parts)
{
    ProcessUsage total;
    total.label = std::move(label);
    for (const ProcessUsage& part : parts) {
        total.wallSeconds = part.wallSeconds;
        total.cpuSeconds += part.cpuSeconds;
        total.wakeupsPerSecond += part.wakeupsPerSecond;
        for (const auto& thread : part.threads)
            total.threads.push_back(thread);
    }
    return total;
}

double OwnCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double OwnResidentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

}  // namespace velnar::test
