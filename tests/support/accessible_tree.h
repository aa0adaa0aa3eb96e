// What a screen reader can learn of a window, for the widget tests that
// check it: every node of its accessibility tree, and every text of a node.
#pragma once

#include <QAccessible>
#include <QStringList>

#include <vector>

namespace mirvo::testing {

// The node and all below it, depth first.
inline std::vector<QAccessibleInterface*> accessible_nodes(QAccessibleInterface* root) {
    std::vector<QAccessibleInterface*> out;
    if (!root) return out;
    out.push_back(root);
    for (int i = 0; i < root->childCount(); ++i)
        for (QAccessibleInterface* n : accessible_nodes(root->child(i))) out.push_back(n);
    return out;
}

// Its name, description, value and help, and the text it offers to read.
inline QStringList readable_texts(QAccessibleInterface* node) {
    QStringList out;
    for (QAccessible::Text t : {QAccessible::Name, QAccessible::Description, QAccessible::Value, QAccessible::Help})
        out << node->text(t);
    if (QAccessibleTextInterface* text = node->textInterface()) out << text->text(0, text->characterCount());
    return out;
}

// A control the keyboard reaches must say what it is: a name, or a label
// that names it.
inline bool named_if_reachable(QAccessibleInterface* node) {
    auto* widget = qobject_cast<QWidget*>(node->object());
    if (!widget || !widget->isVisible() || widget->focusPolicy() == Qt::NoFocus) return true;
    return !node->text(QAccessible::Name).isEmpty() || !node->relations(QAccessible::Label).isEmpty();
}

}  // namespace mirvo::testing
