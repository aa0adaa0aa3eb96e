#include "client/controls/draw_manager.h"

#include "client/controls/qt_colour.h"
#include "client/controls/texture.h"

#include <QPainter>

namespace mirvo {

void CDrawManager::FillEffect(QPainter& painter, const QRect& rect, int effect, colour_ref c1, colour_ref c2,
                              colour_ref c3, int granularity, int colouring) {
    if (effect == -1 || rect.isEmpty()) return;
    const int w = rect.width(), h = rect.height();
    switch (effect) {
        case 1:
            return fill_gradient(painter, rect, true, c1, c3);
        case 2:
            return fill_gradient(painter, rect, false, c1, c3);
        case 3:
        case 5: {
            const colour_ref middle = effect == 3 ? c3 : c2, end = effect == 3 ? c1 : c3;
            fill_gradient(painter, QRect(rect.left(), rect.top(), w / 2, h), true, c1, middle);
            fill_gradient(painter, QRect(rect.left() + w / 2, rect.top(), w - w / 2, h), true, middle, end);
            return;
        }
        case 4:
        case 6: {
            const colour_ref middle = effect == 4 ? c3 : c2, end = effect == 4 ? c1 : c3;
            fill_gradient(painter, QRect(rect.left(), rect.top(), w, h / 2), false, c1, middle);
            fill_gradient(painter, QRect(rect.left(), rect.top() + h / 2, w, h - h / 2), false, middle, end);
            return;
        }
        default:
            if (mirvo::is_textured_effect(effect))
                return fill_textured(painter, rect, effect, c1, c2, c3, granularity, colouring);
            painter.fillRect(rect, mirvo::qcolour(c1));
    }
}

void CDrawManager::fill_gradient(QPainter& painter, const QRect& rect, bool across, colour_ref from, colour_ref to) {
    const int n = across ? rect.width() : rect.height();
    for (int i = 0; i < n; ++i) {
        QColor c = mirvo::qcolour(mirvo::colour_step(from, to, i, n));
        if (across)
            painter.fillRect(rect.left() + i, rect.top(), 1, rect.height(), c);
        else
            painter.fillRect(rect.left(), rect.top() + i, rect.width(), 1, c);
    }
}

void CDrawManager::fill_textured(QPainter& painter, const QRect& rect, int effect, colour_ref c1, colour_ref c2,
                                 colour_ref c3, int granularity, int colouring) {
    if (work_.width() != rect.width() || work_.height() != rect.height()) work_.Create(rect.width(), rect.height());
    if (work_.empty()) return;
    work_.SetPalette(mirvo::texture_palette(c1, c2, c3));
    work_.TintPalette(c1, colouring);
    mirvo::fill_texture(effect, work_.pixels(), work_.width(), work_.height(), work_.stride(), granularity);
    work_.Draw(painter, rect.left(), rect.top());
}

}  // namespace mirvo
