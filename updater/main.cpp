#include "gui/fonts.h"
#include "gui/platform.h"
#include "updater/mupdate_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    mirvo::platform_choice platform;
    QApplication app(argc, argv);
    platform.restore_environment();
    mirvo::set_up_program_texts(false);
    app.setApplicationName("mupdate");
    mirvo::CmupdateApp updater;
    updater.InitInstance();
    return 0;
}
