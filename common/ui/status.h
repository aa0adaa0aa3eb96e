// Small interfaces through which long procedures talk to the screen, so the
// same code runs against real widgets and against test doubles.
#pragma once

#include <string>

namespace mirvo {

// A one-line status text (GBK). set_text replaces the text; repaint paints it
// at once (implementations may coalesce repaints to the display's frame rate,
// as long as the last text set is the one that ends up painted).
class status_line {
public:
    virtual ~status_line() = default;
    virtual void set_text(const std::string& gbk) = 0;
    virtual void repaint() = 0;
};

class progress_bar {
public:
    virtual ~progress_bar() = default;
    virtual void set_range(int low, int high) = 0;
    virtual void set_pos(int pos) = 0;
    virtual int pos() const = 0;
    virtual void set_visible(bool visible) = 0;
    virtual void repaint() = 0;
};

// The thread's event pump. The client and the updater install a Qt one; the
// default does not dispatch anything and only sleeps in wait().
class message_pump {
public:
    virtual ~message_pump() = default;
    // Dispatches every waiting event. Returns false when a quit has been
    // requested (the request itself is kept, so the main loop still ends).
    virtual bool drain() = 0;
    // Returns after at least ms milliseconds, dispatching events as they come
    // and sleeping otherwise.
    virtual void wait(double ms) = 0;
    // True once a quit has been requested: work that would make the program
    // wait should not start any more.
    virtual bool ending() const { return false; }
};

// Installs the process's pump (nullptr restores the default). Not owned.
void set_message_pump(message_pump* pump);
message_pump& current_message_pump();

// Dispatches nothing and returns from every wait at once. For a program with
// no events to pump, such as the service, whose digit code must not pause
// 10 ms per character, and for tests that want the same.
class no_wait_pump final : public message_pump {
public:
    bool drain() override { return true; }
    void wait(double) override {}
};

// Installs a pump for the lifetime of the object and puts the default back
// after.
class scoped_message_pump {
public:
    explicit scoped_message_pump(message_pump& pump) { set_message_pump(&pump); }
    ~scoped_message_pump() { set_message_pump(nullptr); }
    scoped_message_pump(const scoped_message_pump&) = delete;
    scoped_message_pump& operator=(const scoped_message_pump&) = delete;
};

bool drain_message_queue();
void wait_pumping_messages(double ms);
bool program_ending();

}  // namespace mirvo
