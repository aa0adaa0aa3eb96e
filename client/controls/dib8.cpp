#include "client/controls/dib8.h"

#include "client/controls/qt_colour.h"

#include <QPainter>

namespace mirvo {

void CDib8::Create(int width, int height) {
    image_ = QImage();
    if (width <= 0 || height <= 0) return;
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) return;
    image.setColorTable(QList<QRgb>(256, qRgb(0, 0, 0)));
    image.fill(0);
    image_ = std::move(image);
}

void CDib8::TintPalette(colour_ref colour, int percent) {
    if (empty()) return;
    QList<QRgb> table = image_.colorTable();
    for (QRgb& entry : table) {
        colour_ref old = mirvo::rgb(qRed(entry), qGreen(entry), qBlue(entry));
        entry = mirvo::qcolour(mirvo::tint_colour(old, colour, percent)).rgb();
    }
    image_.setColorTable(table);
}

void CDib8::Draw(QPainter& painter, int x, int y) const {
    if (!empty()) painter.drawImage(x, y, image_);
}

void CDib8::SetPalette(const std::array<colour_ref, 256>& palette) {
    if (empty()) return;
    QList<QRgb> table;
    table.reserve(256);
    for (colour_ref c : palette) table.push_back(mirvo::qcolour(c).rgb());
    image_.setColorTable(table);
}

colour_ref CDib8::palette_entry(int index) const {
    if (empty() || index < 0 || index >= image_.colorCount()) return 0;
    QRgb c = image_.color(index);
    return mirvo::rgb(qRed(c), qGreen(c), qBlue(c));
}

}  // namespace mirvo
