// The drawing engine with a fixed font: sizes, wrapping, colours as drawn,
// hit testing, hover notifications and what activating a link starts.
#include "client/controls/html_drawer.h"

#include "client/controls/qt_colour.h"
#include "client/controls/test_font.h"
#include "common/text/gbk.h"
#include "tests/support/recording_desktop.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace mirvo;
using mirvo::testing::recording_desktop;

namespace {

constexpr int px = 15;  // whole-pixel advances for this font
constexpr int notify = 32868;

// Counts the hover notifications a window receives.
class notify_counter : public QObject {
public:
    std::vector<int> indices;
    bool event(QEvent* e) override {
        if (e->type() != static_cast<QEvent::Type>(notify)) return QObject::event(e);
        indices.push_back(static_cast<html_notify_event*>(e)->index);
        return true;
    }
};

void use_test_font(CHtmlDrawer& d, int size = px) {
    d.SetStyle("body", "font-size:-" + std::to_string(size) +
                           "pt; color:black; font-family:" + mirvo::testing::test_font_family().toStdString());
}

QImage draw(CHtmlDrawer& d, const std::string& markup, QSize size = QSize(200, 40)) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    d.Measure(markup, 0);
    QPainter p(&img);
    d.Draw(p, img.rect());
    return img;
}

}  // namespace

class HtmlDrawerTest : public QObject {
    Q_OBJECT
    int adv = 0;
    int line = 0;

private slots:
    void initTestCase() {
        adv = mirvo::testing::test_advance(px);
        line = mirvo::testing::test_line_height(px);
        QVERIFY(adv > 0);
        QCOMPARE(QFontMetrics(mirvo::testing::test_font(px)).horizontalAdvance('W'), adv);  // monospaced
    }

    void measuresAndBreaksLines() {
        CHtmlDrawer d;
        use_test_font(d);
        QCOMPARE(d.Measure("aaa bbb ccc", 0), QSize(11 * adv, line));
        // Breaks after the last break character that still fits.
        QCOMPARE(d.Measure("aaa bbb ccc", 8 * adv), QSize(8 * adv, 2 * line));
        QCOMPARE(d.Measure("one,two.three", 9 * adv), QSize(8 * adv, 2 * line));
        // A word that fits nowhere is cut before the first character that does not fit.
        QCOMPARE(d.Measure("abcdefgh", 3 * adv + 1), QSize(3 * adv, 3 * line));
        // Width 1: one character per line, and the layout ends.
        QCOMPARE(d.Measure("abc", 1), QSize(adv, 3 * line));
        QCOMPARE(d.Measure("", 50), QSize(0, 0));
        // "<<" and &lt; are one character each.
        QCOMPARE(d.Measure("a<<b", 0).width(), 3 * adv);
        QCOMPARE(d.Measure("a&lt;b&amp;", 0).width(), 4 * adv);
        // Chinese text is measured with the fallback font, character by character.
        QVERIFY(d.Measure(utf8_to_gbk("注册新用户"), 0).width() > 0);
    }

    void nestedTagsGiveTheirFonts() {
        CHtmlDrawer d;
        use_test_font(d);
        d.Measure("<b>a<b>b<b>c</b></b></b><i>d<i>e</i></i>", 0);
        const auto& items = d.layout().lines.at(0).items;
        QCOMPARE(items.size(), std::size_t(4));
        QCOMPARE(items[0].font.weight, 800);
        QCOMPARE(items[1].font.weight, 900);  // capped: "b" and "c" look alike
        QCOMPARE(items[1].text, std::string("bc"));
        QVERIFY(items[2].font.italic);
        QVERIFY(!items[3].font.italic);
    }

    // Colours as drawn: a full block glyph covers whole pixels in its colour.
    void coloursInBothForms() {
        CHtmlDrawer d;
        use_test_font(d, 30);
        const std::string block = "\xA8\x80";  // U+2588 in GBK
        QImage img =
            draw(d, "<font color=0x0000FF>" + block + "</font><font color=#0000FF>" + block +
                        "</font><font color=green>" + block + "<font color=nosuchname>" + block + "</font></font>");
        const int a = mirvo::testing::test_advance(30), mid = d.layout().height / 2;
        QCOMPARE(img.pixelColor(a / 2, mid), QColor(255, 0, 0));
        QCOMPARE(img.pixelColor(a + a / 2, mid), QColor(0, 0, 255));
        QCOMPARE(img.pixelColor(2 * a + a / 2, mid), QColor(0, 128, 0));
        QCOMPARE(img.pixelColor(3 * a + a / 2, mid), QColor(0, 128, 0));
    }

    void hitTestingUsesInclusiveBounds() {
        CHtmlDrawer d;
        use_test_font(d);
        QImage img(200, 40, QImage::Format_RGB32);
        d.Measure("xx<a href=\"http://h/\">yy</a> <a msg=\"m\">z</a>", 0);
        QPainter p(&img);
        d.Draw(p, QRect(10, 20, 180, 20));
        QCOMPARE(d.link_areas().size(), std::size_t(2));
        const link_area& a = d.link_areas()[0];
        QCOMPARE(a.left, 10 + 2 * adv);
        QCOMPARE(a.right, 10 + 4 * adv - 1);
        QCOMPARE(a.top, 20);
        QCOMPARE(d.LinkUnderPoint(QPoint(a.left, a.top)), 0);
        QCOMPARE(d.LinkUnderPoint(QPoint(a.right, a.bottom)), 0);
        QCOMPARE(d.LinkUnderPoint(QPoint(a.right + 1, a.bottom)), -1);
        QCOMPARE(d.LinkUnderPoint(QPoint(a.left - 1, a.top)), -1);
        QCOMPARE(d.LinkUnderPoint(QPoint(10 + 5 * adv, 21)), 1);
    }

    void hoverNotifiesOnlyOnChange() {
        CHtmlDrawer d;
        use_test_font(d);
        notify_counter window;
        d.SetNotify(&window, notify, 7);
        draw(d, "<a href=\"http://h/1\">aa</a>  <a href=\"http://h/2\">bb</a>");
        QVERIFY(d.TrackHover(QPoint(1, 1)));
        QVERIFY(d.TrackHover(QPoint(adv + 1, 2)));  // same link
        QVERIFY(d.TrackHover(QPoint(4 * adv + 1, 2)));
        QVERIFY(!d.TrackHover(QPoint(3 * adv, 2)));  // between the links
        QVERIFY(!d.TrackHover(QPoint(150, 30)));
        QCOMPARE(window.indices, (std::vector<int>{0, 1, link_hover::none}));
        QCOMPARE(d.hovered_link(), link_hover::none);
    }

    void hoveredLinkTakesItsHoverStyle() {
        CHtmlDrawer d;
        use_test_font(d, 30);
        d.SetStyle("a:link", "color:0xFF0000; text-decoration:none");
        d.SetStyle("a:hover", "color:0x0000FF; text-decoration:underline");
        const std::string markup = "<a href=\"http://h/\">\xA8\x80</a>";
        QImage before = draw(d, markup);
        const int a = mirvo::testing::test_advance(30), mid = d.layout().height / 2;
        QCOMPARE(before.pixelColor(a / 2, mid), QColor(0, 0, 255));
        d.TrackHover(QPoint(a / 2, mid));
        QImage after(before.size(), QImage::Format_RGB32);
        after.fill(Qt::white);
        QPainter p(&after);
        d.Draw(p, after.rect());  // no new Measure: the notified window only redraws
        QCOMPARE(after.pixelColor(a / 2, mid), QColor(255, 0, 0));
    }

    void activationOpensOnlyWebAddresses() {
        recording_desktop desk;
        CHtmlDrawer d;
        use_test_font(d);
        std::vector<std::pair<std::string, qintptr>> messages;
        draw(d,
             "<a href=\"http://127.0.0.1/a?x=1&y=2\">a</a><a href=\"file:///etc/passwd\">b</a>"
             "<a href=\"\">c</a><a msg=\"note\">d</a>");
        QCOMPARE(d.link_areas().size(), std::size_t(4));
        for (int i = 0; i < 4; ++i) d.ActivateLink(i);  // no callback: the message link does nothing
        d.ActivateLink(99);
        QCOMPARE(desk.opened, (std::vector<std::string>{"http://127.0.0.1/a?x=1&y=2"}));
        QVERIFY(desk.starts.empty());

        d.SetLinkCallback([&](const std::string& text, qintptr param) { messages.emplace_back(text, param); }, 42);
        d.ActivateLink(3);
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].first, std::string("note"));
        QCOMPARE(messages[0].second, qintptr(42));
        QCOMPARE(desk.opened.size(), std::size_t(1));
    }

    void roleColoursComeFromTheApplicationPalette() {
        const QPalette saved = QGuiApplication::palette();
        QPalette p = saved;
        p.setColor(QPalette::Highlight, QColor(1, 2, 3));
        p.setColor(QPalette::WindowText, QColor(4, 5, 6));
        p.setColor(QPalette::Button, QColor(7, 8, 9));
        QGuiApplication::setPalette(p);
        CHtmlDrawer d;
        QGuiApplication::setPalette(saved);
        QCOMPARE(d.colours().find("highlight"), std::optional<colour_ref>(rgb(1, 2, 3)));
        QCOMPARE(d.colours().find("windowtext"), std::optional<colour_ref>(rgb(4, 5, 6)));
        QCOMPARE(d.colours().find("buttonface"), std::optional<colour_ref>(rgb(7, 8, 9)));
        QCOMPARE(d.colours().find("threedface"), std::optional<colour_ref>(rgb(7, 8, 9)));
        QCOMPARE(d.colours().size(), std::size_t(168));
    }

    void disabledTextTakesTheDisabledColour() {
        CHtmlDrawer d;
        use_test_font(d, 30);
        d.SetEnabled(false);
        d.SetDisabledColour(rgb(10, 20, 30));
        QImage img = draw(d, "<font color=red>\xA8\x80</font><a href=\"http://h/\">\xA8\x80</a>");
        const int a = mirvo::testing::test_advance(30), mid = d.layout().height / 2;
        QCOMPARE(img.pixelColor(a / 2, mid), QColor(10, 20, 30));
        QCOMPARE(img.pixelColor(a + a / 2, mid), QColor(10, 20, 30));
    }
};

QTEST_MAIN(HtmlDrawerTest)
#include "html_drawer_test.moc"
