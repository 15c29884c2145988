#include "ui/app_icon.h"

namespace velnar {

QIcon AppIcon()
{
    QIcon icon;
    for (int sizePx : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/velnar/velnar-%1.png").arg(sizePx), QSize(sizePx, sizePx));
    return icon;
}

}  // namespace velnar
