#include "client/controls/control_access.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace mirvo {

namespace {

class enter_presser final : public QObject {
public:
    explicit enter_presser(QAbstractButton* button) : QObject(button), button_(button) {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        if (button_->isEnabled()) button_->click();
        return true;
    }

private:
    QAbstractButton* button_;
};

QString without_colon(QString text) {
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QChar(0xFF1A)) || text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

}  // namespace

void press_on_enter(QAbstractButton* button) {
    if (button && !button->findChild<enter_presser*>(QString(), Qt::FindDirectChildrenOnly)) new enter_presser(button);
}

void name_by_label(QLabel* label, QWidget* field) {
    if (!label || !field) return;
    label->setBuddy(field);
    const QString name = without_colon(label->text());
    field->setAccessibleName(name);
    if (auto* combo = qobject_cast<QComboBox*>(field); combo && combo->lineEdit())
        combo->lineEdit()->setAccessibleName(name);
}

}  // namespace mirvo
