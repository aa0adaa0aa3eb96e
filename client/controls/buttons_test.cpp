// The owner-drawn button's looks in its states, and the coloured static.
#include "client/controls/qt_colour.h"
#include "client/controls/static_ex.h"
#include "client/controls/test_font.h"
#include "client/controls/xp_button.h"
#include "tests/support/pixels.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QTest>

using namespace mirvo;

namespace {

QImage shot(QWidget& w) {
    QApplication::processEvents();
    return w.grab().toImage();
}

QColor pixel(const QImage& img, int x, int y) { return img.pixelColor(x, y); }

void enter(QWidget& w) {
    QEnterEvent e(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(&w, &e);
}

void leave(QWidget& w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

// Pixels of one colour inside a rectangle.
int count(const QImage& img, const QRect& r, const QColor& c) { return mirvo::testing::count_pixels(img, c, r); }

const QColor hover_left(250, 196, 88), focus_left(153, 198, 252);

}  // namespace

class ButtonsTest : public QObject {
    Q_OBJECT
    QWidget* window = nullptr;
    CXPButton* button = nullptr;
    CXPButton* other = nullptr;

private slots:
    void init() {
        window = new QWidget;
        window->resize(200, 60);
        button = new CXPButton(window);
        button->setFont(mirvo::testing::test_font(12));
        button->setText("Go");
        button->setGeometry(10, 10, 74, 23);
        other = new CXPButton(window);
        other->setGeometry(100, 10, 74, 23);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        other->setFocus();
    }
    void cleanup() { delete window; }

    void pressingMovesOnlyTheCaption() {
        QImage up = shot(*button);
        QPoint at = button->caption_position();
        button->setDown(true);
        QImage down = shot(*button);
        QCOMPARE(button->caption_position(), at + QPoint(1, 1));
        // Face and frame stay: compare the strip left of the caption.
        QRect face(0, 0, at.x() - 2, button->height());
        QCOMPARE(up.copy(face), down.copy(face));
        QVERIFY(up != down);
    }

    void hoverAndFocusFrames() {
        const int mid = button->height() / 2;
        // Resting and unfocused: no frame line at the left edge of the face.
        QCOMPARE(count(shot(*button), QRect(1, 4, 3, mid), hover_left), 0);

        enter(*button);
        QVERIFY(button->hovered());
        QVERIFY(button->tracking());
        QImage hovered = shot(*button);
        QCOMPARE(pixel(hovered, 2, mid), hover_left);
        QCOMPARE(pixel(hovered, 4, 4), QColor(CXPButton::face(true).pixelColor(2, 2)));

        leave(*button);
        QVERIFY(!button->hovered());
        QVERIFY(!button->tracking());
        QCOMPARE(pixel(shot(*button), 4, 4), QColor(CXPButton::face(false).pixelColor(2, 2)));

        button->setFocus();
        QImage focused = shot(*button);
        QVERIFY(button->had_focus());
        QCOMPARE(pixel(focused, 2, mid), focus_left);
        QCOMPARE(pixel(focused, 4, 4), QColor(CXPButton::face(false).pixelColor(2, 2)));

        // Hovered and focused: the orange frame wins and the focus rectangle goes.
        enter(*button);
        QImage both = shot(*button);
        QCOMPARE(pixel(both, 2, mid), hover_left);
        QCOMPARE(count(both, QRect(3, 3, button->width() - 6, 1), QColor(Qt::black)), 0);
        QVERIFY(count(focused, QRect(3, 2, button->width() - 6, 1), QColor(Qt::black)) > 0);
    }

    void aMoveWithoutEnterStartsTracking() {
        QTest::mouseMove(button, QPoint(20, 10));
        QVERIFY(button->tracking());
        QVERIFY(button->hovered());
        leave(*button);
        QVERIFY(!button->tracking());
    }

    void disabledCaptionIsGrey() {
        QRect caption_area(button->caption_position(), QSize(30, 14));
        QImage enabled = shot(*button);
        const QColor text = button->palette().color(QPalette::ButtonText);
        QVERIFY(count(enabled, caption_area, text) > 0);
        button->setEnabled(false);
        QImage disabled = shot(*button);
        QCOMPARE(count(disabled, caption_area, text), 0);
        QVERIFY(count(disabled, caption_area, button->palette().color(QPalette::Dark)) > 0);
    }

    void iconShiftsTheCaption() {
        shot(*button);
        QPoint plain = button->caption_position();
        QPixmap icon(16, 16);
        icon.fill(Qt::green);
        button->SetIcon(QIcon(icon));
        QImage img = shot(*button);
        QCOMPARE(button->caption_position(), plain + QPoint(5, 0));
        QCOMPARE(pixel(img, 8, 10), QColor(Qt::green));
    }

    void widerThanTheFaceStaysFilled() {
        button->resize(300, 40);
        QImage img = shot(*button);
        const QImage& face = CXPButton::face(button->hovered());  // the mouse may rest there now
        // Beyond the picture its last column and row go on.
        QCOMPARE(pixel(img, 250, 10), face.pixelColor(face.width() - 1, 8));
        QCOMPARE(pixel(img, 50, 30), face.pixelColor(48, face.height() - 1));
    }

    void staticColours() {
        CStaticEx label(window);
        label.setGeometry(0, 40, 100, 16);
        label.setText("x");
        label.show();
        QCOMPARE(label.drawn_text_colour(), window_text_colour(label.palette()));
        label.SetLinkTarget("http://h/");
        QCOMPARE(label.drawn_text_colour(), label.text_colour());  // link text but no link mode
        label.SetLinkMode(true);
        QCOMPARE(label.drawn_text_colour(), rgb(0, 128, 192));
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0, 128, 192));
        label.SetLinkTarget("");
        QCOMPARE(label.drawn_text_colour(), label.text_colour());

        label.SetBackColour(rgb(228, 239, 255));
        QCOMPARE(pixel(shot(label), 95, 2), QColor(228, 239, 255));
        QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
        label.SetHandCursor(false);
        QCOMPARE(label.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(ButtonsTest)
#include "buttons_test.moc"
