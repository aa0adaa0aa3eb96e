#include "client/controls/xp_button.h"

#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>

namespace mirvo {

namespace {

constexpr int edge = 2;  // the desktop's edge width and height
constexpr int icon_size = 16;

QPen frame_pen(int r, int g, int b, int width) { return QPen(QColor(r, g, b), width, Qt::SolidLine, Qt::FlatCap); }

// The face pictures are drawn here rather than shipped: a soft vertical
// sheen, cool while resting and warm under the mouse.
QImage draw_face(int w, int h, const QColor& top, const QColor& bottom, const QColor& lower_edge) {
    QImage img(w, h, QImage::Format_RGB888);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h - 1);
    g.setColorAt(0, top);
    g.setColorAt(0.45, top);
    g.setColorAt(1, bottom);
    p.fillRect(img.rect(), g);
    p.setPen(lower_edge);
    p.drawLine(0, h - 1, w - 1, h - 1);
    return img;
}

// Copies the face unscaled at (x, y) into a w x h area; where the area is
// larger than the picture, its last column and row are drawn on.
void draw_face_into(QPainter& p, const QImage& face, int x, int y, int w, int h) {
    const int fw = std::min(w, face.width()), fh = std::min(h, face.height());
    p.drawImage(QPoint(x, y), face, QRect(0, 0, fw, fh));
    if (w > fw) p.drawImage(QRect(x + fw, y, w - fw, fh), face, QRect(face.width() - 1, 0, 1, fh));
    if (h > fh) p.drawImage(QRect(x, y + fh, w, h - fh), face, QRect(0, face.height() - 1, face.width(), 1));
}

}  // namespace

CXPButton::CXPButton(QWidget* parent) : QPushButton(parent) {
    outline_pen_ = QPen(Qt::black, 1);
    hover_pens_[0] = frame_pen(250, 196, 88, 3);
    hover_pens_[1] = frame_pen(251, 202, 106, 3);
    hover_pens_[2] = frame_pen(252, 210, 121, 2);
    hover_pens_[3] = frame_pen(229, 151, 0, 2);
    focus_pens_[0] = frame_pen(153, 198, 252, 3);
    focus_pens_[1] = frame_pen(162, 189, 252, 3);
    focus_pens_[2] = frame_pen(162, 201, 255, 2);
    focus_pens_[3] = frame_pen(162, 201, 255, 2);
    setMouseTracking(true);
}

const QImage& CXPButton::face(bool hovered) {
    static const QImage normal =
        draw_face(126, 20, QColor(255, 255, 255), QColor(214, 223, 240), QColor(196, 206, 226));
    static const QImage hover = draw_face(77, 19, QColor(255, 255, 250), QColor(255, 229, 176), QColor(240, 200, 130));
    return hovered ? hover : normal;
}

void CXPButton::SetIcon(const QIcon& icon) {
    icon_handle_ = icon;
    show_icon_ = true;
    update();
}

void CXPButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.save();
    p.setPen(outline_pen_);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
    p.restore();

    had_focus_ = hasFocus();
    const bool pressed = isDown();
    const QRect r = rect().adjusted(edge, edge, -edge, -edge);
    PaintFace(p, r);
    if (hovered_ || had_focus_) PaintFrameLines(p, r);
    paint_caption(p, r, pressed);
}

void CXPButton::PaintFace(QPainter& p, const QRect& r) {
    p.fillRect(r, Qt::white);
    draw_face_into(p, face(hovered_), edge, edge, r.width(), r.height());
    if (show_icon_) icon_handle_.paint(&p, QRect(0, 3, icon_size, icon_size));
}

void CXPButton::PaintFrameLines(QPainter& p, const QRect& r) {
    const QPen* pens = hovered_ || !had_focus_ ? hover_pens_ : focus_pens_;
    p.save();
    p.setPen(pens[0]);
    p.drawLine(r.left(), r.bottom(), r.left(), r.top() + 1);
    p.setPen(pens[1]);
    p.drawLine(r.right(), r.bottom(), r.right(), r.top());
    p.setPen(pens[2]);
    p.drawLine(r.left() - 1, r.top(), r.right(), r.top());
    p.setPen(pens[3]);
    p.drawLine(r.left(), r.bottom() + 1, r.right(), r.bottom() + 1);
    if (had_focus_ && !hovered_) {
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    p.restore();
}

void CXPButton::paint_caption(QPainter& p, const QRect& r, bool pressed) {
    const QString caption = text();
    p.setFont(font());
    const QSize size = fontMetrics().size(Qt::TextShowMnemonic, caption);
    int x = r.left() + r.width() / 2 - size.width() / 2;
    int y = r.top() + r.height() / 2 - size.height() / 2;
    if (show_icon_) x += 5;
    if (pressed) {
        x += 1;
        y += 1;
    }
    caption_position_ = QPoint(x, y);
    const int flags = Qt::TextShowMnemonic | Qt::AlignLeft | Qt::AlignTop;
    if (isEnabled()) {
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(QRect(QPoint(x, y), size), flags, caption);
        return;
    }
    // The desktop's disabled look: a light copy below-right, grey in place.
    p.setPen(palette().color(QPalette::Light));
    p.drawText(QRect(QPoint(x + 1, y + 1), size), flags, caption);
    p.setPen(palette().color(QPalette::Dark));
    p.drawText(QRect(QPoint(x, y), size), flags, caption);
}

void CXPButton::enterEvent(QEnterEvent* e) {
    tracking_ = true;
    hovered_ = true;
    update();
    QPushButton::enterEvent(e);
}

void CXPButton::leaveEvent(QEvent* e) {
    hovered_ = false;
    tracking_ = false;
    update();
    QPushButton::leaveEvent(e);
}

void CXPButton::mouseMoveEvent(QMouseEvent* e) {
    if (!tracking_) {
        tracking_ = true;
        hovered_ = true;
        update();
    }
    QPushButton::mouseMoveEvent(e);
}

}  // namespace mirvo
