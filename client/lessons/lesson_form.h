// lesson_form: the client's main window after login. The catalogue tree on
// the left, the movie player filling the window, a small toolbar at the top
// left, the notice link and five news links at the bottom. The logic lives in
// lesson_playback; this class binds it to the widgets of template 158.
#pragma once

#include "client/forms/new_message_form.h"
#include "client/lessons/movie_player.h"
#include "client/lessons/notices.h"
#include "client/lessons/playback.h"
#include "common/http/http.h"

#include <QBasicTimer>
#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QSize>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QKeyEvent;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class lesson_form;
}

namespace mirvo {

class CHtmlStatic;

// The window's movie player: one object that is both a widget and a
// movie_player. The program makes CShockwaveflash1; tests make a fake.
struct player_parts {
    QWidget* widget = nullptr;
    movie_player* player = nullptr;
};
using player_factory = std::function<player_parts(QWidget* parent)>;

// A factory for any widget class that is also a movie_player and takes its
// parent in its constructor.
template <class Player>
player_factory make_player_factory() {
    return [](QWidget* parent) {
        auto* p = new Player(parent);
        return player_parts{p, p};
    };
}

// Where the cursor is, in screen coordinates (tests replace it).
using cursor_source = std::function<QPoint()>;

class lesson_form : public QDialog {
    Q_OBJECT
public:
    // Builds the window from its template, shows it and runs its start-up:
    // the catalogue load and the start of the first entry.
    lesson_form(QWidget* parent, player_factory make_player, cursor_source cursor = {});
    ~lesson_form() override;

    void load_catalogue();
    void play_selected();
    void start_lesson(const std::string& title);
    void show_toolbar(bool show);
    void toggle_tree();
    void start_volume_program();
    void previous_movie();
    void next_movie();
    // The playback tick (timer 1 calls it every 700 ms).
    void tick();

    // For the frame's close sequence.
    void stop_playback_timer();
    bool playback_timer_running() const { return playback_timer_.isActive(); }

    lesson_playback& playback() { return *playback_; }
    lesson_notices& notices() { return *notices_; }
    // The new-message notice, created once at the window's start.
    new_message_form* notice_window() const { return notice_window_; }
    QTreeWidget* tree() const;
    QWidget* player_widget() const { return player_widget_; }
    QSize remembered_client_size() const { return client_size_; }

protected:
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Enter and Escape end nothing: the window lives until the program ends.
    void accept() override {}
    void reject() override {}

private:
    class window_binding;
    class notices_binding;

    void layout_children(int width, int height);
    // 列表, 播放, << and >>, left to right.
    std::array<QPushButton*, 4> toolbar_buttons() const;
    // The keyboard: on the toolbar (its buttons or the notice link), in the
    // player, and how it gets out of the player.
    bool keyboard_in_toolbar() const;
    bool in_player(const QWidget* w) const;
    void focus_player();
    bool tab_out_of_player(bool next);
    bool key_pressed(QObject* watched, QKeyEvent* key);
    void fill_tree();
    void apply_link_font();
    void create_notice_window();
    void leave_for_program();
    // A catalogue program: its start, version check and hand-over to the
    // updater (programs.h holds the logic), under a loading window that
    // calls it off when closed.
    void start_program(const std::string& file_name);
    void cancel_program_start();
    // The notice duties at the start of every tick, and the notice link's
    // text when the toolbar comes back (notices.h holds the logic).
    void tick_notices();
    void set_notice_link();

    std::unique_ptr<Ui::lesson_form> ui_;
    std::unique_ptr<window_binding> binding_;
    QWidget* player_widget_ = nullptr;
    movie_player* player_ = nullptr;
    std::unique_ptr<lesson_playback> playback_;
    // The news links 1196 to 1200, left to right.
    std::array<CHtmlStatic*, lesson_notices::news_link_count> news_links_{};
    std::unique_ptr<notices_binding> notices_binding_;
    std::unique_ptr<lesson_notices> notices_;
    QPointer<new_message_form> notice_window_;
    cursor_source cursor_;
    QBasicTimer playback_timer_;
    QSize client_size_;  // remembered on every resize
    // After playback has gone on to a program the player keeps 830 by 470
    // through the resizes that showNormal itself causes. On X11 they arrive
    // after showNormal has returned, and Qt's normal geometry may then still
    // be the maximised one, so the first resize that follows is taken for
    // showNormal's and its size kept; repeats of that size change nothing.
    // Any other size is the user's: the player fills the window again.
    bool player_set_for_program_ = false;
    std::optional<QSize> program_normal_size_;  // empty until that first resize
    // While a catalogue program's start waits for the service: closing the
    // loading window or this one, or Escape, calls it off.
    transfer_cancel* program_start_ = nullptr;
};

}  // namespace mirvo
