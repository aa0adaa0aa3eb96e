#include "client/controls/static_ex.h"

#include "client/controls/qt_colour.h"

namespace mirvo {

CStaticEx::CStaticEx(QWidget* parent)
    : QLabel(parent), back_colour_(button_face_colour(palette())), text_colour_(window_text_colour(palette())) {
    setAutoFillBackground(true);
    SetHandCursor(true);
    RebuildBackBrush();
}

colour_ref CStaticEx::drawn_text_colour() const {
    return link_mode_ && !link_target_.empty() ? link_colour_ : text_colour_;
}

void CStaticEx::SetBackColour(colour_ref colour) {
    back_colour_ = colour;
    RebuildBackBrush();
    update();
}

void CStaticEx::SetTextColour(colour_ref colour) {
    text_colour_ = colour;
    apply_colours();
}

void CStaticEx::SetLinkColour(colour_ref colour) {
    link_colour_ = colour;
    apply_colours();
}

void CStaticEx::SetLinkMode(bool on) {
    link_mode_ = on;
    apply_colours();
}

void CStaticEx::SetLinkTarget(const std::string& gbk_target) {
    link_target_ = gbk_target;
    apply_colours();
}

void CStaticEx::SetHandCursor(bool on) {
    hand_cursor_ = on;
    setCursor(on ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CStaticEx::RebuildBackBrush() { apply_colours(); }

// The label paints with its palette: the background role takes the back
// colour, the text role the colour the link state asks for.
void CStaticEx::apply_colours() {
    QPalette p = palette();
    p.setColor(QPalette::Window, qcolour(back_colour_));
    p.setColor(QPalette::WindowText, qcolour(drawn_text_colour()));
    setPalette(p);
}

}  // namespace mirvo
