#include "updater/mupdate_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName("mupdate");
    mirvo::CmupdateApp updater;
    updater.InitInstance();
    return 0;
}
