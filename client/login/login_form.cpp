#include "client/login/login_form.h"

#include "client/controls/control_access.h"
#include "client/controls/html_static.h"
#include "client/controls/qt_colour.h"
#include "client/controls/static_ex.h"
#include "client/controls/xp_button.h"
#include "client/login/login_steps.h"
#include "client/login/profile.h"
#include "client/login/session.h"
#include "client/res/coded_resources.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/sign/update_identity.h"
#include "common/xmltext/xmltext.h"
#include "gui/desktop.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "ui_login_form.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

#include <cstdio>

namespace mirvo {

namespace {

constexpr colour_ref dialog_background = rgb(228, 239, 255);
constexpr colour_ref input_frame = rgb(100, 0, 255);
constexpr colour_ref link_colour = rgb(0, 0, 255);

Ui::login_form* make_ui(QDialog* dialog) {
    auto* ui = new Ui::login_form;
    ui->setupUi(dialog);
    return ui;
}

// Clears a flag when the scope ends, however it ends.
struct running_mark {
    bool& flag;
    explicit running_mark(bool& f) : flag(f) { flag = true; }
    ~running_mark() { flag = false; }
};

}  // namespace

std::string registration_page_url() { return MIRVO_REG_URL; }

Clogin_form::Clogin_form(QWidget* parent)
    : QDialog(parent),
      ui_(make_ui(this)),
      status_(ui_->status_label),
      progress_(ui_->download_progress),
      candidates_(coded_server_candidates()) {
    // Its own taskbar button, above every other window, no help button.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(size());
    // The Qt layer ends the program itself on cancel; the dialog must not be
    // destroyed behind its owner's back.
    setAttribute(Qt::WA_DeleteOnClose, false);

    connect(ui_->login_button, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(ui_->cancel_button, &QPushButton::clicked, this, [this] { reject(); });
    connect(ui_->register_button, &QPushButton::clicked, this, [this] { OnRegister(); });
    connect(ui_->help_button, &QPushButton::clicked, this, [this] { OnHelp(); });
    ui_->auto_login_label->installEventFilter(this);
    // Enter presses the button the keyboard is on (帮助 opens help); from
    // anywhere else it logs in.
    for (QPushButton* b : {ui_->login_button, ui_->cancel_button, ui_->register_button, ui_->help_button})
        press_on_enter(b);
    name_by_label(ui_->user_label, ui_->user_combo);
    name_by_label(ui_->password_label, ui_->password_edit);
    name_by_label(ui_->auto_login_label, ui_->auto_login_check);

    OnInitDialog();
}

Clogin_form::~Clogin_form() = default;

void Clogin_form::OnInitDialog() {
    setWindowIcon(QIcon(":/images/icon127_16.png"));
    ui_->login_button->SetIcon(QIcon(":/images/icon204.png"));
    ui_->cancel_button->SetIcon(QIcon(":/images/icon205.png"));
    for (CStaticEx* s : {ui_->user_label, ui_->password_label, ui_->status_label, ui_->auto_login_label})
        s->SetBackColour(dialog_background);
    // The link: string 281, pointing at the registration page; a click opens
    // it through the control.
    ui_->register_link->SetBackgroundColours(dialog_background);
    ui_->register_link->SetLinkColours(link_colour, true, link_colour);
    ui_->register_link->SetHyperlinkText(load_string(str::register_user), registration_page_url());
    countdown_ = 0;

    const user_profile profile = read_user_profile(program_folder());
    for (const std::string& name : profile.users) ui_->user_combo->addItem(qstr(name));
    ui_->user_combo->setEditText(qstr(profile.default_user));
    session().user = profile.default_user;
    ui_->user_combo->view()->setMinimumWidth(30);

    if (profile.auto_login) {
        ui_->auto_login_check->setChecked(true);
        ui_->password_edit->setText(qstr(profile.password));
    }

    session().request_page = request_page_name();

    if (ui_->auto_login_check->isChecked()) {
        set_status(load_string(str::auto_login_countdown) + gbk_lit("3 秒"));
        countdown_timer_.start(1000, this);
    }
}

void Clogin_form::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), qcolour(dialog_background));
    p.setPen(qcolour(input_frame));
    p.setBrush(qcolour(dialog_background));
    // The frame around the input area: 15 from the sides, 65 from the top,
    // 50 from the bottom.
    p.drawRect(QRect(QPoint(15, 65), QPoint(width() - 15 - 1, height() - 50 - 1)));
}

void Clogin_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui_->password_edit->setFocus();
}

bool Clogin_form::eventFilter(QObject* watched, QEvent* event) {
    // A click on the label "下次自动登录" works the check box beside it.
    if (watched == ui_->auto_login_label && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ui_->auto_login_check->toggle();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Clogin_form::timerEvent(QTimerEvent* event) {
    if (event->timerId() != countdown_timer_.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    if (!ui_->auto_login_check->isChecked()) {
        // Switched off: the last countdown text stays.
        countdown_timer_.stop();
        return;
    }
    ++countdown_;
    if (countdown_ >= 3) {
        countdown_timer_.stop();
        OnOK();
        return;
    }
    set_status(load_string(str::auto_login_countdown) + int_to_text(3 - countdown_) + gbk_lit("  秒"));
}

void Clogin_form::set_status(const std::string& text) {
    status_.set_text(text);
    status_.repaint();
}

void Clogin_form::enable_inputs(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->user_combo, ui_->password_edit, ui_->login_button,
                                                      ui_->cancel_button, ui_->register_button})
        w->setEnabled(enable);
}

void Clogin_form::select_server() {
    session().server_base_url = first_answering_server(candidates_);
    enable_inputs(true);
}

void Clogin_form::OnOK() {
    // The procedure pumps events while it codes the password and fetches the
    // download list; a click, Enter or countdown tick then must not start a
    // second, nested login.
    if (running_ || ended_) return;
    running_mark mark(running_);

    countdown_timer_.stop();
    const std::string user = gbk(ui_->user_combo->currentText());
    const std::string password = gbk(ui_->password_edit->text());
    enable_inputs(false);
    const retry_focus focus = attempt_login(user, password);
    if (ended_) return;
    // Focus can only go to a control once it is enabled again.
    enable_inputs(true);
    if (focus.control) focus.control->setFocus();
    if (focus.select_password) {
        ui_->password_edit->selectAll();
        ui_->password_edit->end(true);  // the selection scrolled into view
    }
}

Clogin_form::retry_focus Clogin_form::attempt_login(const std::string& user, const std::string& password) {
    if (user.empty()) {
        set_status(load_string(str::no_user_name));
        return {ui_->user_combo};
    }
    set_status(load_string(str::checking_connection));
    select_server();
    const std::string base = session().server_base_url;
    if (base.empty()) {
        set_status(load_string(str::no_server));
        return {};
    }
    set_status(load_string(str::checking_version));
    const std::string folder = program_folder();
    take_over_updater(folder);
    offer_update(base, folder);
    if (ended_) return {};
    return authenticate(base, folder, user, password);
}

void Clogin_form::offer_update(const std::string& base, const std::string& folder) {
    const version_check version = check_version(base, folder);
    warn_if_stale(version);
    if (!version.newer) return;
    const box_answer answer = the_desktop().message_box(this, load_string(str::new_version) + version.prompt,
                                                        application_title(), box_kind::yes_no);
    if (ended_ || answer != box_answer::yes) return;
    // The result is not examined: without a list (none fetched, or one not
    // signed as the build requires) the updater says it found no update.
    const bool listed = fetch_download_list(&progress_, &status_, base, folder, "/dl/download.xml");
    // The download pumps events: a user who closed the dialog meanwhile has
    // ended the program, and gets no updater.
    if (ended_) return;
    if (listed) note_expected_target(folder, client_target);
    the_desktop().start_program(folder + updater_relative_path, {}, folder);
    post_quit(1);
    ended_ = true;
    QDialog::reject();
}

// An old or unsigned version document may be someone holding newer
// releases back: the caption says so, and so does the log.
void Clogin_form::warn_if_stale(const version_check& version) {
    const std::string note = stale_versions_note(version);
    if (note.empty()) return;
    versions_note_ = note;
    setWindowTitle(qstr(gbk(windowTitle()) + note));
    std::fprintf(stderr, "mirvo: the service's version document is %s\n",
                 version.age_days < 0 ? "not signed with the update key"
                                      : ("signed " + std::to_string(version.age_days) + " days ago").c_str());
}

Clogin_form::retry_focus Clogin_form::authenticate(const std::string& base, const std::string& folder,
                                                   const std::string& user, const std::string& password) {
    set_status(load_string(str::checking_password));
    const std::string url = login_request_url(base, session().request_page, user, password);
    // The user may have closed the dialog while the password was coded.
    if (ended_) return {};
    switch (read_login_reply(http_get_text(url))) {
        case login_outcome::no_answer:
            set_status(load_string(str::login_error));
            return {ui_->user_combo};
        case login_outcome::refused:
            set_status(load_string(str::wrong_password));
            return {ui_->password_edit, true};
        case login_outcome::accepted:
            set_status(load_string(str::login_ok));
            remember_login(folder, user, password);
            return {};
    }
    return {};
}

void Clogin_form::remember_login(const std::string& folder, const std::string& user, const std::string& password) {
    session().user = user;
    session().password = password;
    std::vector<std::string> listed;
    for (int i = 0; i < ui_->user_combo->count(); ++i) listed.push_back(gbk(ui_->user_combo->itemText(i)));
    write_user_profile(listed, user, password, ui_->auto_login_check->isChecked(), &status_, folder);
    set_status({});
    ended_ = true;
    accept();
}

void Clogin_form::reject() {
    // Cancel, Escape and the close box end the program.
    post_quit(1);
    ended_ = true;
    countdown_timer_.stop();
    QDialog::reject();
}

void Clogin_form::OnRegister() {
    select_server();
    if (!session().server_base_url.empty()) open_web_address(session().server_base_url + "/reg.aspx");
}

void Clogin_form::OnHelp() { the_desktop().open(program_folder() + "\\help\\help.htm"); }

}  // namespace mirvo
