#include "client/res/images.h"

namespace mirvo {

QIcon program_icon() {
    QIcon icon;
    icon.addFile(":/images/icon127_16.png", QSize(16, 16));
    icon.addFile(":/images/icon127.png", QSize(32, 32));
    return icon;
}

}  // namespace mirvo
