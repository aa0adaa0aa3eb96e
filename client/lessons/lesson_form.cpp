#include "client/lessons/lesson_form.h"

#include "client/controls/control_access.h"
#include "client/controls/html_static.h"
#include "client/forms/message_form.h"
#include "client/forms/new_message_form.h"
#include "client/lessons/branch_lines.h"
#include "client/lessons/programs.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "gui/desktop.h"
#include "gui/qt_text.h"
#include "gui/window_roles.h"
#include "ui_lesson_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QTimerEvent>
#include <QTreeWidget>

#include <new>

namespace mirvo {

namespace {

// Control id of the movie player in the window's template.
constexpr int id_player = 1166;

constexpr int playback_period_ms = 700;
// The player's place when playback has gone on to a program entry.
constexpr int program_player_width = 830;
constexpr int program_player_height = 470;
// The remembered client size before the first resize after start-up.
constexpr QSize start_client_size(800, 600);

// The system's volume program, started by the (hidden) volume button.
#ifdef _WIN32
constexpr char volume_program[] = "Sndvol32.exe";
#else
constexpr char volume_program[] = "pavucontrol";
#endif

// Tree items keep the GBK text they show, so a lookup by title compares the
// program's own bytes and never a round trip through Unicode.
constexpr int gbk_text_role = Qt::UserRole;

// Parent: the tree for category items, an item for the others.
template <class Parent>
QTreeWidgetItem* add_item(Parent* parent, const std::string& text) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, qstr(text));
    item->setToolTip(0, item->text(0));
    item->setData(0, gbk_text_role, QByteArray::fromStdString(text));
    return item;
}

// What starting a catalogue program asks of the window. The loading window
// above everything steps aside while the user is asked.
class program_binding final : public program_window {
public:
    program_binding(QWidget& form, message_form& loading) : form_(form), loading_(loading) {}
    void set_caption(const std::string& text) override { form_.setWindowTitle(qstr(text)); }
    bool ask_yes_no(const std::string& text) override {
        loading_.hide();
        const bool yes =
            the_desktop().message_box(&form_, text, application_title(), box_kind::yes_no) == box_answer::yes;
        if (yes) loading_.show_now();
        return yes;
    }
    void launch(const std::string& path, const std::vector<std::string>& args,
                const std::string& working_folder) override {
        QStringList list;
        for (const std::string& a : args) list << qstr(a);
        the_desktop().start_program(path, list, working_folder);
    }

private:
    QWidget& form_;
    message_form& loading_;
};

}  // namespace

// What the playback logic asks of the window, done with its widgets.
class lesson_form::window_binding final : public lesson_window {
public:
    explicit window_binding(lesson_form& form) : form_(form) {}

    void set_caption(const std::string& text) override { form_.setWindowTitle(qstr(text)); }
    void show_toolbar(bool show) override { form_.show_toolbar(show); }
    void show_busy(bool show) override {
        form_.ui_->busy_text->setVisible(show);
        // The lesson request blocks the window; paint the text before it.
        if (show) form_.ui_->busy_text->repaint();
    }
    void start_playback_timer() override { form_.playback_timer_.start(playback_period_ms, &form_); }
    void stop_playback_timer() override { form_.playback_timer_.stop(); }
    screen_point cursor_position() override {
        const QPoint p = form_.cursor_ ? form_.cursor_() : QCursor::pos();
        return {p.x(), p.y()};
    }
    bool keyboard_in_toolbar() override { return form_.keyboard_in_toolbar(); }
    void enter_lesson_view() override {
        form_.player_set_for_program_ = false;
        // The keyboard goes with the lesson: from the toolbar or the tree
        // that started it (both hide now), and at start-up, where the window
        // would give it to its first link.
        form_.focus_player();
        form_.ui_->tree->hide();
        form_.showMaximized();
        form_.show_toolbar(false);
    }
    void leave_for_program() override { form_.leave_for_program(); }
    void start_program(const std::string& file_name) override { form_.start_program(file_name); }
    void tick_notices() override { form_.tick_notices(); }

private:
    lesson_form& form_;
};

// What the notices ask of the window, done with its links and the notice
// window.
class lesson_form::notices_binding final : public notices_view {
public:
    explicit notices_binding(lesson_form& form) : form_(form) {}

    hyperlink& notice_link() override { return *form_.ui_->notice_link; }
    hyperlink& news_link(int k) override { return *form_.news_links_.at(static_cast<std::size_t>(k)); }
    void repaint_notice_link() override { form_.ui_->notice_link->repaint(); }
    void show_notice_window() override {
        if (form_.notice_window_) form_.notice_window_->show();
    }
    std::string caption() override { return gbk(form_.windowTitle()); }
    void set_caption(const std::string& text) override { form_.setWindowTitle(qstr(text)); }

private:
    lesson_form& form_;
};

lesson_form::lesson_form(QWidget* parent, player_factory make_player, cursor_source cursor)
    : QDialog(parent), ui_(std::make_unique<Ui::lesson_form>()), cursor_(std::move(cursor)) {
    ui_->setupUi(this);
    news_links_ = {ui_->news_link_1, ui_->news_link_2, ui_->news_link_3, ui_->news_link_4, ui_->news_link_5};
    // A caption with system menu and maximise box, and no sizing border.
    // Qt can drop the sizing border only on Windows (the fixed-size dialog
    // hint, which keeps the maximise box); on X11 the window manager decides,
    // since a fixed size there would also take maximising away.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    present_as_main_window(this);
    if (make_player) {
        const player_parts parts = make_player(this);
        player_widget_ = parts.widget;
        player_ = parts.player;
    }
    if (player_widget_) {
        player_widget_->setProperty("control_id", id_player);
        player_widget_->lower();  // under the toolbar, the tree and the links
    }
    binding_ = std::make_unique<window_binding>(*this);
    // Without a player nothing can play; a player that never plays stands in
    // so the logic has one to ask.
    static struct : movie_player {
        bool IsPlaying() override { return false; }
        std::int32_t TotalFrames() override { return 0; }
        std::int32_t CurrentFrame() override { return 0; }
        void LoadMovie(std::int32_t, const std::string&) override {}
        void SetBackgroundColor(std::int32_t) override {}
        void Play() override {}
    } no_player;
    playback_ = std::make_unique<lesson_playback>(*binding_, player_ ? *player_ : no_player);
    notices_binding_ = std::make_unique<notices_binding>(*this);
    notices_ = std::make_unique<lesson_notices>(*notices_binding_, playback_->state());

    draw_branch_lines(ui_->tree);
    for (QPushButton* b : toolbar_buttons()) press_on_enter(b);
    press_on_enter(ui_->volume_button);
    if (player_widget_ && player_widget_->accessibleName().isEmpty())
        player_widget_->setAccessibleName(QString::fromUtf8("课程播放器"));

    connect(ui_->list_button, &QPushButton::clicked, this, &lesson_form::toggle_tree);
    connect(ui_->play_button, &QPushButton::clicked, this, &lesson_form::play_selected);
    connect(ui_->previous_button, &QPushButton::clicked, this, &lesson_form::previous_movie);
    connect(ui_->next_button, &QPushButton::clicked, this, &lesson_form::next_movie);
    connect(ui_->volume_button, &QPushButton::clicked, this, &lesson_form::start_volume_program);
    connect(ui_->tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        // The tree goes on to expand or collapse items that have children.
        if (item && item->childCount() == 0) play_selected();
    });
    // A right click acts as a left click anywhere in the window, the player
    // included, so no context menu ever comes up.
    qApp->installEventFilter(this);

    // Start-up, in the window's order.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    layout_children(width(), height());
    // The state is set after showing; from here on every resize updates it.
    client_size_ = start_client_size;
    load_catalogue();
    apply_link_font();
    notices_->init_notice_link();
    notices_->load_ads();
    notices_->rotate_news_links();
    play_selected();
    create_notice_window();
}

lesson_form::~lesson_form() {
    qApp->removeEventFilter(this);
    playback_timer_.stop();
}

QTreeWidget* lesson_form::tree() const { return ui_->tree; }

void lesson_form::load_catalogue() {
    ui_->tree->clear();
    playback_->load_catalogue();
    fill_tree();
}

void lesson_form::fill_tree() {
    const catalogue& cat = playback_->entries();
    QTreeWidget* tree = ui_->tree;
    tree->setUpdatesEnabled(false);
    for (const catalogue_category& category : cat.categories) {
        QTreeWidgetItem* category_item = add_item(tree, category.title + ".");
        for (const catalogue_subcategory& sub : category.subcategories) {
            QTreeWidgetItem* sub_item = add_item(category_item, sub.title + ".");
            for (std::size_t i = sub.first; i < sub.first + sub.count; ++i) add_item(sub_item, cat.entries[i].title);
            sub_item->setExpanded(true);
        }
        category_item->setExpanded(true);
    }
    tree->setUpdatesEnabled(true);
}

void lesson_form::apply_link_font() {
    QFont font(QString::fromUtf8("宋体"));
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    ui_->notice_link->setFont(font);
    for (CHtmlStatic* link : news_links_) link->setFont(font);
}

void lesson_form::create_notice_window() {
    notice_window_ = new (std::nothrow) new_message_form(this);
    if (!notice_window_)
        the_desktop().message_box(this, gbk_lit("创建信息窗口时发生错误"), application_title(), box_kind::ok);
}

void lesson_form::play_selected() {
    const QList<QTreeWidgetItem*> selected = ui_->tree->selectedItems();
    const std::string title =
        selected.isEmpty() ? std::string() : selected.front()->data(0, gbk_text_role).toByteArray().toStdString();
    playback_->play_selected(title);
}

void lesson_form::start_lesson(const std::string& title) { playback_->start_lesson(title); }

std::array<QPushButton*, 4> lesson_form::toolbar_buttons() const {
    return {ui_->list_button, ui_->play_button, ui_->previous_button, ui_->next_button};
}

bool lesson_form::keyboard_in_toolbar() const {
    const QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    for (QPushButton* b : toolbar_buttons())
        if (focus == b) return true;
    return focus == ui_->notice_link;
}

bool lesson_form::in_player(const QWidget* w) const {
    return player_widget_ && w && (w == player_widget_ || player_widget_->isAncestorOf(w));
}

void lesson_form::focus_player() {
    if (!player_widget_) return;
    // The player's own widget may only hold the one that takes keys (the
    // web view); the first such one inside gets the focus.
    QWidget* target = player_widget_;
    if (player_widget_->focusPolicy() == Qt::NoFocus && !player_widget_->focusProxy()) {
        for (QWidget* w : player_widget_->findChildren<QWidget*>()) {
            if (w->focusPolicy() != Qt::NoFocus) {
                target = w;
                break;
            }
        }
    }
    target->setFocus(Qt::OtherFocusReason);
}

// The player's page keeps Tab for itself: from the player, Tab and
// Shift+Tab go on to the next control of the window outside it.
bool lesson_form::tab_out_of_player(bool next) {
    QWidget* from = QApplication::focusWidget();
    for (QWidget* w = next ? from->nextInFocusChain() : from->previousInFocusChain(); w && w != from;
         w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
        if (in_player(w) || w->window() != this || !(w->focusPolicy() & Qt::TabFocus)) continue;
        if (!w->isVisibleTo(this) || !w->isEnabled()) continue;
        w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

void lesson_form::show_toolbar(bool show) {
    // Hidden controls lose the keyboard to whatever Qt finds next; the
    // lesson is the place it belongs.
    if (!show && keyboard_in_toolbar()) focus_player();
    for (QWidget* w : {static_cast<QWidget*>(ui_->play_button), static_cast<QWidget*>(ui_->list_button),
                       static_cast<QWidget*>(ui_->next_button), static_cast<QWidget*>(ui_->previous_button)})
        w->setVisible(show);
    if (show) set_notice_link();
    ui_->notice_link->setVisible(show);
    ui_->toolbar_frame->setVisible(show);
}

void lesson_form::toggle_tree() {
    if (ui_->tree->isVisible()) {
        ui_->tree->hide();
    } else {
        ui_->tree->show();
        ui_->tree->repaint();
    }
}

void lesson_form::start_volume_program() { the_desktop().start_program(volume_program, {}, ""); }

void lesson_form::previous_movie() { playback_->previous(); }
void lesson_form::next_movie() { playback_->next(); }
void lesson_form::tick() { playback_->tick(); }
void lesson_form::stop_playback_timer() { playback_timer_.stop(); }

void lesson_form::timerEvent(QTimerEvent* event) {
    // Only the playback timer is ever started.
    event->accept();
    tick();
}

void lesson_form::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layout_children(event->size().width(), event->size().height());
}

void lesson_form::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Some window managers maximise a window without Qt passing the new size
    // on as a resize: lay the children out for the size the window has once
    // the state change has settled.
    if (event->type() == QEvent::WindowStateChange) {
        QTimer::singleShot(0, this, [this] {
            if (size() != client_size_) layout_children(width(), height());
        });
    }
}

void lesson_form::layout_children(int w, int h) {
    client_size_ = QSize(w, h);
    if (player_set_for_program_) {
        if (program_normal_size_ && *program_normal_size_ != client_size_)
            player_set_for_program_ = false;
        else
            program_normal_size_ = client_size_;
    }
    if (player_widget_) {
        if (player_set_for_program_)
            player_widget_->setGeometry(0, 0, program_player_width, program_player_height);
        else
            player_widget_->setGeometry(0, 0, w, h - 20);
    }
    for (int k = 0; k < lesson_notices::news_link_count; ++k)
        news_links_[static_cast<std::size_t>(k)]->setGeometry(200 * k, h - 19, 200, h);
    ui_->tree->setGeometry(0, 37, 350, h - 53);
}

void lesson_form::leave_for_program() {
    // Going on again before showNormal's resize came changes nothing.
    if (!player_set_for_program_) {
        player_set_for_program_ = true;
        // A window in its normal state gets no resize from showNormal.
        program_normal_size_.reset();
        if (!isMaximized()) program_normal_size_ = size();
    }
    showNormal();
    if (player_widget_) player_widget_->setGeometry(0, 0, program_player_width, program_player_height);
}

void lesson_form::closeEvent(QCloseEvent* event) {
    // Closing only brings the window back to its normal state, and calls off
    // a program's start that waits for the service.
    event->ignore();
    cancel_program_start();
    showNormal();
}

void lesson_form::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();
            cancel_program_start();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

bool lesson_form::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) return key_pressed(watched, static_cast<QKeyEvent*>(event));
    const bool mouse =
        type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
    if (!mouse && type != QEvent::ContextMenu) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget))) return false;
    if (type == QEvent::ContextMenu) return true;

    auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() != Qt::RightButton) return false;
    // Only pressing (and the release that completes the click) turns left.
    // The second press of a right double-click is no left double-click; Qt's
    // item views would take it for one whatever the button, so it goes
    // nowhere.
    if (type == QEvent::MouseButtonDblClick) return true;
    Qt::MouseButtons buttons = me->buttons();
    if (buttons & Qt::RightButton) buttons = (buttons & ~Qt::RightButton) | Qt::LeftButton;
    QMouseEvent left(type, me->position(), me->scenePosition(), me->globalPosition(), Qt::LeftButton, buttons,
                     me->modifiers(), me->pointingDevice());
    QCoreApplication::sendEvent(widget, &left);
    return true;
}

// Every key in the window brings the toolbar back; Tab leaves the player,
// and Enter on the tree does what a double-click does.
bool lesson_form::key_pressed(QObject* watched, QKeyEvent* key) {
    // A key that a control passes on reaches its parents too: act once, where
    // the keyboard is.
    auto* widget = qobject_cast<QWidget*>(watched);
    QWidget* focus = QApplication::focusWidget();
    if (!widget || widget != (focus ? focus : this) || widget->window() != this) return false;
    playback_->key_pressed();

    const bool plain = (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == Qt::NoModifier;
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && plain && in_player(widget))
        return tab_out_of_player(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));

    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && plain && widget == ui_->tree) {
        if (QTreeWidgetItem* item = ui_->tree->currentItem()) {
            if (item->childCount() > 0) {
                item->setExpanded(!item->isExpanded());
            } else {
                ui_->tree->setCurrentItem(item);  // the played entry is the selected one
                play_selected();
            }
        }
        return true;
    }
    return false;
}

void lesson_form::start_program(const std::string& file_name) {
    // The start pumps events while it waits: a second one meanwhile would
    // run two at once.
    if (program_start_) return;
    transfer_cancel work;
    message_form loading(this);
    loading.set_status_text(load_string(str::please_wait));
    loading.set_cancel_handler([&work] { work.cancel(); });
    loading.show_now();
    program_start_ = &work;
    program_binding binding(*this, loading);
    mirvo::start_program(binding, file_name, playback_->state().online_text);
    program_start_ = nullptr;
}

void lesson_form::cancel_program_start() {
    if (program_start_) program_start_->cancel();
}

void lesson_form::tick_notices() { notices_->tick_notices(); }

void lesson_form::set_notice_link() { notices_->set_notice_link(); }

}  // namespace mirvo
