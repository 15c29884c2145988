// The microphone and speaker chosen in Settings: switched to at the start of
// the next call, and the default used in place of one that has gone.
#include "engine/iax_phone.h"

#include <algorithm>
#include <cstdio>

namespace velnar {

namespace {

bool Listed(const std::vector<SoundDevice>& devices, const std::string& id)
{
    return std::any_of(devices.begin(), devices.end(),
                       [&id](const SoundDevice& device) { return device.id == id; });
}

}  // namespace

void CIaxPhone::ChooseDevices(std::shared_ptr<DeviceCatalog> catalog, std::string microphone,
                              std::string speaker)
{
    m_catalog = std::move(catalog);
    m_chosenMicrophone = std::move(microphone);
    m_chosenSpeaker = std::move(speaker);
}

// A device the catalog no longer lists (unplugged, renamed) is named on
// standard error the first time only; an empty listing says nothing either
// way, and the choice stands.
std::string CIaxPhone::Available(const std::string& id, bool microphone)
{
    if (id.empty() || !m_catalog)
        return id;
    const std::vector<SoundDevice> devices =
        microphone ? m_catalog->Microphones() : m_catalog->Speakers();
    if (devices.empty() || Listed(devices, id))
        return id;
    if (m_reportedGone.insert(id).second)
        std::fprintf(stderr, "velnar: the %s \"%s\" is not there; using the default\n",
                     microphone ? "microphone" : "speaker", id.c_str());
    return {};
}

// Reopens the pair when the call should use other devices than the open ones.
void CIaxPhone::ApplyDeviceChoice()
{
    if (!m_hWaveIn || !m_hWaveOut)
        return;
    const std::string microphone = Available(m_chosenMicrophone, true);
    const std::string speaker = Available(m_chosenSpeaker, false);
    if (microphone == m_openMicrophone && speaker == m_openSpeaker)
        return;
    CloseAudio();
    m_hWaveIn->SelectDevice(microphone);
    m_hWaveOut->SelectDevice(speaker);
    m_openMicrophone = microphone;
    m_openSpeaker = speaker;
}

}  // namespace velnar
