// The label that stands in for the HTML static: its text, its colours at rest
// and under the mouse, and which addresses a click opens.
#include "client/controls/label_link.h"

#include "gui/desktop.h"
#include "gui/qt_text.h"
#include "gui/web_address.h"
#include "tests/support/recording_desktop.h"

#include <QLabel>
#include <QTest>

using namespace mirvo;
using mirvo::testing::recording_desktop;

class LabelLinkTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheTextInTheLinkColours() {
        QLabel label(QString::fromUtf8("新闻信息"));
        const QPalette before = label.palette();
        label_link link(&label);
        // The caption the label came with keeps its looks until a link comes.
        link.SetLinkColours(colour_red, true, colour_blue);
        QCOMPARE(label.palette(), before);
        QVERIFY(!label.font().underline());
        link.SetHyperlinkText(gbk_lit("您有新信息!"), "http://127.0.0.1:18080/gonggao.htm");
        QCOMPARE(label.text(), QString::fromUtf8("您有新信息!"));
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(label.font().underline());
        QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);

        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(&label, &enter);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&label, &leave);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(255, 0, 0));

        link.SetLinkColours(0x00336699, false, 0x00336699);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0x99, 0x66, 0x33));
        QVERIFY(!label.font().underline());
        // Text that looks like markup is shown as it is.
        link.SetHyperlinkText("<b>x</b>", "");
        QCOMPARE(label.text(), QString("<b>x</b>"));
        QCOMPARE(label.cursor().shape(), Qt::ArrowCursor);
    }

    void aClickOpensOnlyAbsoluteWebAddresses() {
        recording_desktop desk;
        QLabel label;
        label.resize(100, 20);
        label_link link(&label);
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
                                   "smb://host/share",
                                   ""};
        for (const std::string& address : good) {
            link.SetHyperlinkText("ad", address);
            QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
        }
        for (const std::string& address : bad) {
            link.SetHyperlinkText("ad", address);
            QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
            QVERIFY2(!is_web_address(address), address.c_str());
        }
        QCOMPARE(desk.opened, std::vector<std::string>(std::begin(good), std::end(good)));

        // Other buttons, and a press dragged off the label, open nothing.
        link.SetHyperlinkText("ad", good[0]);
        QTest::mouseClick(&label, Qt::MiddleButton, {}, QPoint(5, 5));
        QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(150, 5));
        QCOMPARE(desk.opened.size(), std::size(good));
    }

    void aLabelThatIsGoneIsNoFault() {
        auto* label = new QLabel;
        label_link link(label);
        delete label;
        link.SetHyperlinkText("x", "http://a.b/");
        link.SetLinkColours(colour_blue, true, colour_red);
        QCOMPARE(link.address(), std::string("http://a.b/"));
    }
};

QTEST_MAIN(LabelLinkTest)
#include "label_link_test.moc"
