// The HTML static on the offscreen platform: the markup and styles it writes
// for its owners, where its text box goes, clicks, hover, the disabled and
// transparent looks, the keyboard and what screen readers learn of it.
#include "client/controls/html_static.h"

#include "client/controls/qt_colour.h"
#include "client/controls/test_font.h"
#include "gui/qt_text.h"
#include "tests/support/accessible_tree.h"
#include "tests/support/pixels.h"
#include "tests/support/recording_desktop.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPushButton>
#include <QTest>

using namespace mirvo;
using mirvo::testing::recording_desktop;

namespace {

constexpr int px = 15;

QImage shot(QWidget& w) {
    QApplication::processEvents();
    return w.grab().toImage();
}

int count(const QImage& img, const QColor& c) { return mirvo::testing::count_pixels(img, c); }

}  // namespace

class HtmlStaticTest : public QObject {
    Q_OBJECT
    QWidget* window = nullptr;
    CHtmlStatic* label = nullptr;
    int adv = 0;

    void make(const QString& text, QRect geometry = QRect(10, 10, 200, 30)) {
        label = new CHtmlStatic(window);
        label->setFont(mirvo::testing::test_font(px));
        label->setText(text);
        label->setGeometry(geometry);
        label->show();
        QApplication::processEvents();
    }

private slots:
    void initTestCase() { adv = mirvo::testing::test_advance(px); }
    void init() {
        window = new QWidget;
        window->resize(300, 100);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup() { delete window; }

    void windowTextShowsInTheFontAndTextColour() {
        make("abc");
        const std::string colour = colour_hex(window_text_colour(label->palette()));
        QCOMPARE(label->html_text(), std::string("abc"));
        QCOMPARE(label->markup_to_draw(), "<font color=" + colour + ">abc</font>");
        QCOMPARE(std::string(*label->drawer().GetStyle("body")), "font-size:-15pt; color:" + colour + "; font-family:" +
                                                                     gbk(label->font().family()) + "; font-weight:400");
        QFont italic = label->font();
        italic.setItalic(true);
        italic.setBold(true);
        label->setFont(italic);
        QVERIFY(label->drawer().GetStyle("body")->ends_with("; font-weight:700; font-style:italic"));
        label->SetTextColour(std::nullopt);
        QCOMPARE(label->markup_to_draw(), std::string("abc"));
        // The label's text written through QLabel itself is taken as markup too.
        static_cast<QLabel*>(label)->setText(QString::fromUtf8("新闻信息"));
        shot(*label);
        QCOMPARE(label->html_text(), gbk_lit("新闻信息"));
    }

    void ownersWriteLinksAndTheirColours() {
        make("");
        label->SetHyperlinkText("X", "Y");
        QCOMPARE(label->html_text(), std::string("<a href=\"Y\">X</a>"));
        label->SetLinkColours(0xFF0000, true, 0x0000FF);
        QCOMPARE(std::string(*label->drawer().GetStyle("a:link")),
                 std::string("color:0xFF0000; text-decoration:underline"));
        QCOMPARE(std::string(*label->drawer().GetStyle("a:hover")),
                 std::string("color:0x0000FF; text-decoration:underline"));
        label->SetLinkColours(rgb(0, 0, 255), false, rgb(0, 0, 255));
        QCOMPARE(std::string(*label->drawer().GetStyle("a:link")), std::string("color:0xFF0000; text-decoration:none"));
    }

    void textBoxFollowsAlignment() {
        make("abc");
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        shot(*label);
        QCOMPARE(label->text_box().topLeft(), QPoint((200 - 3 * adv) / 2, 0));
        label->SetMargins(4, 3);
        label->SetAlignment(CHtmlStatic::align_right | CHtmlStatic::align_bottom);
        shot(*label);
        const int height = mirvo::testing::test_line_height(px);
        QCOMPARE(label->text_box(), QRect(200 - 3 * adv - 4, 30 - 3 - height, 3 * adv, height));
        label->SetAlignment(CHtmlStatic::align_left | CHtmlStatic::align_vcentre);
        shot(*label);
        QCOMPARE(label->text_box().topLeft(), QPoint(4, (30 - height) / 2));
    }

    void clicksOpenOnlyInsideTheTextBox() {
        recording_desktop desk;
        // A no-wrap label whose link is wider than the label, right-aligned
        // with a margin: the link runs on past the right end of its text box.
        make("", QRect(10, 10, 100, 30));
        label->SetHyperlinkText("abcdefghijklmnopqrstuvwxyz", "http://127.0.0.1/news");
        label->SetMargins(10, 0);
        label->SetAlignment(CHtmlStatic::align_right);
        shot(*label);
        QCOMPARE(label->text_box().right(), 100 - 10 - 1);
        QVERIFY(label->drawer().LinkUnderPoint(QPoint(95, 5)) >= 0);
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(95, 5));
        QVERIFY(desk.opened.empty());
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(50, 5));
        QCOMPARE(desk.opened, (std::vector<std::string>{"http://127.0.0.1/news"}));
        QTest::mouseClick(label, Qt::RightButton, {}, QPoint(50, 5));
        QCOMPARE(desk.opened.size(), std::size_t(1));
    }

    // These click at a point of their own: the mouse stays where it was left
    // between cases, and a move to the same point reaches no widget.
    void aCaptionKeepsItsLooksUntilALinkComes() {
        // The lesson window's news links start with their template caption
        // and get link colours before they get a link.
        make(QString::fromUtf8("\xE2\x96\x88\xE2\x96\x88"));  // full blocks
        label->SetLinkColours(colour_red, true, colour_blue);
        QImage caption = shot(*label);
        QCOMPARE(count(caption, QColor(255, 0, 0)), 0);
        QVERIFY(count(caption, label->palette().color(QPalette::WindowText)) > 0);
        label->SetHyperlinkText("\xA8\x80\xA8\x80", "http://127.0.0.1:18080/gonggao.htm");
        QVERIFY(count(shot(*label), QColor(255, 0, 0)) > 0);
        label->SetLinkColours(0x00336699, false, 0x00336699);
        QImage other = shot(*label);
        QCOMPARE(count(other, QColor(255, 0, 0)), 0);
        QVERIFY(count(other, QColor(0x99, 0x66, 0x33)) > 0);

        // A link without an address shows as a link but leads nowhere.
        recording_desktop desk;
        label->SetHyperlinkText("\xA8\x80\xA8\x80", "");
        shot(*label);
        QTest::mouseMove(label, QPoint(adv + 2, 6));
        QVERIFY(label->cursor().shape() != Qt::PointingHandCursor);
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(adv + 2, 6));
        QVERIFY(desk.opened.empty());
    }

    void aClickOpensOnlyWebAddresses() {
        recording_desktop desk;
        make("", QRect(10, 10, 100, 30));
        const std::string good[] = {"http://127.0.0.1:18080/help/help.htm#new", "https://example.org/a?b=1&c=%20",
                                    "HTTP://Example.org/"};
        const std::string bad[] = {"file:///etc/passwd",
                                   "/gonggao.htm",
                                   "gonggao.htm",
                                   "javascript:alert(1)",
                                   "mailto:a@b",
                                   "http://",
                                   "http:/x",
                                   "http:x//y",
                                   "ftp://example.org/",
                                   "http://exa mple.org/",
                                   "http://example.org/\n",
                                   "c:\\windows\\notepad.exe",
                                   "smb://host/share"};
        for (const std::string& address : good) {
            label->SetHyperlinkText("ad", address);
            shot(*label);
            QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(adv + 2, 6));
        }
        for (const std::string& address : bad) {
            label->SetHyperlinkText("ad", address);
            shot(*label);
            QVERIFY(label->drawer().LinkUnderPoint(QPoint(adv + 2, 6)) >= 0);
            QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(adv + 2, 6));
        }
        QCOMPARE(desk.opened, std::vector<std::string>(std::begin(good), std::end(good)));
        QVERIFY(desk.starts.empty());
        // Other buttons open nothing.
        label->SetHyperlinkText("ad", good[0]);
        shot(*label);
        QTest::mouseClick(label, Qt::MiddleButton, {}, QPoint(adv + 2, 6));
        QCOMPARE(desk.opened.size(), std::size(good));
    }

    void hoverChangesLookAndCursor() {
        make("");
        label->SetLinkColours(0xFF0000, true, 0x0000FF);
        label->SetHyperlinkText("\xA8\x80\xA8\x80", "http://127.0.0.1/");  // full blocks
        QImage resting = shot(*label);
        QVERIFY(count(resting, QColor(0, 0, 255)) > 0);
        QCOMPARE(count(resting, QColor(255, 0, 0)), 0);
        QTest::mouseMove(label, QPoint(adv, 5));
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        QImage hovered = shot(*label);
        QVERIFY(count(hovered, QColor(255, 0, 0)) > 0);
        QCOMPARE(count(hovered, QColor(0, 0, 255)), 0);
        QTest::mouseMove(label, QPoint(150, 5));
        QVERIFY(label->cursor().shape() != Qt::PointingHandCursor);
        QCOMPARE(label->drawer().hovered_link(), link_hover::none);
    }

    void disabledIsEmbossedAndInert() {
        recording_desktop desk;
        make("");
        label->SetHyperlinkText("\xA8\x80\xA8\x80", "http://127.0.0.1/");
        label->setEnabled(false);
        QImage img = shot(*label);
        // The light copy shows below and right of the shadow-coloured text,
        // lighter than the background (its edges blend with it).
        const int face = img.pixelColor(150, 25).red();
        int lighter = 0;
        for (int x = 0; x < 100; ++x) lighter += img.pixelColor(x, mirvo::testing::test_line_height(px)).red() > face;
        QVERIFY(lighter > adv);
        QVERIFY(count(img, label->palette().color(QPalette::Dark)) > 0);
        QCOMPARE(count(img, QColor(0, 0, 255)), 0);
        QTest::mouseMove(label, QPoint(adv, 5));
        QVERIFY(label->cursor().shape() != Qt::PointingHandCursor);
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(adv, 5));
        QVERIFY(desk.opened.empty());
    }

    void backgroundsFillOrCopy() {
        make("", QRect(10, 10, 100, 30));
        label->SetBackgroundColours(rgb(228, 239, 255));
        QCOMPARE(shot(*label).pixelColor(50, 20), QColor(228, 239, 255));
        label->SetBackgroundEffect(2);
        label->SetBackgroundColours(rgb(255, 0, 0), rgb(0, 0, 0), rgb(0, 0, 255));
        QImage grad = shot(*label);
        QCOMPARE(grad.pixelColor(50, 0), QColor(255, 0, 0));
        QCOMPARE(grad.pixelColor(50, 29), QColor(0, 0, 255));

        // Transparent: the parent's pixels at the first paint, kept until a resize.
        window->setAutoFillBackground(true);
        QPalette p = window->palette();
        p.setColor(QPalette::Window, Qt::green);
        window->setPalette(p);
        label->SetBackgroundMode(CHtmlStatic::transparent_background);
        label->RebuildBackground();
        QCOMPARE(shot(*label).pixelColor(50, 20), QColor(Qt::green));
        p.setColor(QPalette::Window, Qt::yellow);
        window->setPalette(p);
        window->update();
        QCOMPARE(shot(*label).pixelColor(50, 20), QColor(Qt::green));
        label->resize(120, 30);
        QCOMPARE(shot(*label).pixelColor(50, 20), QColor(Qt::yellow));
    }

    void linksTakeTheKeyboardWithAFocusFrameAndOpenWithEnter() {
        recording_desktop desk;
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto* before = new QPushButton("b", window);
        before->setGeometry(10, 60, 30, 20);
        before->show();
        make("", QRect(10, 10, 280, 30));
        auto* after = new QPushButton("a", window);
        after->setGeometry(50, 60, 30, 20);
        after->show();
        label->SetTextColour(rgb(0, 128, 0));
        label->SetLinkColours(colour_blue, false, colour_blue);
        // The link without an address is passed over.
        label->SetWindowText(
            "<a href=\"http://127.0.0.1/one\">one</a> and <a href=\"\">none</a> "
            "<a href=\"http://127.0.0.1/two\">two</a>");
        const QColor frame = label->palette().color(QPalette::WindowText);
        QCOMPARE(count(shot(*label), frame), 0);

        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(label));
        QCOMPARE(label->focused_link(), 0);
        const QImage focused = shot(*label);
        QVERIFY(count(focused, frame) > 0);
        // The frame stands around the first link only.
        const QRect one = label->link_rect(0);
        QVERIFY(!one.isEmpty());
        for (int x = one.right() + 2; x < focused.width(); ++x)
            for (int y = 0; y < focused.height(); ++y) QVERIFY(focused.pixelColor(x, y) != frame);
        QTest::keyClick(label, Qt::Key_Tab);
        QCOMPARE(label->focused_link(), 2);
        QTest::keyClick(label, Qt::Key_Return);
        QCOMPARE(desk.opened, std::vector<std::string>{"http://127.0.0.1/two"});
        QTest::keyClick(label, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(after));
        QCOMPARE(count(shot(*label), frame), 0);
        // Shift+Tab comes back in at the last link and goes on to the first.
        QTest::keyClick(after, Qt::Key_Backtab);
        QCOMPARE(label->focused_link(), 2);
        QTest::keyClick(label, Qt::Key_Backtab);
        QCOMPARE(label->focused_link(), 0);
        QTest::keyClick(label, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(desk.opened.back(), std::string("http://127.0.0.1/one"));

        // Nothing to open, nothing to stop at: a caption, an empty link.
        label->SetWindowText("caption");
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        label->SetHyperlinkText("", "http://127.0.0.1/");
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);

        // In a dialog, Enter on a link opens it and presses no default button.
        QDialog dialog;
        auto* ok = new QPushButton("ok", &dialog);
        ok->setDefault(true);
        auto* link = new CHtmlStatic(&dialog);
        link->setGeometry(0, 30, 100, 20);
        link->SetHyperlinkText("reg", "http://127.0.0.1/reg");
        bool pressed = false;
        QObject::connect(ok, &QPushButton::clicked, [&] { pressed = true; });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        link->setFocus(Qt::TabFocusReason);
        QTest::keyClick(link, Qt::Key_Return);
        QVERIFY(!pressed);
        QCOMPARE(desk.opened.back(), std::string("http://127.0.0.1/reg"));

        // A window that never takes the keyboard keeps its links for the mouse.
        QWidget notice;
        notice.setAttribute(Qt::WA_ShowWithoutActivating);
        auto* mouse_only = new CHtmlStatic(&notice);
        mouse_only->SetHyperlinkText("msg", "http://127.0.0.1/msg");
        notice.show();
        QCOMPARE(mouse_only->focusPolicy(), Qt::NoFocus);
    }

    void screenReadersReadTheTextAndLinksNeverTheMarkup() {
        recording_desktop desk;
        make("", QRect(10, 10, 280, 60));
        label->SetWindowText(
            "<b>Hello</b>  <a href=\"http://127.0.0.1/x?pw=secret\">dear <i>friend</i></a><br>"
            "bye <a href=\"\">gone</a>");
        shot(*label);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::StaticText);
        QCOMPARE(iface->text(QAccessible::Name), QString("Hello dear friend bye gone"));
        QCOMPARE(iface->childCount(), 2);
        QAccessibleInterface* dear = iface->child(0);
        QCOMPARE(dear->role(), QAccessible::Link);
        QCOMPARE(dear->text(QAccessible::Name), QString("dear friend"));
        QCOMPARE(dear->parent(), iface);
        QCOMPARE(iface->indexOfChild(dear), 0);
        QVERIFY(dear->state().focusable);
        QVERIFY(!dear->rect().isEmpty());
        QCOMPARE(iface->childAt(dear->rect().center().x(), dear->rect().center().y()), dear);
        QCOMPARE(dear->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
        dear->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(desk.opened, std::vector<std::string>{"http://127.0.0.1/x?pw=secret"});
        QAccessibleInterface* gone = iface->child(1);
        QCOMPARE(gone->text(QAccessible::Name), QString("gone"));
        QVERIFY(gone->actionInterface()->actionNames().isEmpty());
        QVERIFY(!gone->state().focusable);
        for (QAccessibleInterface* node : mirvo::testing::accessible_nodes(iface))
            for (const QString& said : mirvo::testing::readable_texts(node))
                QVERIFY2(!said.contains("http") && !said.contains("secret") && !said.contains('<'), qPrintable(said));

        // The focused link is the focus child.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        label->setFocus(Qt::TabFocusReason);
        QCOMPARE(iface->focusChild(), dear);
        QVERIFY(dear->state().focused);

        // New text, new links: the old second link is gone.
        label->SetHyperlinkText(gbk_lit("新闻"), "http://127.0.0.1/news");
        QCOMPARE(iface->text(QAccessible::Name), QString::fromUtf8("新闻"));
        QCOMPARE(iface->childCount(), 1);
        QCOMPARE(iface->child(0)->text(QAccessible::Name), QString::fromUtf8("新闻"));
        QVERIFY(!gone->isValid());
    }
};

QTEST_MAIN(HtmlStaticTest)
#include "html_static_test.moc"
