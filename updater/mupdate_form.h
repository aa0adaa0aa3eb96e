// Cmupdate_form: the updater's one window (template 102), a status line and a
// progress bar. Its initialisation runs the whole update procedure and ends
// the dialog; closing the window or Escape calls the rest of the work off.
#pragma once

#include "common/http/http.h"
#include "updater/update_procedure.h"

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;

namespace Ui {
class mupdate_form;
}

namespace mirvo {

class Cmupdate_form : public QDialog {
    Q_OBJECT
public:
    explicit Cmupdate_form(QWidget* parent = nullptr);
    ~Cmupdate_form() override;

    // The dialog's initialisation: shows the window, runs the update
    // procedure against these servers (with the key lists must be signed
    // with, if any) and ends the dialog (confirmed). True after a procedure
    // that got as far as a server; nothing depends on it.
    bool OnInitDialog(const probe_candidates& candidates, const std::optional<public_key>& list_key = std::nullopt);
    const update_result& outcome() const { return result_; }

    QLabel* status_line() const;
    QProgressBar* progress() const;

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Escape, like the close box, cancels the procedure while it runs; the
    // window closes when the procedure has ended.
    void reject() override;

private:
    class window_binding;

    std::unique_ptr<Ui::mupdate_form> ui_;
    std::unique_ptr<window_binding> binding_;
    update_result result_;
    transfer_cancel* running_ = nullptr;  // the procedure's, while it runs
};

}  // namespace mirvo
