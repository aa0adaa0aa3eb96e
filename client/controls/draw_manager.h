// CDrawManager: the colour fills behind the HTML controls and the button
// faces: solid, two- and three-colour gradients, and textured effects drawn
// through an 8-bit palette picture.
#pragma once

#include "client/controls/colour.h"
#include "client/controls/dib8.h"

#include <QRect>

class QPainter;

namespace mirvo {

class CDrawManager {
public:
    // Effect numbers: -1 nothing; 0 (and unknown numbers) solid c1; 1/2
    // c1 -> c3 across/down; 3/4 c1 -> c3 -> c1; 5/6 c1 -> c2 -> c3; 7..15
    // textured between c3, c2 and c1 with noise of +-granularity, tinted
    // `colouring` percent towards c1.
    void FillEffect(QPainter& painter, const QRect& rect, int effect, colour_ref c1, colour_ref c2, colour_ref c3,
                    int granularity = 5, int colouring = 0);

private:
    void fill_gradient(QPainter& painter, const QRect& rect, bool across, colour_ref from, colour_ref to);
    void fill_textured(QPainter& painter, const QRect& rect, int effect, colour_ref c1, colour_ref c2, colour_ref c3,
                       int granularity, int colouring);

    CDib8 work_;
};

}  // namespace mirvo
