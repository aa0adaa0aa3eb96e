// Waiting for the player in tests and benchmarks. The web engine runs its
// browser-side work on our thread, so a wait must dispatch events as they
// come: QTest::qWait sleeps in 10 ms slices between dispatches, which starves
// the engine (Ruffle's start-up then takes several times as long).
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace mirvo::player {

inline void run_events_for(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// True as soon as `done` holds (checked every 10 ms), false after `ms`.
inline bool run_events_until(const std::function<bool()>& done, int ms) {
    if (done()) return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= ms) loop.quit();
    });
    check.start(10);
    loop.exec();
    return done();
}

}  // namespace mirvo::player
