#include "ui/app_icon.h"

namespace pz4::ui {

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/pz4-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace pz4::ui
