// The programs' texts on a Linux system: the windows' font name reaches a
// Chinese font, Qt's own buttons speak Chinese, and a computer without any
// Chinese font is told what to install in a box it can draw.
#include "gui/fonts.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_desktop.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <fstream>

using namespace mirvo;

namespace {

QString button_text(QDialogButtonBox::StandardButton which) {
    QDialogButtonBox box(which);
    return box.button(which)->text();
}

// Without Chinese fonts, in a process of its own (fontconfig is read once):
// prints what the start-up did.
int probe_without_chinese_fonts() {
    testing::recording_desktop desktop;
    const bool drawn = set_up_program_texts(true);
    std::printf("drawn=%d boxes=%zu yes=%s\n", drawn ? 1 : 0, desktop.boxes.size(),
                button_text(QDialogButtonBox::Yes).toUtf8().constData());
    for (const auto& box : desktop.boxes) std::printf("caption=%s\ntext=%s\n", box.caption.c_str(), box.text.c_str());
    return 0;
}

}  // namespace

class ProgramTextsTest : public QObject {
    Q_OBJECT
private slots:
    void withChineseFontsTheWindowsFontAndQtsButtonsAreChinese() {
        testing::recording_desktop desktop;
        QVERIFY(set_up_program_texts(true));
        QVERIFY(desktop.boxes.empty());
        // "宋体" is what the lesson window's links ask for.
        QFont song(QString::fromUtf8("宋体"));
        song.setPixelSize(11);
        const QString family = QFontInfo(song).family();
        QVERIFY2(QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(family), qPrintable(family));
        QCOMPARE(button_text(QDialogButtonBox::Ok), QString::fromUtf8("确定"));
        QVERIFY2(button_text(QDialogButtonBox::Yes).startsWith(QString::fromUtf8("是")),
                 qPrintable(button_text(QDialogButtonBox::Yes)));
        QVERIFY2(button_text(QDialogButtonBox::No).startsWith(QString::fromUtf8("否")),
                 qPrintable(button_text(QDialogButtonBox::No)));
    }

    void withoutChineseFontsTheUserIsToldInABoxThatDraws() {
        testing::temp_folder t;
        const QString conf = QString::fromStdString(t.path() + "/fonts.conf");
        std::ofstream(conf.toStdString()) << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                                             "<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir>"
                                             "<cachedir>"
                                          << t.path() << "/cache</cachedir></fontconfig>\n";
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FONTCONFIG_FILE", conf);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationFilePath(), {"--without-chinese-fonts"});
        QVERIFY(probe.waitForFinished(60000));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        QVERIFY2(out.startsWith("drawn=0 boxes=1 yes=&Yes\n"), qPrintable(out));
        // The box's words must draw without a Chinese font: plain ASCII.
        for (QChar c : out) QVERIFY2(c.unicode() < 0x80, qPrintable(out));
        QVERIFY2(out.contains("fonts-wqy-microhei") && out.contains("fonts-noto-cjk"), qPrintable(out));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--without-chinese-fonts") return probe_without_chinese_fonts();
    ProgramTextsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "program_texts_test.moc"
