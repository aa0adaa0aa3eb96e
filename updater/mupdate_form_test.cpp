// The updater's window on the offscreen platform: its template, and the
// procedure run from its initialisation against a scripted server, with a
// recording desktop answering the boxes and taking the program starts.
#include "updater/mupdate_form.h"

#include "gui/desktop.h"
#include "gui/pump.h"
#include "gui/qt_status.h"
#include "gui/qt_text.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/test_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <filesystem>

using namespace mirvo;
using mirvo::testing::recording_desktop;
using mirvo::testing::scripted_response;
using mirvo::testing::test_http_server;
namespace fs = std::filesystem;

namespace {

// Counts the paints a widget gets.
class paint_counter : public QObject {
public:
    explicit paint_counter(QWidget* w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

}  // namespace

class MupdateFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<mirvo::testing::temp_folder> folder_;
    std::unique_ptr<recording_desktop> desktop_;
    fs::path saved_cwd_;

private slots:
    void initTestCase() {
        install_qt_message_pump();
        set_application_title("mupdate");
    }
    void init() {
        folder_ = std::make_unique<mirvo::testing::temp_folder>();
        saved_cwd_ = fs::current_path();
        fs::current_path(folder_->path());
        fs::create_directories(fs::path(folder_->path()) / "dl");
        desktop_ = std::make_unique<recording_desktop>();
    }
    void cleanup() {
        desktop_.reset();
        fs::current_path(saved_cwd_);
        folder_.reset();
    }

    void theTemplateHasItsCaptionControlsAndACloseBoxForTheWorkOnly() {
        Cmupdate_form form;
        QCOMPARE(form.windowTitle(), QString("mupdate"));
        QCOMPARE(form.size(), QSize(480, 224));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.property("control_id").toInt(), 102);
        QCOMPARE(form.status_line()->property("control_id").toInt(), 1001);
        // Its own words, in Chinese, until the procedure speaks.
        QCOMPARE(form.status_line()->text(), QString::fromUtf8("正在启动更新程序......"));
        QVERIFY(form.status_line()->alignment() & Qt::AlignHCenter);
        QCOMPARE(form.status_line()->geometry(), QRect(8, 15, 450, 59));
        QCOMPARE(form.progress()->property("control_id").toInt(), 1000);
        QCOMPARE(form.progress()->geometry(), QRect(11, 198, 459, 15));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags & Qt::WindowTitleHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        // Closing calls the work off; the window itself goes when the work has.
        form.show();
        QVERIFY(!form.close());
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isVisible());
    }

    void closingTheWindowEndsTheDownloadsWithEveryFileWhole() {
        test_http_server server;
        server.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!"));
        scripted_response slow = scripted_response::text(200, "");
        for (int i = 0; i < 300; ++i) slow.pieces.push_back({std::string(1000, 'n'), 20});
        server.on("/dl/client/mirvo", slow);
        server.on("/dl/client/help.htm", scripted_response::text(200, "help"));
        mirvo::testing::write_bytes(folder_->path() + "/mirvo", "old client");
        mirvo::testing::write_bytes(
            folder_->path() + "/dl/download.xml",
            "<download><file order=\"1\" get_name=\"dl/client/help.htm\" save_as=\"help.htm\" />"
            "<file order=\"2\" get_name=\"dl/client/mirvo\" save_as=\"mirvo\" />"
            "<run_after_download>mirvo</run_after_download></download>");
        Cmupdate_form form;
        QTimer::singleShot(400, &form, [&] { form.close(); });
        QElapsedTimer clock;
        clock.start();
        form.OnInitDialog({{server.base_url(), "", ""}, {}});
        QVERIFY2(clock.elapsed() < 3000, std::to_string(clock.elapsed()).c_str());
        QCOMPARE(form.outcome().end, update_end::cancelled);
        QCOMPARE(mirvo::testing::read_bytes(folder_->path() + "/help.htm"), std::string("help"));
        QCOMPARE(mirvo::testing::read_bytes(folder_->path() + "/mirvo"), std::string("old client"));
        QVERIFY(desktop_->starts.empty());
        QCOMPARE(desktop_->boxes.size(), 1u);
        QCOMPARE(desktop_->boxes[0].text, gbk_lit("您取消了更新。已经安装的文件都是完整的，其余的文件保持原样。"));
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void withoutAServerTheWindowShowsTheMessageAndEnds() {
        test_http_server closed;
        const std::string url = closed.base_url();
        closed.stop();
        Cmupdate_form form;
        // The box comes over the window, which is up by then.
        struct seeing_desktop : desktop {
            Cmupdate_form* form = nullptr;
            std::vector<std::string> texts, captions;
            bool visible_under_box = false;
            box_answer message_box(QWidget* owner, const std::string& text, const std::string& caption,
                                   box_kind) override {
                visible_under_box = form->isVisible() && owner == form;
                texts.push_back(text);
                captions.push_back(caption);
                return box_answer::ok;
            }
            bool start_program(const std::string&, const QStringList&, const std::string&) override {
                started = true;
                return true;
            }
            bool started = false;
        };
        desktop_.reset();
        seeing_desktop desktop;
        desktop.form = &form;
        set_desktop(&desktop);
        QVERIFY(!form.OnInitDialog({{url, url, url}, {}}));
        set_desktop(nullptr);
        QVERIFY(desktop.visible_under_box);
        QCOMPARE(desktop.texts.size(), 1u);
        QCOMPARE(desktop.captions[0], std::string("mupdate"));
        QCOMPARE(desktop.texts[0], gbk_lit("无法获取服务器信息！请检查您的互联网连接是否正确!"));
        QCOMPARE(form.status_line()->text(), QString::fromUtf8("正在检查互联网连接......"));
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.outcome().end, update_end::no_server);
        QVERIFY(!desktop.started);
    }

    void anUpdateRunsFromTheInitialisationAndStartsTheClient() {
        test_http_server server;
        server.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!"));
        server.on("/dl/client/mirvo.xml", scripted_response::text(200, "<mirvo>3.9</mirvo>"));
        std::string body(20000, 'x');
        server.on("/dl/client/big.bin", scripted_response::text(200, body));
        mirvo::testing::write_bytes(folder_->path() + "/mirvo", "client");
        mirvo::testing::write_bytes(
            folder_->path() + "/dl/download.xml",
            "<download><file order=\"1\" get_name=\"dl/client/big.bin\" save_as=\"big.bin\" />"
            "<file order=\"2\" get_name=\"dl/client/mirvo.xml\" save_as=\"mirvo.xml\" />"
            "<version_file>dl/client/mirvo.xml</version_file><run_after_download>mirvo</run_after_download>"
            "<show_message>" +
                gbk_lit("已更新") + "</show_message></download>");
        Cmupdate_form form;
        QVERIFY(form.OnInitDialog({{server.base_url(), "", ""}, {}}));
        QCOMPARE(form.windowTitle(), QString::fromUtf8("正在从互联网上下载资料......"));
        // What the procedure said last is what the label shows.
        QCOMPARE(form.status_line()->text(), QString::fromUtf8("完成下载文件:mirvo.xml"));
        QCOMPARE(mirvo::testing::read_bytes(folder_->path() + "/big.bin"), body);
        QCOMPARE(mirvo::testing::read_bytes(folder_->path() + "/mirvo.xml"), std::string("<mirvo>3.9</mirvo>"));
        QVERIFY(!fs::exists(fs::path(folder_->path()) / "dl/download.xml"));
        QCOMPARE(desktop_->starts.size(), 1u);
        QCOMPARE(desktop_->starts[0].program, folder_->path() + "\\mirvo");
        QVERIFY(desktop_->starts[0].args.isEmpty());
        QCOMPARE(desktop_->starts[0].folder, folder_->path());
        QCOMPARE(desktop_->boxes.size(), 1u);
        QCOMPARE(desktop_->boxes[0].text, gbk_lit("下载处理完毕！已更新"));
        QCOMPARE(desktop_->boxes[0].caption, std::string("mupdate"));
        QVERIFY(!form.progress()->isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void aStatusLineSetPerReadPaintsAtTheDisplaysPaceAndEndsOnItsLastText() {
        QLabel label;
        label.resize(300, 30);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        paint_counter counter(&label);
        paced_label_status_line line(&label);
        line.set_text(gbk_lit("第一"));
        line.repaint();
        QCOMPARE(label.text(), QString::fromUtf8("第一"));  // the first text at once
        QElapsedTimer clock;
        clock.start();
        int n = 0;
        while (clock.elapsed() < 100) {
            line.set_text(std::to_string(++n));
            line.repaint();
            drain_message_queue();
        }
        // About one paint per frame, not one per text; the last text comes
        // with the next frame.
        QVERIFY2(counter.paints < 20, std::to_string(counter.paints).c_str());
        QVERIFY(n > 200);
        QTRY_COMPARE(label.text(), QString::number(n));
    }

    void thePacedPumpStillDispatches() {
        paced_qt_message_pump pump(2);
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        QElapsedTimer clock;
        clock.start();
        while (!fired && clock.elapsed() < 1000) pump.drain();
        QVERIFY(fired);
    }
};

QTEST_MAIN(MupdateFormTest)
#include "mupdate_form_test.moc"
