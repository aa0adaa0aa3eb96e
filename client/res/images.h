// The client's pictures, drawn at build time and compiled in as resources
// under ":/images/".
#pragma once

#include <QIcon>

namespace mirvo {

// The program's icon (resource 127) in its 16 and 32 pixel sizes.
QIcon program_icon();

}  // namespace mirvo
