#include "client/controls/html_static_access.h"

#include "client/controls/html_static.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace mirvo {

namespace {

QString utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// One link of a control. It reads the control each time it is asked, so it
// stays right while the control's text changes (the news links turn every
// few seconds); a link the text no longer has is no longer valid.
class html_link_access final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    html_link_access(CHtmlStatic* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ && index_ < static_cast<int>(control_->reading().links.size()); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return control_ ? control_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(control_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid()) return {};
        return utf8(link().text);
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = control_->link_rect(index_);
        return r.isEmpty() ? QRect() : QRect(control_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Link; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.linked = true;
        s.invisible = !control_->isVisible() || control_->link_rect(index_).isEmpty();
        s.disabled = !control_->isEnabled();
        s.focusable = link().usable() && control_->focusPolicy() != Qt::NoFocus;
        s.focused = control_->hasFocus() && control_->focused_link() == index_;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override {
        if (!isValid() || !link().usable()) return {};
        return {pressAction()};
    }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid()) control_->activate_link(index_);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == pressAction() && control_ && control_->focusPolicy() != Qt::NoFocus)
            return {QStringLiteral("Return")};
        return {};
    }

private:
    const layout_reading::link& link() const { return control_->reading().links[static_cast<std::size_t>(index_)]; }

    QPointer<CHtmlStatic> control_;
    int index_;
};

// The control: a static text whose name is the text a person reads, with
// its links as children.
class html_static_access final : public QAccessibleWidget {
public:
    explicit html_static_access(CHtmlStatic* control)
        : QAccessibleWidget(control, QAccessible::StaticText), control_(control) {}
    ~html_static_access() override {
        for (QAccessible::Id id : children_) QAccessible::deleteAccessibleInterface(id);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                if (!control_->accessibleName().isEmpty()) return control_->accessibleName();
                return utf8(control_->reading().text);
            case QAccessible::Description:
                return control_->accessibleDescription();
            default:
                // Not the label's text (the markup) nor a tool tip.
                return {};
        }
    }

    int childCount() const override { return static_cast<int>(control_->reading().links.size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        while (static_cast<int>(children_.size()) <= index) {
            auto* link = new html_link_access(control_, static_cast<int>(children_.size()));
            children_.push_back(QAccessible::registerAccessibleInterface(link));
        }
        return QAccessible::accessibleInterface(children_[static_cast<std::size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (std::size_t i = 0; i < children_.size(); ++i)
            if (QAccessible::accessibleInterface(children_[i]) == child) return static_cast<int>(i);
        return -1;
    }
    QAccessibleInterface* focusChild() const override {
        if (!control_->hasFocus() || control_->focused_link() < 0) return nullptr;
        return child(control_->focused_link());
    }

private:
    CHtmlStatic* control_;
    mutable std::vector<QAccessible::Id> children_;
};

QAccessibleInterface* html_static_factory(const QString& class_name, QObject* object) {
    if (class_name != QLatin1String(CHtmlStatic::staticMetaObject.className())) return nullptr;
    auto* control = qobject_cast<CHtmlStatic*>(object);
    return control ? new html_static_access(control) : nullptr;
}

}  // namespace

void install_html_static_accessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(html_static_factory);
        return true;
    }();
    (void)installed;
}

}  // namespace mirvo
