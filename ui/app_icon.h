// The application icon (a telephone handset), in every size it was drawn in.
#pragma once

#include <QIcon>

namespace velnar {

QIcon AppIcon();

}  // namespace velnar
