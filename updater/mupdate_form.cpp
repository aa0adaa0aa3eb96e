#include "updater/mupdate_form.h"

#include "gui/desktop.h"
#include "gui/qt_status.h"
#include "gui/qt_text.h"
#include "ui_mupdate_form.h"
#include "updater/updater_texts.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace mirvo {

// What the procedure asks of the window, done with its widgets. Status texts
// and progress steps arrive once per read of a download and are painted at
// the display's pace.
class Cmupdate_form::window_binding final : public update_window {
public:
    explicit window_binding(Cmupdate_form& form)
        : form_(form), status_(form.ui_->status_line), progress_(form.ui_->progress) {}

    mirvo::status_line& status() override { return status_; }
    progress_bar& progress() override { return progress_; }
    void show_now() override {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            form_.move(screen->availableGeometry().center() - form_.rect().center());
        form_.show();
        form_.raise();
        form_.activateWindow();
        form_.repaint();
    }
    void set_caption(const std::string& text) override { form_.setWindowTitle(qstr(text)); }
    void message_box(const std::string& text) override {
        // What the procedure said last is on screen behind the box.
        flush();
        the_desktop().message_box(&form_, text, application_title(), box_kind::ok);
    }
    bool start_program(const std::string& path, const std::string& program_folder) override {
        return the_desktop().start_program(path, {}, program_folder);
    }
    void flush() {
        status_.flush();
        progress_.flush();
    }

private:
    Cmupdate_form& form_;
    paced_label_status_line status_;
    paced_progress_bar progress_;
};

Cmupdate_form::Cmupdate_form(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::mupdate_form>()) {
    ui_->setupUi(this);
    // A caption bar with a close box (which cancels the work) and no
    // minimise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui_->status_line->setText(qstr(updater_text().starting));
    binding_ = std::make_unique<window_binding>(*this);
}

Cmupdate_form::~Cmupdate_form() = default;

QLabel* Cmupdate_form::status_line() const { return ui_->status_line; }
QProgressBar* Cmupdate_form::progress() const { return ui_->progress; }

bool Cmupdate_form::OnInitDialog(const probe_candidates& candidates, const std::optional<public_key>& list_key) {
    transfer_cancel work;
    running_ = &work;
    result_ = run_update(*binding_, candidates, list_key);
    running_ = nullptr;
    binding_->flush();
    QDialog::accept();
    return result_.end != update_end::no_server && result_.end != update_end::no_folder;
}

void Cmupdate_form::closeEvent(QCloseEvent* event) {
    // The procedure ends the dialog itself once it has stopped, so every
    // file it was writing is whole.
    event->ignore();
    if (running_) running_->cancel();
}

void Cmupdate_form::reject() {
    if (running_) running_->cancel();
}

}  // namespace mirvo
