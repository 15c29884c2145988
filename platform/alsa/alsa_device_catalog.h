// ALSA's PCM devices that can capture or play, by their descriptions, as
// the device name hints give them (cards' hardware devices, plugins).
#pragma once

#include "platform/device_catalog.h"

#include <memory>

namespace velnar {

std::shared_ptr<DeviceCatalog> MakeAlsaDeviceCatalog();

}  // namespace velnar
