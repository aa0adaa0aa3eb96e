#include "client/app/session_bus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace mirvo {

void keep_dbus_from_autolaunching() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) return;
    // libdbus looks for the user's bus here before it launches one.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        struct stat bus {};
        if (stat((std::string(runtime) + "/bus").c_str(), &bus) == 0 && S_ISSOCK(bus.st_mode) && bus.st_uid == getuid())
            return;
    }
    // No transport of that name exists: connecting fails without a launch.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

}  // namespace mirvo
