// CXPButton: the client's push button. It draws itself: a rounded outline,
// a bitmap face that changes while the mouse is over it, orange frame lines
// when hovered, blue ones with a focus rectangle when focused, an optional
// icon, and the caption pressed one pixel down-right.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPen>
#include <QPushButton>

namespace mirvo {

class CXPButton : public QPushButton {
    Q_OBJECT
public:
    explicit CXPButton(QWidget* parent = nullptr);

    // Draws icon at the left and moves the caption right to make room.
    void SetIcon(const QIcon& icon);

    bool hovered() const { return hovered_; }
    bool tracking() const { return tracking_; }
    bool had_focus() const { return had_focus_; }
    // Where the caption was drawn at the last paint (its top-left corner).
    QPoint caption_position() const { return caption_position_; }

    // The face pictures: 126 x 20 normal, 77 x 19 hovered.
    static const QImage& face(bool hovered);

protected:
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

    virtual void PaintFace(QPainter& painter, const QRect& r);
    virtual void PaintFrameLines(QPainter& painter, const QRect& r);

private:
    void paint_caption(QPainter& painter, const QRect& r, bool pressed);

    QPen outline_pen_;
    QPen hover_pens_[4];  // left, right, top, bottom
    QPen focus_pens_[4];
    bool hovered_ = false;
    bool tracking_ = false;
    bool had_focus_ = false;
    bool show_icon_ = false;
    QIcon icon_handle_;
    QPoint caption_position_;
};

}  // namespace mirvo
