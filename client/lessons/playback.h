// The lesson window's logic without its widgets: the catalogue, starting an
// entry, lesson start, the 700 ms playback tick with its advance rules, and
// the "<<" / ">>" buttons. The window binds it to real widgets through
// lesson_window; tests bind it to recording fakes.
#pragma once

#include "client/lessons/catalogue.h"
#include "client/lessons/movie_player.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirvo {

struct screen_point {
    int x = 0;
    int y = 0;
    friend bool operator==(const screen_point&, const screen_point&) = default;
};

// What the logic asks of its window. Texts are GBK.
class lesson_window {
public:
    virtual ~lesson_window() = default;
    virtual void set_caption(const std::string& text) = 0;
    virtual void show_toolbar(bool show) = 0;
    virtual void show_busy(bool show) = 0;    // the "please wait" text
    virtual void start_playback_timer() = 0;  // timer 1, 700 ms; restarts a running one
    virtual void stop_playback_timer() = 0;
    virtual screen_point cursor_position() = 0;  // screen coordinates
    // Whether the keyboard is on one of the toolbar's controls: a toolbar
    // in use by keys stays up however long the mouse rests.
    virtual bool keyboard_in_toolbar() = 0;
    // Before a lesson plays: hide the tree, maximise, hide the toolbar.
    virtual void enter_lesson_view() = 0;
    // The next catalogue entry is a program: normal window state, the player
    // at (0, 0) with 830 by 470.
    virtual void leave_for_program() = 0;
    // Seams of the later parts: a program entry's start, and the notice
    // duties that run first on every tick.
    virtual void start_program(const std::string& file_name) = 0;
    virtual void tick_notices() = 0;
};

struct movie_file {
    std::string name;        // ".html" already turned into ".swf"
    std::string delay_text;  // as the reply gave it
};

// Playback state. Public so the notice duties and tests can read it; the
// notices write online_text, status_suffix and new_message_count.
struct playback_state {
    std::string online_text;
    std::string status_suffix;
    std::int32_t new_message_count = 0;
    std::string movie_folder;   // decoded my_ro of the last lesson reply
    std::string lesson_folder;  // dir of the entry being played
    std::vector<movie_file> files;
    std::int64_t file_index = 0;  // movies of this lesson already started
    std::int32_t delay_value = 6;
    bool advance_request = false;
    int end_count = 0;
    screen_point last_cursor;
    screen_point click_position;
    int idle_count = 0;
};

class lesson_playback {
public:
    lesson_playback(lesson_window& window, movie_player& player);

    // baselist: stops the timer, reads the catalogue, sets the caption.
    void load_catalogue();
    // Starts the entry with this title (entry 0 when no entry has it): a
    // lesson plays, anything else goes to the program start. An empty
    // catalogue starts nothing.
    void play_selected(const std::string& wanted_title);
    // The lesson request; true when a reply came.
    bool start_lesson(const std::string& title);
    void tick();
    // A key pressed in the window brings the toolbar back as a mouse
    // movement does.
    void key_pressed();
    void previous();
    void next();

    const catalogue& entries() const { return catalogue_; }
    playback_state& state() { return state_; }
    const playback_state& state() const { return state_; }
    // The movie address of a file name under the current folders.
    std::string movie_address(const std::string& name) const;

private:
    bool start_lesson_at(const std::string& title, std::optional<std::size_t> index);
    void mouse_idle();
    bool should_advance();
    void advance();
    void go_on_with_next_entry();
    std::string file_name_at(std::int64_t i) const;

    lesson_window& window_;
    movie_player& player_;
    catalogue catalogue_;
    playback_state state_;
    // The catalogue entry being played, when known: two entries may share a
    // title or a folder, and going on must move past the one that played.
    std::optional<std::size_t> current_entry_;

    // Requests pump events while their password is encoded, so a handler can
    // be entered again from inside itself; such a second start is ignored.
    bool in_play_selected_ = false;
    bool in_start_lesson_ = false;
    bool in_tick_ = false;
};

}  // namespace mirvo
