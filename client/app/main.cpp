#include "client/app/pump.h"
#include "client/app/zeph_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    mirvo::prepare_before_application(argc, argv);
    QApplication app(argc, argv);
    app.setApplicationName("mirvo");
    // The program ends through its close sequence or a quit request, never
    // because its last visible window went (the frame hides into the tray).
    app.setQuitOnLastWindowClosed(false);
    mirvo::CZephApp zeph;
    if (!zeph.InitInstance()) return mirvo::quit_requested() ? mirvo::quit_code() : 1;
    // A quit asked for during start-up (a cancelled login) ends the program now.
    if (mirvo::quit_requested()) return mirvo::quit_code();
    int code = app.exec();
    return mirvo::quit_requested() ? mirvo::quit_code() : code;
}
