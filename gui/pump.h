// The client's event pump and quit handling on Qt.
#pragma once

#include "common/ui/status.h"

#include <QElapsedTimer>

namespace mirvo {

// Asks the program to end with code. Never lost: a request made while events
// are pumped inside a handler still ends the main loop, and one made before
// the main loop starts ends it as soon as it starts.
void post_quit(int code);
bool quit_requested();
int quit_code();
// Runs the main event loop and returns the program's exit code: at once when a
// quit was requested before (a cancelled login), else when the loop ends.
int run_main_loop();

// Forgets a recorded quit request (tests run several windows in one process).
void reset_quit_for_testing();

// The Qt message pump: drains with processEvents and waits in a nested event
// loop, so a wait dispatches events as they come and otherwise sleeps.
class qt_message_pump final : public message_pump {
public:
    bool drain() override;
    void wait(double ms) override;
    bool ending() const override;
};

// The Qt message pump for a loop that drains before each of many small reads
// (a download drains before every 99 bytes): events are dispatched at most
// once per gap, a delay nobody can see, and a drain in between costs a clock
// reading instead of a trip through the event loop. Waits are qt_message_pump's.
class paced_qt_message_pump final : public message_pump {
public:
    explicit paced_qt_message_pump(int gap_ms = 2) : gap_ms_(gap_ms) {}
    bool drain() override;
    void wait(double ms) override { pump_.wait(ms); }

private:
    qt_message_pump pump_;
    int gap_ms_;
    QElapsedTimer since_drain_;
};

// Installs a qt_message_pump as the process's pump.
void install_qt_message_pump();

}  // namespace mirvo
