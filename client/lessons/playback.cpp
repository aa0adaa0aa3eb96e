#include "client/lessons/playback.h"

#include "client/login/session.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

#include <algorithm>

namespace mirvo {

namespace {

// Ticks at the last frame before a stopped movie with a positive delay gives way.
constexpr int end_ticks = 4;
// Mouse-idle ticks after which the toolbar goes.
constexpr int idle_ticks = 3;
constexpr std::int32_t white = 0xFFFFFF;

const std::string& now_playing() {
    static const std::string text = utf8_to_gbk(" 正在播放");
    return text;
}

bool holds_ad_mark(const std::string& name) { return gbk_find(name, "_ad") != std::string::npos; }

// Sets a flag for the lifetime of the object.
class running {
public:
    explicit running(bool& flag) : flag_(flag) { flag_ = true; }
    ~running() { flag_ = false; }
    running(const running&) = delete;
    running& operator=(const running&) = delete;

private:
    bool& flag_;
};

}  // namespace

lesson_playback::lesson_playback(lesson_window& window, movie_player& player) : window_(window), player_(player) {}

void lesson_playback::load_catalogue() {
    window_.stop_playback_timer();
    window_.set_caption(load_string(str::reading_list));
    catalogue_ = {};
    current_entry_.reset();
    const std::string no_folder;
    catalogue_ = read_catalogue(http_get_text(build_request_url("baselist", &no_folder)));
    state_.online_text = catalogue_.online_text;
    window_.set_caption(load_string(str::online) + state_.online_text + state_.status_suffix);
}

void lesson_playback::play_selected(const std::string& wanted_title) {
    if (in_play_selected_ || in_start_lesson_) return;
    running guard(in_play_selected_);

    // A failed baselist leaves nothing to start: no program, no lesson.
    if (catalogue_.entries.empty()) {
        window_.set_caption(load_string(str::online) + state_.online_text + state_.status_suffix);
        return;
    }
    const std::size_t i = catalogue_.find_title(wanted_title).value_or(0);
    const catalogue_entry entry = catalogue_.entry(i);
    state_.lesson_folder = entry.folder;
    current_entry_ = i;
    if (entry.kind != "lesson") {
        window_.start_program(entry.file);
        return;
    }
    state_.file_index = 0;
    state_.advance_request = true;
    window_.enter_lesson_view();
    // On a failed reply the caption keeps its error text.
    if (start_lesson_at(wanted_title, i)) window_.set_caption(load_string(str::online) + state_.online_text);
}

bool lesson_playback::start_lesson(const std::string& title) { return start_lesson_at(title, std::nullopt); }

bool lesson_playback::start_lesson_at(const std::string& title, std::optional<std::size_t> index) {
    if (in_start_lesson_) return false;
    running guard(in_start_lesson_);

    window_.show_busy(true);
    window_.set_caption(join_strings({str::reading_lesson, str::online}) + state_.online_text + state_.status_suffix);
    if (!index) index = catalogue_.find_title(title);
    if (index && *index < catalogue_.entries.size()) {
        state_.lesson_folder = catalogue_.entries[*index].folder;
        current_entry_ = index;
    }

    const std::string reply = http_get_text(build_request_url("lesson", &state_.lesson_folder));
    state_.online_text = gbk_prefix(xml_get_value(reply, "online_num"), max_shown_service_text);
    state_.movie_folder = digit_decode(xml_get_value(reply, "my_ro"));
    state_.new_message_count = text_to_int(xml_get_value(reply, "new_msg"));

    if (reply.empty()) {
        window_.set_caption(join_strings({str::network_error, str::online}) + state_.online_text);
        window_.show_toolbar(true);
        window_.show_busy(false);
        // The kept movies belong to another lesson's folder: never play them
        // under this one, neither by the timer nor by "<<" or ">>". With the
        // list gone it counts as used up, so a running timer goes on past the
        // lesson that failed once the movie still in the player gives way,
        // and the error stays in the caption until then.
        state_.advance_request = false;
        state_.files.clear();
        state_.file_index = 0;
        return false;
    }

    state_.files.clear();
    read_records(reply, "file", "name", record_stop::gap_tolerant, [&](const record& r) {
        state_.files.push_back({gbk_replace_all(r.get("name"), ".html", ".swf"), r.get("delay_time")});
    });
    state_.file_index = 0;
    window_.start_playback_timer();
    window_.set_caption(join_strings({str::start_playing, str::online}) + state_.online_text);
    window_.show_busy(false);
    return true;
}

void lesson_playback::tick() {
    // A tick that falls due while a request of a lesson start is under way
    // would act on half-changed state; the next one does its work.
    if (in_tick_ || in_start_lesson_ || in_play_selected_) return;
    running guard(in_tick_);

    window_.tick_notices();
    mouse_idle();
    if (should_advance()) advance();
}

void lesson_playback::mouse_idle() {
    const screen_point p = window_.cursor_position();
    if (p != state_.last_cursor) {
        state_.last_cursor = p;
        state_.idle_count = 0;
        window_.show_toolbar(true);
        return;
    }
    if (++state_.idle_count > idle_ticks) {
        // Resting where "<<" or ">>" was pressed keeps the toolbar up, and so
        // does a keyboard user working it.
        if (p == state_.click_position || window_.keyboard_in_toolbar())
            state_.idle_count = 0;
        else
            window_.show_toolbar(false);
    }
}

void lesson_playback::key_pressed() {
    state_.idle_count = 0;
    window_.show_toolbar(true);
}

bool lesson_playback::should_advance() {
    if (state_.advance_request) {
        state_.advance_request = false;
        return true;
    }
    if (state_.delay_value < 0) return false;  // stays until a button is pressed
    if (player_.IsPlaying()) return false;
    if (state_.delay_value == 0) return true;
    // A movie that could not be loaded has no frames, so it stands at no last
    // frame either: it waits like one that stopped half-way.
    const std::int32_t total = player_.TotalFrames();
    if (total > 0 && player_.CurrentFrame() >= total - 1)
        return ++state_.end_count >= end_ticks;  // advance() resets it
    // Stopped half-way: only a lesson with no movie started yet moves on.
    return state_.file_index == 0;
}

void lesson_playback::advance() {
    // The count of ticks at a last frame belongs to the movie that stood
    // there: whatever comes next, a movie or another lesson, starts from 0.
    state_.end_count = 0;
    if (state_.file_index < 0) state_.file_index = 0;
    if (state_.file_index >= static_cast<std::int64_t>(state_.files.size())) {
        go_on_with_next_entry();
        return;
    }
    const movie_file file = state_.files[static_cast<std::size_t>(state_.file_index)];
    state_.delay_value = file.delay_text.empty() ? 6 : text_to_int(file.delay_text);
    ++state_.file_index;
    window_.set_caption(load_string(str::online) + state_.online_text + now_playing() +
                        std::to_string(state_.file_index) + state_.status_suffix);
    player_.LoadMovie(0, movie_address(file.name));
    player_.SetBackgroundColor(white);
    player_.Play();
}

std::string lesson_playback::movie_address(const std::string& name) const {
    // The "_ad" test here is case-sensitive, unlike the buttons' test.
    std::string address = session().server_base_url + "/" + url_encode_value(state_.movie_folder, true) + "/";
    if (!holds_ad_mark(name)) address += url_encode_value(state_.lesson_folder, true) + "/0010/";
    return address + url_encode_value(name, true);
}

void lesson_playback::go_on_with_next_entry() {
    // The entry that played, while it still names the current folder;
    // otherwise the first entry with that folder, or entry 0.
    std::size_t j = 0;
    if (current_entry_ && *current_entry_ < catalogue_.entries.size() &&
        catalogue_.entries[*current_entry_].folder == state_.lesson_folder)
        j = *current_entry_;
    else
        j = catalogue_.find_folder(state_.lesson_folder).value_or(0);

    if (j + 1 >= catalogue_.entries.size()) {
        window_.stop_playback_timer();
        window_.show_toolbar(true);
        window_.set_caption(load_string(str::online) + state_.online_text + state_.status_suffix);
        return;
    }
    const catalogue_entry& following = catalogue_.entries[j + 1];
    if (following.kind == "lesson") {
        state_.lesson_folder = following.folder;
        start_lesson_at(following.title, j + 1);
        return;
    }
    window_.stop_playback_timer();
    window_.show_toolbar(true);
    window_.set_caption(load_string(str::online) + state_.online_text);
    window_.leave_for_program();
}

std::string lesson_playback::file_name_at(std::int64_t i) const {
    if (i < 0 || i >= static_cast<std::int64_t>(state_.files.size())) return {};
    return state_.files[static_cast<std::size_t>(i)].name;
}

void lesson_playback::previous() {
    state_.click_position = window_.cursor_position();
    if (state_.file_index <= 0) return;
    // An advertisement cannot be left backwards, whatever the case of its mark.
    if (holds_ad_mark(gbk_to_lower(file_name_at(state_.file_index - 1)))) return;
    if (state_.advance_request) return;
    state_.file_index = std::max<std::int64_t>(state_.file_index - 2, 0);
    state_.advance_request = true;
}

void lesson_playback::next() {
    state_.click_position = window_.cursor_position();
    if (state_.file_index < 0) return;
    if (holds_ad_mark(gbk_to_lower(file_name_at(state_.file_index - 1)))) return;
    state_.advance_request = true;
}

}  // namespace mirvo
