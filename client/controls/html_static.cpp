#include "client/controls/html_static.h"

#include "client/controls/html_static_access.h"
#include "client/controls/qt_colour.h"
#include "gui/qt_text.h"

#include <QAccessible>
#include <QCursor>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace mirvo {

CHtmlStatic::CHtmlStatic(QWidget* parent) : QLabel(parent) {
    // The label keeps the text only; parsing and painting are ours.
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    // A static is top-left aligned unless its template says otherwise.
    QLabel::setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMouseTracking(true);
    for (colour_ref& c : background_colours_) c = button_face_colour(palette());
    text_colour_ = window_text_colour(palette());
    drawer_.SetNotify(this, notify_message);
    drawer_.SetEnabled(isEnabled());
    apply_font();
    install_html_static_accessibility();
    update_focus_policy();
}

void CHtmlStatic::SetWindowText(const std::string& markup) {
    // Owners write the same link again and again (the notice link on every
    // movement of the mouse): only a new text is news to a screen reader.
    const bool changed = markup != html_;
    html_ = markup;
    label_text_ = qstr(markup);
    QLabel::setText(label_text_);
    if (changed) text_changed();
    redraw();
}

// The links may be others now: the keyboard starts again at the first one,
// and screen readers hear the new text.
void CHtmlStatic::text_changed() {
    reading_stale_ = true;
    focus_link_ = hasFocus() ? usable_link(0, 1) : -1;
    update_focus_policy();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

const layout_reading& CHtmlStatic::reading() {
    if (reading_stale_) {
        reading_ = drawer_.Read(html_);
        reading_stale_ = false;
    }
    return reading_;
}

// Tab stops at a control with a link a key can open, unless its window
// never takes the keyboard (the new-message notice): there the links stay
// for the mouse.
void CHtmlStatic::update_focus_policy() {
    const QWidget* w = window();
    const bool keyboard_window =
        !w->testAttribute(Qt::WA_ShowWithoutActivating) && !(w->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    setFocusPolicy(keyboard_window && usable_link(0, 1) >= 0 ? Qt::TabFocus : Qt::NoFocus);
}

int CHtmlStatic::usable_link(int from, int step) {
    const auto& links = reading().links;
    for (int i = from; i >= 0 && i < static_cast<int>(links.size()); i += step)
        if (links[static_cast<std::size_t>(i)].usable()) return i;
    return -1;
}

void CHtmlStatic::activate_link(int link) {
    if (!isEnabled()) return;
    const auto& links = reading().links;
    if (link < 0 || link >= static_cast<int>(links.size()) || !links[static_cast<std::size_t>(link)].usable()) return;
    // The target is copied: opening a link may change the text.
    const link_target target = links[static_cast<std::size_t>(link)].target;
    drawer_.OpenLink(target);
}

QRect CHtmlStatic::link_rect(int link) const {
    QRect r;
    for (const link_area& a : drawer_.link_areas())
        if (a.link == link) r |= QRect(QPoint(a.left, a.top), QPoint(a.right, a.bottom));
    return r;
}

void CHtmlStatic::setText(const QString& text) { SetWindowText(gbk(text)); }

void CHtmlStatic::SetHyperlinkText(const std::string& text, const std::string& address) {
    SetWindowText("<a href=\"" + address + "\">" + text + "</a>");
}

void CHtmlStatic::SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) {
    drawer_.SetStyle("a:link",
                     "color:" + colour_hex(colour) + "; text-decoration:" + (underline ? "underline" : "none"));
    drawer_.SetStyle("a:hover", "color:" + colour_hex(hover_colour) + "; text-decoration:underline");
    redraw();
}

void CHtmlStatic::SetTextColour(std::optional<colour_ref> colour) {
    text_colour_ = colour;
    redraw();
}

void CHtmlStatic::SetBackgroundMode(int mode) {
    background_mode_ = mode;
    discard_background();
    redraw();
}

void CHtmlStatic::SetBackgroundEffect(int effect) {
    background_effect_ = effect;
    discard_background();
    redraw();
}

void CHtmlStatic::SetBackgroundColours(colour_ref c1, colour_ref c2, colour_ref c3) {
    background_colours_[0] = c1;
    background_colours_[1] = c2;
    background_colours_[2] = c3;
    discard_background();
    redraw();
}

void CHtmlStatic::SetMargins(int horizontal, int vertical) {
    margin_x_ = horizontal;
    margin_y_ = vertical;
    redraw();
}

void CHtmlStatic::SetAlignment(int flags) {
    alignment_flags_ = flags;
    redraw();
}

void CHtmlStatic::RebuildBackground() {
    background_ = QImage();
    repaint();
}

std::string CHtmlStatic::markup_to_draw() const {
    if (!text_colour_) return html_;
    return "<font color=" + colour_hex(*text_colour_) + ">" + html_ + "</font>";
}

// The body style follows the control's font: its height as the desktop
// describes it (negative: character height in pixels), colour, face, weight.
void CHtmlStatic::apply_font() {
    const QFont f = font();
    int height =
        f.pixelSize() > 0 ? -f.pixelSize() : -static_cast<int>(std::lround(f.pointSizeF() * logicalDpiY() / 72.0));
    std::string body = "font-size:" + std::to_string(height) +
                       "pt; color:" + colour_hex(window_text_colour(palette())) + "; font-family:" + gbk(f.family()) +
                       "; font-weight:" + std::to_string(f.weight());
    if (f.italic()) body += "; font-style:italic";
    drawer_.SetStyle("body", body);
    redraw();
}

// Someone wrote the label's text through QLabel itself: take it as markup.
void CHtmlStatic::adopt_label_text() {
    if (QLabel::text() == label_text_) return;
    label_text_ = QLabel::text();
    html_ = gbk(label_text_);
    text_changed();
}

void CHtmlStatic::discard_background() {
    if (background_mode_ != transparent_background) background_ = QImage();
}

void CHtmlStatic::build_background() {
    background_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    if (background_mode_ == transparent_background) {
        background_.fill(palette().color(QPalette::Window));
        // Only the parent's own pixels: rendering its children would paint
        // this control into its own background.
        if (QWidget* parent = parentWidget())
            parent->render(&background_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
        return;
    }
    QPainter p(&background_);
    drawer_.draw_manager().FillEffect(p, rect(), background_effect_, background_colours_[0], background_colours_[1],
                                      background_colours_[2], granularity_);
}

QRect CHtmlStatic::place_text_box() {
    const QRect client = rect();
    const int available = client.width() - 2 * margin_x_ - 1;
    const Qt::Alignment style = alignment();
    // A left-aligned label without word wrap is the no-wrap static: the text
    // runs on, and its box spans at least the available width.
    const bool no_wrap = !wordWrap() && !(style & (Qt::AlignHCenter | Qt::AlignRight));
    QSize size = drawer_.Measure(markup_to_draw(), no_wrap ? 0 : std::max(1, available));
    int w = std::min(size.width(), client.width());
    int h = std::min(size.height(), client.height());
    if (no_wrap) w = std::max(w, available);

    int horizontal = alignment_flags_ & 3;
    if (horizontal == 0) horizontal = style & Qt::AlignHCenter ? 3 : style & Qt::AlignRight ? 2 : 1;
    int vertical = alignment_flags_ & 12;
    if (vertical == 0) vertical = style & Qt::AlignVCenter ? 12 : 4;

    int x = horizontal == 2 ? client.width() - w - margin_x_ : horizontal == 3 ? (client.width() - w) / 2 : margin_x_;
    int y = vertical == 8 ? client.height() - margin_y_ - h : vertical == 12 ? (client.height() - h) / 2 : margin_y_;
    return QRect(x, y, w, h);
}

void CHtmlStatic::draw_text_layer(QPainter& painter) {
    if (isEnabled()) {
        drawer_.Draw(painter, text_box_);
        return;
    }
    // Embossed: a light copy one pixel down-right, the shadow in place.
    drawer_.SetDisabledColour(button_highlight_colour(palette()));
    drawer_.Draw(painter, text_box_.translated(1, 1));
    drawer_.SetDisabledColour(button_shadow_colour(palette()));
    drawer_.Draw(painter, text_box_);
}

void CHtmlStatic::paintEvent(QPaintEvent*) {
    adopt_label_text();
    if (background_.isNull() || background_.size() != size()) build_background();
    QPainter painter(this);
    painter.drawImage(0, 0, background_);
    text_box_ = place_text_box();
    draw_text_layer(painter);
    if (hasFocus()) draw_focus_frame(painter);
}

// The desktop's focus frame, dotted, around each piece of the link the
// keyboard is on.
void CHtmlStatic::draw_focus_frame(QPainter& painter) {
    painter.save();
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    const QRect inside = rect().adjusted(0, 0, -1, -1);
    for (const link_area& a : drawer_.link_areas()) {
        // A pixel off the text where the control has room for it (a pen's
        // rectangle ends one pixel past its right and bottom).
        if (a.link == focus_link_)
            painter.drawRect(QRect(QPoint(a.left - 1, a.top - 1), QPoint(a.right, a.bottom)) & inside);
    }
    painter.restore();
}

bool CHtmlStatic::event(QEvent* e) {
    if (e->type() == static_cast<QEvent::Type>(notify_message)) {
        redraw();  // the text layer only: the background is cached
        return true;
    }
    // The window's kind is settled by the time it shows.
    if (e->type() == QEvent::Show || e->type() == QEvent::ParentChange) update_focus_policy();
    return QLabel::event(e);
}

void CHtmlStatic::resizeEvent(QResizeEvent* e) {
    // A transparent background is taken again too, since it no longer has
    // the control's size (see paintEvent).
    discard_background();
    redraw();
    QLabel::resizeEvent(e);
}

void CHtmlStatic::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) apply_font();
    if (e->type() == QEvent::EnabledChange) {
        drawer_.SetEnabled(isEnabled());
        if (!isEnabled()) unsetCursor();
        redraw();
    }
    QLabel::changeEvent(e);
}

void CHtmlStatic::mouseMoveEvent(QMouseEvent* e) {
    if (isEnabled()) {
        if (drawer_.TrackHover(e->position().toPoint()))
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
    }
    QLabel::mouseMoveEvent(e);
}

void CHtmlStatic::leaveEvent(QEvent* e) {
    drawer_.TrackHover(mapFromGlobal(QCursor::pos()));
    unsetCursor();
    QLabel::leaveEvent(e);
}

void CHtmlStatic::mousePressEvent(QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    if (e->button() == Qt::LeftButton && isEnabled() && text_box_.contains(at)) {
        int link = drawer_.LinkUnderPoint(at);
        if (link >= 0) drawer_.ActivateLink(link);
    }
    QLabel::mousePressEvent(e);
}

void CHtmlStatic::focus_link(int link) {
    focus_link_ = link;
    redraw();
    // Screen readers follow the link, not just the control.
    if (link >= 0 && QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(link);
        QAccessible::updateAccessibility(&event);
    }
}

void CHtmlStatic::focusInEvent(QFocusEvent* e) {
    QLabel::focusInEvent(e);
    // Shift+Tab comes in at the last link; anything else at the first.
    const int last = static_cast<int>(reading().links.size()) - 1;
    focus_link(e->reason() == Qt::BacktabFocusReason ? usable_link(last, -1) : usable_link(0, 1));
}

void CHtmlStatic::focusOutEvent(QFocusEvent* e) {
    QLabel::focusOutEvent(e);
    redraw();
}

bool CHtmlStatic::focusNextPrevChild(bool next) {
    // Tab goes from link to link before it leaves the control.
    if (hasFocus() && focus_link_ >= 0) {
        const int step = next ? 1 : -1;
        if (const int other = usable_link(focus_link_ + step, step); other >= 0) {
            focus_link(other);
            return true;
        }
    }
    return QLabel::focusNextPrevChild(next);
}

void CHtmlStatic::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && focus_link_ >= 0) {
        // Taken here: a dialog would press its default button with it.
        e->accept();
        activate_link(focus_link_);
        return;
    }
    QLabel::keyPressEvent(e);
}

}  // namespace mirvo
