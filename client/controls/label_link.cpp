#include "client/controls/label_link.h"

#include "gui/desktop.h"
#include "gui/qt_text.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace mirvo {

namespace {
QColor to_qcolor(colour_ref c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
}  // namespace

label_link::label_link(QLabel* label) : label_(label) {
    if (!label_) return;
    // The template's caption keeps the label's own looks until a link is shown.
    label_->setTextFormat(Qt::PlainText);
    label_->installEventFilter(this);
}

label_link::~label_link() {
    if (label_) label_->removeEventFilter(this);
}

void label_link::SetHyperlinkText(const std::string& text, const std::string& address) {
    address_ = address;
    showing_link_ = true;
    if (!label_) return;
    apply_looks();
    label_->setText(qstr(text));
    label_->setCursor(address_.empty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void label_link::SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) {
    colour_ = colour;
    underline_ = underline;
    hover_colour_ = hover_colour;
    apply_looks();
}

void label_link::apply_looks() {
    if (!label_ || !showing_link_) return;
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, to_qcolor(hovered_ ? hover_colour_ : colour_));
    label_->setPalette(palette);
    QFont font = label_->font();
    font.setUnderline(underline_);
    label_->setFont(font);
}

bool label_link::eventFilter(QObject* watched, QEvent* event) {
    if (watched != label_) return false;
    switch (event->type()) {
        case QEvent::Enter:
        case QEvent::Leave:
            hovered_ = event->type() == QEvent::Enter;
            apply_looks();
            break;
        case QEvent::MouseButtonRelease: {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton && label_->rect().contains(me->position().toPoint()) &&
                !address_.empty())
                open_web_address(address_);
            break;
        }
        default:
            break;
    }
    return false;
}

}  // namespace mirvo
