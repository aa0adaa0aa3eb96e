// The fixed font the controls' widget tests measure with: shipped by set-up,
// monospaced, so that every expected size is a whole number of characters.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <QTest>

namespace mirvo::testing {

inline QString test_font_family() {
    static const QString family = [] {
        int id = QFontDatabase::addApplicationFont(MIRVO_TEST_FONT);
        if (id < 0) qFatal("cannot load the test font %s", MIRVO_TEST_FONT);
        return QFontDatabase::applicationFontFamilies(id).value(0);
    }();
    return family;
}

inline QFont test_font(int pixels) {
    QFont f(test_font_family());
    f.setPixelSize(pixels);
    return f;
}

// The advance of one character of the test font at that pixel size.
inline int test_advance(int pixels) { return QFontMetrics(test_font(pixels)).horizontalAdvance('x'); }
inline int test_line_height(int pixels) {
    QFontMetrics m(test_font(pixels));
    return m.ascent() + m.descent();
}

}  // namespace mirvo::testing
