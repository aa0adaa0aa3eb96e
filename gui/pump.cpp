#include "gui/pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace mirvo {

namespace {
bool g_quit = false;
int g_code = 0;
}  // namespace

void post_quit(int code) {
    if (!g_quit) {
        g_quit = true;
        g_code = code;
    }
    // Ends every running event loop, nested ones included; main() checks the
    // flag for a request made before its loop started.
    QCoreApplication::exit(g_code);
}

bool quit_requested() { return g_quit; }
int quit_code() { return g_code; }
int run_main_loop() {
    if (g_quit) return g_code;
    int code = QCoreApplication::exec();
    return g_quit ? g_code : code;
}

void reset_quit_for_testing() {
    g_quit = false;
    g_code = 0;
    // QCoreApplication::exit leaves a mark that makes every later event loop
    // return at once (no nested wait would dispatch anything); only a run of
    // the main loop clears it.
    if (QCoreApplication::instance()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

bool qt_message_pump::drain() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !g_quit;
}

bool qt_message_pump::ending() const { return g_quit; }

void qt_message_pump::wait(double ms) {
    QElapsedTimer clock;
    clock.start();
    const qint64 wanted_ns = static_cast<qint64>(std::ceil(ms * 1e6));
    while (clock.nsecsElapsed() < wanted_ns) {
        int left_ms = static_cast<int>(std::ceil((wanted_ns - clock.nsecsElapsed()) / 1e6));
        if (left_ms < 1) left_ms = 1;
        if (g_quit) {
            // The loops are ending: keep the promised pause without dispatching.
            QThread::msleep(static_cast<unsigned long>(left_ms));
            continue;
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(left_ms);
        loop.exec();
    }
}

bool paced_qt_message_pump::drain() {
    if (since_drain_.isValid() && since_drain_.elapsed() < gap_ms_) return !g_quit;
    const bool go_on = pump_.drain();
    since_drain_.start();
    return go_on;
}

void install_qt_message_pump() {
    static qt_message_pump pump;
    set_message_pump(&pump);
}

}  // namespace mirvo
