// The fill effects and the palette picture, checked pixel by pixel.
#include "client/controls/dib8.h"
#include "client/controls/draw_manager.h"
#include "client/controls/qt_colour.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace mirvo;

namespace {

const colour_ref red = rgb(255, 0, 0), white = rgb(255, 255, 255), blue = rgb(0, 0, 255), grey = rgb(9, 9, 9);

QImage fill(int effect, colour_ref c1, colour_ref c2, colour_ref c3, QSize size = QSize(100, 60), int granularity = 5) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(1, 2, 3));
    QPainter p(&img);
    CDrawManager().FillEffect(p, img.rect(), effect, c1, c2, c3, granularity);
    return img;
}

colour_ref at(const QImage& img, int x, int y) { return colour_of(img.pixelColor(x, y)); }

}  // namespace

class FillTest : public QObject {
    Q_OBJECT
private slots:
    void solidAndNothing() {
        QImage img = fill(0, red, white, blue);
        QCOMPARE(at(img, 0, 0), red);
        QCOMPARE(at(img, 99, 59), red);
        QCOMPARE(at(fill(42, blue, white, red), 50, 30), blue);  // unknown numbers are solid
        QCOMPARE(at(fill(-1, blue, white, red), 50, 30), rgb(1, 2, 3));
    }

    void twoColourGradients() {
        QImage h = fill(1, red, grey, blue);
        QCOMPARE(at(h, 0, 30), red);
        QCOMPARE(at(h, 99, 30), blue);
        QCOMPARE(at(h, 33, 0), rgb(255 - 255 * 33 / 99, 0, 255 * 33 / 99));
        QImage v = fill(2, red, grey, blue);
        QCOMPARE(at(v, 50, 0), red);
        QCOMPARE(at(v, 50, 59), blue);
        QCOMPARE(at(v, 0, 59), at(v, 99, 59));
    }

    void gradientsThereAndBack() {
        QImage h = fill(3, red, grey, blue);
        QCOMPARE(at(h, 0, 0), red);
        QCOMPARE(at(h, 49, 0), blue);
        QCOMPARE(at(h, 50, 0), blue);
        QCOMPARE(at(h, 99, 0), red);
        QImage v = fill(4, red, grey, blue, QSize(10, 61));  // odd: the split rounds down
        QCOMPARE(at(v, 5, 0), red);
        QCOMPARE(at(v, 5, 29), blue);
        QCOMPARE(at(v, 5, 30), blue);
        QCOMPARE(at(v, 5, 60), red);
    }

    void threeColourGradients() {
        // Red, white, blue: the top half runs red -> white, the bottom half white -> blue.
        QImage v = fill(6, red, white, blue);
        QCOMPARE(at(v, 50, 0), red);
        QCOMPARE(at(v, 50, 29), white);
        QCOMPARE(at(v, 50, 30), white);
        QCOMPARE(at(v, 50, 59), blue);
        QCOMPARE(at(v, 50, 15), rgb(255, 255 * 15 / 29, 255 * 15 / 29));
        QImage h = fill(5, red, white, blue);
        QCOMPARE(at(h, 0, 10), red);
        QCOMPARE(at(h, 49, 10), white);
        QCOMPARE(at(h, 99, 10), blue);
    }

    void texturedEffectsRunThroughThePalette() {
        // The left-to-right ramp without noise shows both palette ends:
        // c3 at the left edge, c1 at the right.
        QImage ramp = fill(10, red, white, blue, QSize(256, 8), 0);
        QCOMPARE(at(ramp, 0, 4), blue);
        QCOMPARE(at(ramp, 255, 4), red);
        QCOMPARE(at(ramp, 127, 4), white);
        // With noise every pixel still comes from the palette between the colours.
        QImage noisy = fill(15, red, white, blue, QSize(120, 30), 20);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 120; ++x) {
                colour_ref c = at(noisy, x, y);
                QVERIFY(red_of(c) == 255 || blue_of(c) == 255);
            }
        // Drawn at the rectangle's corner, not the picture's origin.
        QImage img(50, 50, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        CDrawManager().FillEffect(p, QRect(20, 10, 10, 10), 9, red, white, blue, 0);
        QCOMPARE(at(img, 19, 15), rgb(0, 0, 0));
        QCOMPARE(at(img, 25, 10), blue);
        QCOMPARE(at(img, 25, 19), red);
        QCOMPARE(at(img, 30, 15), rgb(0, 0, 0));
    }

    void paletteBitmap() {
        CDib8 dib;
        for (int w = 1; w <= 9; ++w) {
            dib.Create(w, 3);
            QCOMPARE(dib.stride(), ((w * 8 + 31) / 32) * 4);
        }
        dib.Create(4, 2);
        QVERIFY(!dib.empty());
        QCOMPARE(dib.palette_entry(200), rgb(0, 0, 0));
        std::array<colour_ref, 256> pal{};
        pal[1] = rgb(200, 100, 0);
        dib.SetPalette(pal);
        dib.TintPalette(rgb(0, 100, 200), 50);
        QCOMPARE(dib.palette_entry(1), rgb(100, 100, 100));
        QCOMPARE(dib.palette_entry(0), rgb(0, 50, 100));
        dib.TintPalette(rgb(7, 8, 9), 300);  // clamped to 100
        QCOMPARE(dib.palette_entry(1), rgb(7, 8, 9));

        dib.pixels()[dib.stride() + 3] = 1;  // row 1, column 3
        QImage img(10, 10, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        dib.Draw(p, 5, 5);
        p.end();
        QCOMPARE(at(img, 8, 6), rgb(7, 8, 9));
        QCOMPARE(at(img, 5, 5), rgb(7, 8, 9));  // every entry was tinted fully
        QCOMPARE(at(img, 9, 7), rgb(255, 255, 255));

        dib.Create(0, 5);
        QVERIFY(dib.empty());
        dib.TintPalette(red, 50);  // nothing to do, nothing breaks
        dib.Create(1 << 20, 1 << 20);
        QVERIFY(dib.empty());
    }
};

QTEST_MAIN(FillTest)
#include "fill_test.moc"
