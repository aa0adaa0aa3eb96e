// message_form: the loading window, a small always-on-top box with one line
// of status text, shown while the main frame builds its windows and while it
// closes, and while a catalogue program's start waits for the service. It
// asks nothing; only the last can be called off by the user.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QLabel;

namespace Ui {
class message_form;
}

namespace mirvo {

class message_form : public QDialog {
    Q_OBJECT
public:
    explicit message_form(QWidget* owner = nullptr);
    ~message_form() override;

    // The status line (control 1153).
    QLabel* status() const;
    void set_status_text(const std::string& gbk);
    // Shows the window centred on the screen and paints it at once.
    void show_now();
    // From now on the window has a close box, and the close box and Escape
    // call cancel; the window stays until its owner ends the work and with
    // it the window. Set before the window is shown.
    void set_cancel_handler(std::function<void()> cancel);

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override;  // Escape does not close it either

private:
    std::unique_ptr<Ui::message_form> ui_;
    std::function<void()> cancel_;
};

}  // namespace mirvo
