#include "common/ui/status.h"

#include <chrono>
#include <thread>

namespace mirvo {

namespace {
// Without a window system there is nothing to dispatch; waiting just sleeps.
class sleeping_pump final : public message_pump {
public:
    bool drain() override { return true; }
    void wait(double ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
    }
};

sleeping_pump default_pump;
message_pump* installed = nullptr;
}  // namespace

void set_message_pump(message_pump* pump) { installed = pump; }
message_pump& current_message_pump() { return installed ? *installed : default_pump; }
bool drain_message_queue() { return current_message_pump().drain(); }
void wait_pumping_messages(double ms) { current_message_pump().wait(ms); }
bool program_ending() { return current_message_pump().ending(); }

}  // namespace mirvo
