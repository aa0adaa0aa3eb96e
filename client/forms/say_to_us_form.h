// say_to_us_form: the modal dialog in which a logged-in user sends the
// service a short suggestion in one of seven categories. The logic is in
// suggestion.h; this class binds it to the widgets of template 228.
#pragma once

#include <QBasicTimer>
#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class say_to_us_form;
}

namespace mirvo {

class say_to_us_form : public QDialog {
    Q_OBJECT
public:
    explicit say_to_us_form(QWidget* owner = nullptr);
    ~say_to_us_form() override;

    // The remaining-length check (timer 1 runs it every 2 s).
    void update_remaining_length();
    // Button "保存".
    void submit();
    bool length_timer_running() const { return length_timer_.isActive(); }

    // The edit's text as the programs see it: GBK, line breaks as CR LF.
    std::string edit_text() const;
    void set_edit_text(const std::string& text);

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void box(const std::string& text);

    std::unique_ptr<Ui::say_to_us_form> ui_;
    QBasicTimer length_timer_;
};

}  // namespace mirvo
