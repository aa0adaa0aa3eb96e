#include "client/app/main_frame.h"

#include "client/controls/control_access.h"
#include "client/forms/message_form.h"
#include "client/forms/say_to_us_form.h"
#include "client/forms/setup_form.h"
#include "client/login/login_form.h"
#include "client/login/login_steps.h"
#include "client/login/session.h"
#include "client/res/images.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/xmltext/xmltext.h"
#include "gui/desktop.h"
#include "gui/pump.h"
#include "gui/qt_text.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace mirvo {

namespace {

process_ender current_ender;

QString u8(const char* s) { return QString::fromUtf8(s); }

// Toolbar 127, in order; 0 is a separator.
constexpr int toolbar_entries[] = {cmd_suggest, cmd_help, cmd_settings, cmd_exit, 0,        cmd_back, cmd_forward,
                                   cmd_stop,    0,        cmd_refresh,  cmd_home, cmd_play, cmd_pause};
constexpr int toolbar_image_width = 16;
// The logout's reply is not read; waiting longer only delays the end.
constexpr std::chrono::seconds logout_time_limit{5};
constexpr int toolbar_image_height = 15;

}  // namespace

void set_process_ender(process_ender ender) { current_ender = std::move(ender); }

void end_process(int status) {
    if (current_ender) {
        current_ender(status);
        return;
    }
    std::fflush(nullptr);
    ::_exit(status);
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {}
CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate() {
    if (!create_toolbar()) return false;

    version_ = recorded_client_version(program_folder());
    setWindowIcon(program_icon());
    setWindowTitle(qstr(gbk_lit("Mirvo学习娱乐空间 版本") + version_));

    set_toolbar_captions_and_size();
    closing_ = false;

    if (run_login() != 1) return false;

    show_before_its_windows();
    show_loading_window({});
    lesson_window_ = create_lesson_window();
    if (lesson_window_) lesson_window_->show();
    tray_.PutIconInTray(this, program_icon());
    delete loading_.data();
    started_ = true;
    return true;
}

void CMainFrame::show_before_its_windows() {
    // Window managers tie a window to its owner (and keep it above) only
    // when the owner is on screen as the window comes up (mutter, weston's
    // manager for X programs): shown later, the frame covered the lesson.
    showMaximized();
}

void CMainFrame::put_lesson_window_in_front() {
    if (!lesson_window_ || !lesson_window_->isVisible()) return;
    // The frame and the loading window had the activation before it; a
    // window manager that guards against windows taking it (mutter) would
    // leave it with them.
    lesson_window_->raise();
    lesson_window_->activateWindow();
}

int CMainFrame::run_login() {
    Clogin_form login;
    const int answer = login.exec() == QDialog::Accepted ? 1 : 2;
    // Said for as long as the program runs, not only while the login shows.
    if (!login.versions_note().empty()) setWindowTitle(windowTitle() + qstr(login.versions_note()));
    return answer;
}

namespace {
player_factory& lesson_player_factory() {
    static player_factory factory;
    return factory;
}
}  // namespace

void set_lesson_player_factory(player_factory factory) { lesson_player_factory() = std::move(factory); }

QWidget* CMainFrame::create_lesson_window() {
    if (!lesson_player_factory()) return nullptr;
    return new lesson_form(this, lesson_player_factory());
}

void CMainFrame::destroy_lesson_window() {
    if (!lesson_window_) return;
    if (auto* lessons = qobject_cast<lesson_form*>(lesson_window_.data())) lessons->stop_playback_timer();
    // Destroying the window stops its timers.
    lesson_window_->showMinimized();
    delete lesson_window_.data();
}

QAction* CMainFrame::command_action(int id, const QString& text, QObject* parent) {
    auto* action = new QAction(text, parent);
    action->setData(id);
    // Commands without a handler show disabled, wherever they appear.
    action->setEnabled(handles_command(id));
    connect(action, &QAction::triggered, this, [this, id] { on_command(id); });
    return action;
}

bool CMainFrame::create_toolbar() {
    // Menu 127.
    QMenu* functions = menuBar()->addMenu(u8("功能列表"));
    functions->addAction(command_action(cmd_settings, u8("设置"), functions));
    // The Ctrl+X after the tab is only text: there is no such shortcut.
    functions->addAction(command_action(cmd_exit, u8("&退出\tCtrl+X(X)"), functions));
    QMenu* help = menuBar()->addMenu(u8("帮助"));
    help->addAction(command_action(cmd_help, u8("使用帮助"), help));

    // Toolbar 127: flat buttons docked at the top, with a gripper and tips.
    const QPixmap strip(":/images/toolbar127.png");
    if (strip.isNull()) return false;
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName("toolbar127");
    toolbar_->setMovable(true);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(toolbar_image_width, toolbar_image_height));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    int image = 0;
    for (int id : toolbar_entries) {
        if (id == 0) {
            toolbar_->addSeparator();
            continue;
        }
        QAction* action = command_action(id, QString(), toolbar_);
        action->setIcon(QIcon(strip.copy(image * toolbar_image_width, 0, toolbar_image_width, toolbar_image_height)));
        ++image;
        toolbar_->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, toolbar_);
    return true;
}

void CMainFrame::set_toolbar_captions_and_size() {
    const char* captions[] = {"给我们提建议", "帮助", "设置", "退出"};
    const QList<QAction*> actions = toolbar_->actions();
    for (int i = 0; i < 4 && i < actions.size(); ++i) {
        actions[i]->setText(u8(captions[i]));
        actions[i]->setToolTip(u8(captions[i]));
    }
    name_toolbar_buttons();
    // Every button as wide as the widest plus 10, as high as the highest.
    int widest = 0, highest = 0;
    QList<QToolButton*> buttons;
    for (QAction* a : actions) {
        if (a->isSeparator()) continue;
        if (auto* b = qobject_cast<QToolButton*>(toolbar_->widgetForAction(a))) {
            buttons.push_back(b);
            widest = std::max(widest, b->sizeHint().width());
            highest = std::max(highest, b->sizeHint().height());
        }
    }
    for (QToolButton* b : buttons) b->setFixedSize(widest + 10, highest);
    toolbar_->setIconSize(QSize(toolbar_image_width, toolbar_image_height));
}

// The buttons without captions are named after their pictures, for screen
// readers; those that work take the keyboard, which presses them with Space
// or Enter.
void CMainFrame::name_toolbar_buttons() {
    static const std::pair<int, const char*> picture_names[] = {
        {cmd_back, "后退"}, {cmd_forward, "前进"}, {cmd_stop, "停止"},  {cmd_refresh, "刷新"},
        {cmd_home, "主页"}, {cmd_play, "播放"},    {cmd_pause, "暂停"},
    };
    for (QAction* a : toolbar_->actions()) {
        auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(a));
        if (a->isSeparator() || !button) continue;
        for (const auto& [id, name] : picture_names) {
            if (a->data().toInt() != id) continue;
            a->setToolTip(u8(name));
            button->setAccessibleName(u8(name));
        }
        if (a->isEnabled()) {
            button->setFocusPolicy(Qt::TabFocus);
            press_on_enter(button);
        }
    }
}

std::unique_ptr<QMenu> CMainFrame::load_tray_menu() {
    auto menu = std::make_unique<QMenu>();
    menu->addAction(command_action(cmd_open_main, u8("打开主窗口"), menu.get()));
    menu->addAction(command_action(cmd_tray_settings, u8("设置"), menu.get()));
    menu->addAction(command_action(cmd_exit, u8("退出"), menu.get()));
    return menu;
}

bool CMainFrame::handles_command(int id) const {
    switch (id) {
        case cmd_suggest:
        case cmd_help:
        case cmd_settings:
        case cmd_tray_settings:
        case cmd_open_main:
        case cmd_exit:
            return true;
        default:
            return false;
    }
}

void CMainFrame::on_command(int id) {
    if (!handles_command(id)) return;
    switch (id) {
        case cmd_suggest:
            run_dialog<say_to_us_form>();
            break;
        case cmd_settings:
        case cmd_tray_settings:
            run_dialog<setup_form>();
            break;
        case cmd_help:
            the_desktop().open(program_folder() + "\\help\\help.htm");
            break;
        case cmd_open_main:
            showMaximized();
            raise();
            activateWindow();
            bring_back_lesson_window();
            break;
        case cmd_exit:
            close();
            break;
        default:
            break;
    }
}

void CMainFrame::paintEvent(QPaintEvent*) {
    // The lesson window covers the frame; its own area shows nothing.
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && started_ && !closing_) {
        // Let the state change settle before answering it.
        QTimer::singleShot(0, this, [this] { apply_size_handling(); });
    }
}

template <class Dialog>
void CMainFrame::run_dialog() {
    // The tray menu stays usable while a dialog runs; one at a time.
    if (dialog_running_ || closing_) return;
    dialog_running_ = true;
    Dialog dialog(this);
    dialog.exec();
    dialog_running_ = false;
}

void CMainFrame::apply_size_handling() {
    if (closing_) return;
    if (windowState() & Qt::WindowMinimized) {
        // The lesson window is a window of its own: it goes with the frame.
        if (lesson_window_ && lesson_window_->isVisible()) {
            lesson_hidden_with_frame_ = true;
            lesson_window_->hide();
        }
        if (tray_.enabled()) hide();
        return;
    }
    if (isVisible() && !(windowState() & Qt::WindowMaximized)) showMaximized();
    bring_back_lesson_window();
}

void CMainFrame::bring_back_lesson_window() {
    if (!lesson_hidden_with_frame_ || !isVisible() || (windowState() & Qt::WindowMinimized)) return;
    lesson_hidden_with_frame_ = false;
    if (!lesson_window_) return;
    // A window manager may have minimised it along with the frame it belongs
    // to; shown so, it would stay minimised.
    lesson_window_->setWindowState(lesson_window_->windowState() & ~Qt::WindowMinimized);
    lesson_window_->show();
    lesson_window_->raise();
    lesson_window_->activateWindow();
}

void CMainFrame::show_loading_window(const std::string& text) {
    loading_ = new message_form(this);
    if (!text.empty()) loading_->set_status_text(text);
    loading_->show_now();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The sequence ends the process itself; the window is never closed the
    // ordinary way.
    event->ignore();
    if (closing_) return;

    closing_ = true;
    if (tray_.enabled())
        hide();
    else
        showMinimized();

    show_loading_window(load_string(str::please_wait));

    // The logout pumps events while it waits: the lesson window must not
    // start another lesson or poll meanwhile.
    if (auto* lessons = qobject_cast<lesson_form*>(lesson_window_.data())) lessons->stop_playback_timer();
    // The reply does not matter; a server that is gone must not keep the
    // program from ending for more than a few seconds.
    const std::string logout_folder = "logout";
    http_get_text(build_request_url("logout", &logout_folder), logout_time_limit);

    if (loading_) {
        loading_->set_status_text(load_string(str::releasing));
        loading_->repaint();
    }
    destroy_lesson_window();
    delete loading_.data();

    tray_.remove();
    hide();
    post_quit(0);
    end_process(1);
}

}  // namespace mirvo
