#include "platform/alsa/alsa_mixer_device.h"
#include "platform/alsa/alsa_errors.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <array>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "platform/mixer_scale.h"

namespace velnar {

namespace {

constexpr uint32_t kSpeakersLineId = 0xFFFF0000;
constexpr uint32_t kWaveInLineId = 0xFFFF0001;
constexpr uint32_t kMicrophoneLineId = 0x00010000;

constexpr std::array<const char*, 3> kPlaybackElementNames{"Master", "PCM", "Speaker"};
constexpr std::array<const char*, 2> kCaptureElementNames{"Capture", "Mic"};

// One volume of the simple mixer, as a 0..65535 mixer control.
struct VolumeElement {
    snd_mixer_elem_t* elem = nullptr;  // null once ALSA removed it
    bool capture = false;
    uint32_t controlId = 0;
    long rawMin = 0;
    long rawMax = 0;
    uint32_t channels = 0;
    bool joined = false;  // one volume for all channels
    std::string name;

    snd_mixer_selem_channel_id_t Channel(uint32_t index) const
    {
        return index == 0 ? SND_MIXER_SCHN_FRONT_LEFT : SND_MIXER_SCHN_FRONT_RIGHT;
    }
    int Get(uint32_t index, long& raw) const
    {
        return capture ? snd_mixer_selem_get_capture_volume(elem, Channel(index), &raw)
                       : snd_mixer_selem_get_playback_volume(elem, Channel(index), &raw);
    }
    int Set(uint32_t index, long raw) const
    {
        return capture ? snd_mixer_selem_set_capture_volume(elem, Channel(index), raw)
                       : snd_mixer_selem_set_playback_volume(elem, Channel(index), raw);
    }
    int SetAll(long raw) const
    {
        return capture ? snd_mixer_selem_set_capture_volume_all(elem, raw)
                       : snd_mixer_selem_set_playback_volume_all(elem, raw);
    }
};

bool FindVolume(snd_mixer_t* mixer, bool capture, VolumeElement& volume)
{
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    const std::span<const char* const> names =
        capture ? std::span<const char* const>(kCaptureElementNames)
                : std::span<const char* const>(kPlaybackElementNames);
    for (const char* name : names) {
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer, id);
        if (!elem)
            continue;
        const bool hasVolume = capture ? snd_mixer_selem_has_capture_volume(elem)
                                       : snd_mixer_selem_has_playback_volume(elem);
        if (!hasVolume)
            continue;
        volume.elem = elem;
        volume.capture = capture;
        volume.controlId = capture ? kAlsaCaptureVolumeId : kAlsaPlaybackVolumeId;
        volume.name = name;
        if (capture) {
            snd_mixer_selem_get_capture_volume_range(elem, &volume.rawMin, &volume.rawMax);
            volume.channels =
                snd_mixer_selem_has_capture_channel(elem, SND_MIXER_SCHN_FRONT_RIGHT) ? 2 : 1;
            volume.joined = snd_mixer_selem_has_capture_volume_joined(elem);
        } else {
            snd_mixer_selem_get_playback_volume_range(elem, &volume.rawMin, &volume.rawMax);
            volume.channels =
                snd_mixer_selem_has_playback_channel(elem, SND_MIXER_SCHN_FRONT_RIGHT) ? 2 : 1;
            volume.joined = snd_mixer_selem_has_playback_volume_joined(elem);
        }
        return true;
    }
    return false;
}

MixerLine MakeLine(uint32_t lineId, uint32_t componentType, const std::string& name,
                   uint32_t channels, uint32_t connections, uint32_t controls)
{
    MixerLine line;
    line.dwLineID = lineId;
    line.dwComponentType = componentType;
    line.cChannels = channels;
    line.cConnections = connections;
    line.cControls = controls;
    line.szName = name;
    line.szShortName = name.substr(0, 16);
    return line;
}

MixerControl MakeVolumeControl(const VolumeElement& volume)
{
    MixerControl control;
    control.dwControlID = volume.controlId;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.fdwControl = volume.joined ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
    control.szName = volume.name + " Volume";
    control.szShortName = control.szName.substr(0, 16);
    control.dwMinimum = 0;
    control.dwMaximum = kMixerValueMax;
    control.cSteps = MixerStepCount(volume.rawMin, volume.rawMax);
    return control;
}

}  // namespace

struct OpenMixer {
    snd_mixer_t* mixer = nullptr;
    MixerDevice::ChangeFn notify;
    VolumeElement playback;
    VolumeElement capture;
    std::vector<MixerLine> destinations;
    std::vector<std::vector<MixerLine>> sources;  // per destination
    std::vector<QSocketNotifier*> notifiers;
    std::vector<uint32_t> changed;  // control IDs reported while handling events

    VolumeElement* Volume(uint32_t controlId)
    {
        if (controlId == playback.controlId && playback.elem)
            return &playback;
        if (controlId == capture.controlId && capture.elem)
            return &capture;
        return nullptr;
    }
};

namespace {

int OnElementEvent(snd_mixer_elem_t* elem, unsigned int mask)
{
    auto* open = static_cast<OpenMixer*>(snd_mixer_elem_get_callback_private(elem));
    if (!open)
        return 0;
    VolumeElement* volume = elem == open->playback.elem  ? &open->playback
                            : elem == open->capture.elem ? &open->capture
                                                         : nullptr;
    if (!volume)
        return 0;
    if (mask == SND_CTL_EVENT_MASK_REMOVE) {
        volume->elem = nullptr;
        return 0;
    }
    if (mask & SND_CTL_EVENT_MASK_VALUE)
        open->changed.push_back(volume->controlId);
    return 0;
}

void DescribeLines(OpenMixer& open)
{
    if (open.playback.elem) {
        open.destinations.push_back(MakeLine(kSpeakersLineId, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                             open.playback.name, open.playback.channels, 0, 1));
        open.sources.emplace_back();
    }
    if (open.capture.elem) {
        open.destinations.push_back(MakeLine(kWaveInLineId, MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                                             "Recording", open.capture.channels, 1, 0));
        open.sources.push_back({MakeLine(kMicrophoneLineId, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                         open.capture.name, open.capture.channels, 0, 1)});
    }
    for (uint32_t d = 0; d < open.destinations.size(); ++d) {
        open.destinations[d].dwDestination = d;
        for (uint32_t s = 0; s < open.sources[d].size(); ++s) {
            open.sources[d][s].dwDestination = d;
            open.sources[d][s].dwSource = s;
        }
    }
}

}  // namespace

struct AlsaMixerDevice::Impl {
    std::string ctlName;
    QObject notifierOwner;  // parent of the poll watchers, so none outlives the device
    std::map<MixerHandle, std::unique_ptr<OpenMixer>> open;
    MixerHandle nextHandle = 1;

    OpenMixer* Find(MixerHandle handle)
    {
        auto found = open.find(handle);
        return found == open.end() ? nullptr : found->second.get();
    }
    // The volume a details request names, once its handle, control and
    // value buffer check out; null with the failure in rc otherwise.
    const VolumeElement* VolumeFor(MixerHandle handle, const MixerControlDetails& details,
                                   MixerResult& rc);
    void Watch(MixerHandle handle, OpenMixer& mixer);
    void OnReadable(MixerHandle handle, int fd);
};

const VolumeElement* AlsaMixerDevice::Impl::VolumeFor(MixerHandle handle,
                                                      const MixerControlDetails& details,
                                                      MixerResult& rc)
{
    OpenMixer* mixer = Find(handle);
    if (!mixer) {
        rc = MMSYSERR_INVALHANDLE;
        return nullptr;
    }
    const VolumeElement* volume = mixer->Volume(details.dwControlID);
    if (!volume) {
        rc = MIXERR_INVALCONTROL;
        return nullptr;
    }
    if (details.cbDetails != sizeof(uint32_t) || !details.paDetails || details.cChannels == 0 ||
        details.cChannels > volume->channels) {
        rc = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    rc = MMSYSERR_NOERROR;
    return volume;
}

void AlsaMixerDevice::Impl::Watch(MixerHandle handle, OpenMixer& mixer)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread())
        return;
    const int count = snd_mixer_poll_descriptors_count(mixer.mixer);
    if (count <= 0)
        return;
    std::vector<pollfd> fds(static_cast<size_t>(count));
    const int filled =
        snd_mixer_poll_descriptors(mixer.mixer, fds.data(), static_cast<unsigned>(count));
    for (int i = 0; i < filled; ++i) {
        if (!(fds[static_cast<size_t>(i)].events & POLLIN))
            continue;
        const int fd = fds[static_cast<size_t>(i)].fd;
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &notifierOwner);
        QObject::connect(notifier, &QSocketNotifier::activated, &notifierOwner,
                         [this, handle, fd] { OnReadable(handle, fd); });
        mixer.notifiers.push_back(notifier);
    }
}

void AlsaMixerDevice::Impl::OnReadable(MixerHandle handle, int fd)
{
    OpenMixer* mixer = Find(handle);
    if (!mixer)
        return;
    mixer->changed.clear();
    pollfd ready{fd, POLLIN, POLLIN};
    unsigned short revents = 0;
    snd_mixer_poll_descriptors_revents(mixer->mixer, &ready, 1, &revents);
    if (snd_mixer_handle_events(mixer->mixer) < 0) {
        // The device went away: stop watching rather than spin on an fd
        // that stays readable.
        for (QSocketNotifier* notifier : mixer->notifiers)
            notifier->setEnabled(false);
        return;
    }
    std::vector<uint32_t> changed = std::move(mixer->changed);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    // The handler may close this handle (or others): look it up before each call.
    for (uint32_t controlId : changed) {
        OpenMixer* still = Find(handle);
        if (!still || !still->notify)
            return;
        const MixerDevice::ChangeFn notify = still->notify;
        notify(handle, controlId);
    }
}

AlsaMixerDevice::AlsaMixerDevice(std::string ctlName) : m_impl(std::make_unique<Impl>())
{
    m_impl->ctlName = std::move(ctlName);
}

AlsaMixerDevice::~AlsaMixerDevice()
{
    while (!m_impl->open.empty())
        Close(m_impl->open.begin()->first);
}

uint32_t AlsaMixerDevice::GetNumDevs()
{
    snd_ctl_t* ctl = nullptr;
    CatchAlsaErrors();
    if (const int rc = snd_ctl_open(&ctl, m_impl->ctlName.c_str(), 0); rc < 0) {
        ReportAlsaOpenFailure(m_impl->ctlName, rc);
        return 0;
    }
    snd_ctl_close(ctl);
    return 1;
}

MixerResult AlsaMixerDevice::Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle)
{
    if (deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    auto mixer = std::make_unique<OpenMixer>();
    if (snd_mixer_open(&mixer->mixer, 0) < 0)
        return MMSYSERR_NOMEM;
    CatchAlsaErrors();
    if (snd_mixer_attach(mixer->mixer, m_impl->ctlName.c_str()) < 0 ||
        snd_mixer_selem_register(mixer->mixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer->mixer) < 0) {
        snd_mixer_close(mixer->mixer);
        return MMSYSERR_NODRIVER;
    }
    FindVolume(mixer->mixer, false, mixer->playback);
    FindVolume(mixer->mixer, true, mixer->capture);
    for (VolumeElement* volume : {&mixer->playback, &mixer->capture}) {
        if (!volume->elem)
            continue;
        snd_mixer_elem_set_callback_private(volume->elem, mixer.get());
        snd_mixer_elem_set_callback(volume->elem, OnElementEvent);
    }
    DescribeLines(*mixer);
    mixer->notify = std::move(onControlChange);

    handle = m_impl->nextHandle++;
    OpenMixer& opened = *mixer;
    m_impl->open.emplace(handle, std::move(mixer));
    m_impl->Watch(handle, opened);
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::GetDevCaps(MixerHandle handle, MixerCaps& caps)
{
    OpenMixer* mixer = m_impl->Find(handle);
    if (!mixer)
        return MMSYSERR_INVALHANDLE;
    caps.cDestinations = static_cast<uint32_t>(mixer->destinations.size());
    caps.szPname = m_impl->ctlName;
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags)
{
    OpenMixer* mixer = m_impl->Find(handle);
    if (!mixer)
        return MMSYSERR_INVALHANDLE;
    if (line.dwDestination >= mixer->destinations.size())
        return MIXERR_INVALLINE;
    if (flags == MIXER_GETLINEINFOF_DESTINATION) {
        line = mixer->destinations[line.dwDestination];
        return MMSYSERR_NOERROR;
    }
    if (flags != MIXER_GETLINEINFOF_SOURCE)
        return MMSYSERR_INVALPARAM;
    const auto& sources = mixer->sources[line.dwDestination];
    if (line.dwSource >= sources.size())
        return MIXERR_INVALLINE;
    line = sources[line.dwSource];
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::GetLineControlByType(MixerHandle handle, uint32_t lineId,
                                                  uint32_t controlType, MixerControl& control)
{
    OpenMixer* mixer = m_impl->Find(handle);
    if (!mixer)
        return MMSYSERR_INVALHANDLE;
    const VolumeElement* volume = lineId == kSpeakersLineId ? mixer->Volume(kAlsaPlaybackVolumeId)
                                  : lineId == kMicrophoneLineId
                                      ? mixer->Volume(kAlsaCaptureVolumeId)
                                      : nullptr;
    if (!volume || controlType != MIXERCONTROL_CONTROLTYPE_VOLUME)
        return MIXERR_INVALCONTROL;
    control = MakeVolumeControl(*volume);
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::GetControlDetails(MixerHandle handle, MixerControlDetails& details)
{
    MixerResult rc;
    const VolumeElement* volume = m_impl->VolumeFor(handle, details, rc);
    if (!volume)
        return rc;
    for (uint32_t channel = 0; channel < details.cChannels; ++channel) {
        long raw = 0;
        if (volume->Get(channel, raw) < 0)
            return MMSYSERR_ERROR;
        details.paDetails[channel] = RawToMixerValue(raw, volume->rawMin, volume->rawMax);
    }
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::SetControlDetails(MixerHandle handle,
                                               const MixerControlDetails& details)
{
    MixerResult rc;
    const VolumeElement* volume = m_impl->VolumeFor(handle, details, rc);
    if (!volume)
        return rc;
    auto toRaw = [volume](uint32_t value) {
        return MixerValueToRaw(value, volume->rawMin, volume->rawMax);
    };
    if (details.cChannels == 1)
        return volume->SetAll(toRaw(details.paDetails[0])) < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    for (uint32_t channel = 0; channel < details.cChannels; ++channel)
        if (volume->Set(channel, toRaw(details.paDetails[channel])) < 0)
            return MMSYSERR_ERROR;
    return MMSYSERR_NOERROR;
}

MixerResult AlsaMixerDevice::Close(MixerHandle handle)
{
    auto found = m_impl->open.find(handle);
    if (found == m_impl->open.end())
        return MMSYSERR_INVALHANDLE;
    std::unique_ptr<OpenMixer> mixer = std::move(found->second);
    m_impl->open.erase(found);
    // Close may run inside a watcher's own signal: retire watchers later.
    for (QSocketNotifier* notifier : mixer->notifiers) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    snd_mixer_close(mixer->mixer);
    return MMSYSERR_NOERROR;
}

std::shared_ptr<MixerDevice> CreateAlsaMixerDevice()
{
    return std::make_shared<AlsaMixerDevice>();
}

}  // namespace velnar
