// The sound server's sources and sinks by their descriptions, asked through
// the shared connection (a short bounded wait). Monitors of sinks are
// sources too; they are listed after the real inputs.
#pragma once

#include "platform/device_catalog.h"

#include <memory>

namespace velnar {

std::shared_ptr<DeviceCatalog> MakePulseDeviceCatalog();

}  // namespace velnar
