// What keyboard and screen-reader users need of the windows' ordinary
// controls that Qt does not give on its own: buttons that Enter presses,
// and fields named after the labels beside them.
#pragma once

class QAbstractButton;
class QLabel;
class QWidget;

namespace mirvo {

// Enter (either key) presses the button while it has the keyboard, as
// Space does; a dialog then never takes it for its default button.
void press_on_enter(QAbstractButton* button);

// The field takes the label's text as its name (without a closing colon),
// and the label becomes its buddy. An editable combo box's edit gets the
// name too: it is what takes the keyboard.
void name_by_label(QLabel* label, QWidget* field);

}  // namespace mirvo
