// CDib8: an 8-bit picture with a 256-colour palette, the canvas of the
// textured fill effects. Rows are padded to whole 32-bit words.
#pragma once

#include "client/controls/colour.h"

#include <QImage>

#include <array>
#include <cstdint>

class QPainter;

namespace mirvo {

class CDib8 {
public:
    // Releases what is held and makes a black picture of the given size; the
    // object stays empty when the size is not positive or memory runs out.
    void Create(int width, int height);
    // Moves every palette entry percent (at most 100) of the way to colour.
    void TintPalette(colour_ref colour, int percent);
    // Draws the picture at its own size with its top-left corner at (x, y).
    void Draw(QPainter& painter, int x, int y) const;

    bool empty() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    // Bytes per row: ((width * 8 + 31) / 32) * 4.
    int stride() const { return empty() ? 0 : static_cast<int>(image_.bytesPerLine()); }
    std::uint8_t* pixels() { return empty() ? nullptr : image_.bits(); }
    const std::uint8_t* pixels() const { return empty() ? nullptr : image_.constBits(); }

    void SetPalette(const std::array<colour_ref, 256>& palette);
    colour_ref palette_entry(int index) const;
    const QImage& image() const { return image_; }

private:
    QImage image_;
};

}  // namespace mirvo
