// CMainFrame: the client's main window, maximised behind the lesson window.
// Its creation carries the second half of the start-up (the version in the
// caption, the login, the loading window, the lesson window, the tray icon);
// it holds the menu, the toolbar and the tray icon, hides itself when
// minimised, and its close sequence logs the user out and ends the process.
#pragma once

#include "client/app/tray_icon.h"
#include "client/forms/message_form.h"
#include "client/lessons/lesson_form.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

class QMenu;
class QToolBar;

namespace mirvo {

// Command ids of the frame's menu, toolbar and tray menu.
enum frame_command : int {
    cmd_suggest = 32862,        // "给我们提建议"
    cmd_help = 57670,           // "帮助", "使用帮助"
    cmd_settings = 32873,       // "设置"
    cmd_tray_settings = 32880,  // tray "设置"
    cmd_open_main = 32879,      // tray "打开主窗口"
    cmd_exit = 57665,           // "退出"
    // On the toolbar but not handled by the frame, so shown disabled; named
    // after their pictures.
    cmd_back = 32878,
    cmd_forward = 32894,
    cmd_stop = 32893,
    cmd_refresh = 32805,
    cmd_home = 32800,
    cmd_play = 32872,
    cmd_pause = 32870,
};

// Ends the process with status. The close sequence ends the program this
// way, without returning through the event loop; tests replace it to watch.
using process_ender = std::function<void(int status)>;
void set_process_ender(process_ender ender);  // empty: the real one
void end_process(int status);

// The movie player the lesson window is given. The program installs the real
// one; without one (the frame's own tests) no lesson window is created.
void set_lesson_player_factory(player_factory factory);

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The creation handler. False when creation failed (the login was not
    // accepted); the login has then already asked the program to quit.
    bool OnCreate();

    const std::string& version_text() const { return version_; }
    bool closing() const { return closing_; }
    QToolBar* toolbar() const { return toolbar_; }
    CTrayIcon& tray_icon() { return tray_; }
    QWidget* lesson_window() const { return lesson_window_; }
    message_form* loading_window() const { return loading_; }

    // Once the frame is shown: the lesson window above it, active.
    void put_lesson_window_in_front();

    // Whether the frame has a handler for command id: commands without one
    // show disabled wherever they appear.
    virtual bool handles_command(int id) const;
    // Runs command id (from the menu, the toolbar or the tray menu).
    virtual void on_command(int id);
    // Builds tray menu 233: "打开主窗口", "设置", "退出", its commands going to
    // this frame. The caller owns the menu.
    std::unique_ptr<QMenu> load_tray_menu();

protected:
    // Runs the login dialog modally; 1 when it ended with OK.
    virtual int run_login();
    // Creates the lesson window (owned by the frame) once the login
    // succeeded; nullptr when no movie player is installed.
    virtual QWidget* create_lesson_window();
    // Stops, minimises and destroys the lesson window (close sequence).
    virtual void destroy_lesson_window();

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool create_toolbar();
    void set_toolbar_captions_and_size();
    void name_toolbar_buttons();
    QAction* command_action(int id, const QString& text, QObject* parent);
    void show_loading_window(const std::string& text);
    void show_before_its_windows();
    // Minimising hides the frame where a tray icon brings it back; without
    // one it stays in the taskbar so the program can still be reached.
    void apply_size_handling();
    // Shows the lesson window again when minimising the frame hid it.
    void bring_back_lesson_window();
    // Runs a dialog modally with the frame as its owner.
    template <class Dialog>
    void run_dialog();

    QToolBar* toolbar_ = nullptr;
    std::string version_;
    bool closing_ = false;
    bool started_ = false;  // shown once; size handling applies from then on
    bool dialog_running_ = false;
    bool lesson_hidden_with_frame_ = false;
    QPointer<QWidget> lesson_window_;
    QPointer<message_form> loading_;
    CTrayIcon tray_;
};

}  // namespace mirvo
