// message_form: the loading window, a small always-on-top box with one line
// of status text, shown while the main frame builds its windows and while it
// closes. It asks nothing and cannot be closed by the user.
#pragma once

#include <QDialog>

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

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override {}  // Escape does not close it either

private:
    std::unique_ptr<Ui::message_form> ui_;
};

}  // namespace mirvo
