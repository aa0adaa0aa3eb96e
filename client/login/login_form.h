// Clogin_form: the login dialog, the client's first window. Behind its one
// button lies the start-up conversation with the service: choosing a server,
// taking over a new updater, the version check with the hand-over to the
// updater, and the login itself.
#pragma once

#include "gui/qt_status.h"

#include <QBasicTimer>
#include <QDialog>

#include <memory>
#include <string>
#include <vector>

namespace Ui {
class login_form;
}

namespace mirvo {

struct version_check;

class Clogin_form : public QDialog {
    Q_OBJECT
public:
    explicit Clogin_form(QWidget* parent = nullptr);
    ~Clogin_form() override;

    // What the login found wrong with the service's version document (an
    // old or unsigned one), for the caption of the windows that follow;
    // empty when nothing was.
    const std::string& versions_note() const { return versions_note_; }

    // Tries the server candidates in order and keeps the first that answers
    // as the session's server base URL (empty when none does); then enables
    // the input controls.
    void select_server();
    // The login procedure (login button, Enter, end of the countdown). A
    // login that is already running ignores a second start.
    void OnOK();

    // The servers select_server tries; the coded candidates by default.
    void set_server_candidates(std::vector<std::string> candidates) { candidates_ = std::move(candidates); }
    bool login_running() const { return running_; }
    int countdown() const { return countdown_; }
    bool countdown_active() const { return countdown_timer_.isActive(); }

    Ui::login_form* controls() const { return ui_.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Cancel button, Escape and the close box: the program ends with code 1.
    void reject() override;

private:
    // Where the keyboard goes when a login attempt leaves the dialog open.
    struct retry_focus {
        QWidget* control = nullptr;
        bool select_password = false;
    };

    // The steps of a login: a server, the updater and version check, then
    // the user's name and password.
    retry_focus attempt_login(const std::string& user, const std::string& password);
    // Asks whether to update when the server has a newer version; a yes
    // fetches the download list, starts the updater and ends the program.
    void offer_update(const std::string& base, const std::string& folder);
    void warn_if_stale(const version_check& version);
    retry_focus authenticate(const std::string& base, const std::string& folder, const std::string& user,
                             const std::string& password);
    // The session values and the profile after an accepted login; ends the
    // dialog.
    void remember_login(const std::string& folder, const std::string& user, const std::string& password);

    void OnInitDialog();
    void OnRegister();
    void OnHelp();
    void set_status(const std::string& text);
    void enable_inputs(bool enable);

    std::unique_ptr<Ui::login_form> ui_;
    label_status_line status_;
    widget_progress_bar progress_;
    std::vector<std::string> candidates_;
    QBasicTimer countdown_timer_;  // timer 1: the automatic-login countdown
    int countdown_ = 0;
    bool running_ = false;
    bool ended_ = false;
    std::string versions_note_;
};

// The registration page the dialog's link opens.
std::string registration_page_url();

}  // namespace mirvo
