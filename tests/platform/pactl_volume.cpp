#include "tests/platform/pactl_volume.h"

#include "tests/support/pactl.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace velnar::testing_audio {

namespace {

std::optional<QString> RunPactl(const QStringList& arguments)
{
    return test::Pactl(arguments);
}

// "Volume: front-left: 32768 /  50% / -18.06 dB,   front-right: ..."
std::optional<std::vector<long>> ParseVolume(const std::optional<QString>& output)
{
    if (!output)
        return std::nullopt;
    static const QRegularExpression channel(R"(([a-z-]+):\s+(\d+)\s+/)");
    std::vector<long> volumes;
    for (auto match = channel.globalMatch(*output); match.hasNext();)
        volumes.push_back(match.next().captured(2).toLong());
    if (volumes.empty())
        return std::nullopt;
    return volumes;
}

bool SetVolume(const char* command, const char* device, const std::string& volume)
{
    QStringList arguments{command, device};
    arguments += QString::fromStdString(volume).split(' ', Qt::SkipEmptyParts);
    return RunPactl(arguments).has_value();
}

}  // namespace

bool HaveAudioServer()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER") && RunPactl({"info"}).has_value();
}

std::optional<std::vector<long>> SinkVolume()
{
    return ParseVolume(RunPactl({"get-sink-volume", "@DEFAULT_SINK@"}));
}

std::optional<std::vector<long>> SourceVolume()
{
    return ParseVolume(RunPactl({"get-source-volume", "@DEFAULT_SOURCE@"}));
}

std::optional<std::vector<long>> SinkVolumeOf(const std::string& sink)
{
    return ParseVolume(RunPactl({"get-sink-volume", QString::fromStdString(sink)}));
}

bool SetSinkVolumeOf(const std::string& sink, const std::string& volume)
{
    return SetVolume("set-sink-volume", sink.c_str(), volume);
}

std::optional<std::string> Pactl(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list += QString::fromStdString(argument);
    const std::optional<QString> output = RunPactl(list);
    if (!output)
        return std::nullopt;
    return output->toStdString();
}

bool SetSinkVolume(const std::string& volume)
{
    return SetVolume("set-sink-volume", "@DEFAULT_SINK@", volume);
}

bool SetSourceVolume(const std::string& volume)
{
    return SetVolume("set-source-volume", "@DEFAULT_SOURCE@", volume);
}

}  // namespace velnar::testing_audio
