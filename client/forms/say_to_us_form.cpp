#include "client/forms/say_to_us_form.h"

#include "client/controls/control_access.h"
#include "client/forms/suggestion.h"
#include "gui/desktop.h"
#include "gui/qt_text.h"
#include "ui_say_to_us_form.h"

#include <QCloseEvent>
#include <QTimerEvent>

namespace mirvo {

namespace {
constexpr int length_period_ms = 2000;
}  // namespace

say_to_us_form::say_to_us_form(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::say_to_us_form>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    for (const std::string& category : suggestion_categories()) ui_->category_list->addItem(qstr(category));
    ui_->category_list->setCurrentIndex(-1);
    ui_->note_label->setText(qstr(suggestion_note()));
    name_by_label(ui_->category_label, ui_->category_list);
    // The line above the text box says how much more it takes: screen
    // readers hear it with the box's name.
    ui_->remaining_label->setBuddy(ui_->text_edit);
    ui_->text_edit->setAccessibleDescription(ui_->remaining_label->text());

    connect(ui_->save_button, &QPushButton::clicked, this, &say_to_us_form::submit);
    connect(ui_->cancel_button, &QPushButton::clicked, this, &QDialog::reject);
    length_timer_.start(length_period_ms, this);
}

say_to_us_form::~say_to_us_form() = default;

std::string say_to_us_form::edit_text() const {
    return gbk(ui_->text_edit->toPlainText().replace(QChar('\n'), QStringLiteral("\r\n")));
}

void say_to_us_form::set_edit_text(const std::string& text) {
    ui_->text_edit->setPlainText(qstr(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ui_->text_edit->moveCursor(QTextCursor::End);
}

void say_to_us_form::update_remaining_length() {
    const length_check c = check_remaining_length(edit_text());
    if (c.cut) set_edit_text(c.text);
    ui_->remaining_label->setText(qstr(c.display));
    ui_->text_edit->setAccessibleDescription(ui_->remaining_label->text());
}

void say_to_us_form::submit() {
    const std::string text = edit_text();
    const int category = ui_->category_list->currentIndex();
    if (const auto refusal = suggestion_refusal(category, text)) {
        box(*refusal);
        return;
    }
    // Not started again, whatever the answer.
    length_timer_.stop();
    if (send_suggestion(category, text)) {
        box(gbk_lit("保存成功！"));
        accept();
        return;
    }
    // Closed while the request waited: the note would go unseen.
    if (!isVisible()) {
        box(suggestion_not_sent());
        return;
    }
    ui_->note_label->setText(qstr(suggestion_failure_note()));
    ui_->text_edit->setFocus();
}

void say_to_us_form::box(const std::string& text) {
    the_desktop().message_box(this, text, application_title(), box_kind::ok);
}

void say_to_us_form::timerEvent(QTimerEvent* event) {
    // Any timer of the window runs the check; only timer 1 is ever set.
    event->accept();
    update_remaining_length();
}

void say_to_us_form::closeEvent(QCloseEvent* event) {
    length_timer_.stop();
    QDialog::closeEvent(event);
}

}  // namespace mirvo
