#include "client/app/main_frame.h"
#include "client/app/session_bus.h"
#include "client/app/zeph_app.h"
#include "client/lessons/player/player_setup.h"
#include "client/lessons/player/shockwave_flash.h"
#include "client/login/session.h"
#include "common/sign/configured_key.h"
#include "gui/fonts.h"
#include "gui/platform.h"
#include "gui/pump.h"

#include <QApplication>

int main(int argc, char** argv) {
    mirvo::keep_dbus_from_autolaunching();
    // The movie player's web engine and URL scheme must be set up before the
    // application object exists.
    mirvo::prepare_movie_player(argc, argv);
    mirvo::platform_choice platform;
    QApplication app(argc, argv);
    platform.restore_environment();
    mirvo::set_up_program_texts(true);
    mirvo::set_lesson_player_factory(mirvo::make_player_factory<mirvo::CShockwaveflash1>());
    // Download lists reach the updater only when signed with the deployment's key.
    mirvo::update_key() = mirvo::configured_update_key();
    app.setApplicationName("mirvo");
    // The installed menu entry: desktops match the windows to its name and icon.
    app.setDesktopFileName(MIRVO_APP_ID);
    // The program ends through its close sequence or a quit request, never
    // because its last visible window went (the frame hides into the tray).
    app.setQuitOnLastWindowClosed(false);
    mirvo::CZephApp zeph;
    if (!zeph.InitInstance()) return mirvo::quit_requested() ? mirvo::quit_code() : 1;
    // A quit asked for during start-up (a cancelled login) ends the program now.
    return mirvo::run_main_loop();
}
