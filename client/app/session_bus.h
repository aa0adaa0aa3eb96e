// The client's use of the desktop's session bus when there is none.
#pragma once

namespace mirvo {

// Call before the application object exists. Where no session bus runs (none
// named in the environment, none at the user's runtime folder), Qt's first use
// of D-Bus (accessibility, the tray, the theme) would have libdbus start
// dbus-launch: a bus of its own for this one program, started while the login
// dialog waits to show. An address that cannot be reached is named instead,
// so those uses fail at once, as they would anyway without a bus.
void keep_dbus_from_autolaunching();

}  // namespace mirvo
