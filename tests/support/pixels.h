// Counting the pixels of one colour in an image or in what a widget shows,
// for the widget tests that check looks: link colours, faces, backgrounds.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

namespace mirvo::testing {

// Pixels of exactly colour c within r (the whole image when r is empty).
inline int count_pixels(const QImage& img, const QColor& c, QRect r = {}) {
    r = r.isEmpty() ? img.rect() : r.intersected(img.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += img.pixelColor(x, y) == c;
    return n;
}

// The same in what the widget draws now (it paints for it).
inline int pixels_of(QWidget& w, const QColor& c, QRect r = {}) { return count_pixels(w.grab().toImage(), c, r); }

}  // namespace mirvo::testing
