// A catalogue program started from the lesson window on the offscreen
// platform: the prompt through the desktop's message box, the program started
// for real with its argument vector, and the hand-over to the updater.
#include "client/forms/message_form.h"
#include "client/lessons/lesson_form.h"
#include "client/login/session.h"
#include "common/fs/paths.h"
#include "gui/desktop.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "tests/support/fixtures.h"
#include "tests/support/lesson_test_service.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/test_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

using namespace mirvo;
using mirvo::testing::scripted_response;
namespace fs = std::filesystem;

namespace {

class fake_player : public QWidget, public mirvo::testing::scripted_player_state {
public:
    explicit fake_player(QWidget* parent) : QWidget(parent) {}
};

// Answers message boxes and records them, but starts programs for real.
class answering_desktop : public desktop {
public:
    answering_desktop() { set_desktop(this); }
    ~answering_desktop() override { set_desktop(nullptr); }
    box_answer message_box(QWidget* owner, const std::string& text, const std::string& caption, box_kind) override {
        owners.push_back(owner);
        texts.push_back(text);
        captions.push_back(caption);
        return box_answer::no;
    }
    std::vector<QWidget*> owners;
    std::vector<std::string> texts, captions;
};

// Writes the folder it runs in and each argument in brackets, one a line.
const char* const recorder = "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > args.txt\n";

}  // namespace

class LessonProgramsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<mirvo::testing::temp_folder> folder_;
    std::unique_ptr<mirvo::testing::test_http_server> server_;
    no_wait_pump pump_;
    session_values saved_;

    std::string folder() const { return folder_->path(); }
    void put(const std::string& rel, const std::string& bytes) {
        mirvo::testing::write_bytes(folder() + "/" + rel, bytes);
    }
    std::unique_ptr<lesson_form> open_window() {
        return std::make_unique<lesson_form>(nullptr, [](QWidget* parent) {
            auto* p = new fake_player(parent);
            return player_parts{p, p};
        });
    }

private slots:
    void init() {
        set_message_pump(&pump_);
        folder_ = std::make_unique<mirvo::testing::temp_folder>();
        fs::create_directories(folder() + "/dl");
        set_program_folder(folder());
        server_ = std::make_unique<mirvo::testing::test_http_server>();
        // One program, the first entry: the window starts it as it opens.
        server_->otherwise(scripted_response::text(
            200, mirvo::testing::baselist_reply({{1, {"C", {{"S", {{"Rec", "games", "game", "rec.exe"}}}}}}})));
        saved_ = session();
        session() = {server_->base_url(), "service.aspx", gbk_lit("张 三"), "pw 1"};
    }
    void cleanup() {
        session() = saved_;
        server_.reset();
        set_program_folder({});
        folder_.reset();
        set_message_pump(nullptr);
    }

    void anOlderInstalledProgramIsOfferedAnUpdateAndStartedWithItsArguments() {
        put("rec.exe", recorder);
        fs::permissions(folder() + "/rec.exe", fs::perms::owner_all);
        put("rec.xml", "<version>1.2</version>");
        server_->on("/rec.xml", scripted_response::text(200, "<version>1.3</version>"));
        answering_desktop desktop;
        auto form = open_window();

        QCOMPARE(desktop.texts.size(), 1u);
        QCOMPARE(desktop.texts[0], gbk_lit("发现新版本，是否下载?在下载完毕后重新按播放按钮来运行"));
        QCOMPARE(desktop.captions[0], std::string("mirvo"));
        QCOMPARE(desktop.owners[0], form.get());
        QTRY_VERIFY(fs::exists(folder() + "/args.txt"));
        QTRY_COMPARE(
            QString::fromStdString(mirvo::testing::read_bytes(folder() + "/args.txt")),
            QString::fromStdString(folder()) + QString::fromUtf8("\n[user_name=张 三]\n[user_password=pw 1]\n"));
        QCOMPARE(form->windowTitle(), QString::fromUtf8("在线人数:37"));
    }

    void aMissingProgramGoesToTheUpdater() {
        server_->on("//dl/download_rec.xml", scripted_response::text(200, "<download>rec</download>"));
        mirvo::testing::recording_desktop desktop;
        auto form = open_window();
        QCOMPARE(desktop.starts.size(), 1u);
        QCOMPARE(desktop.starts[0].program, folder() + "\\mupdate");
        QVERIFY(desktop.starts[0].args.isEmpty());
        QCOMPARE(desktop.starts[0].folder, folder());
        QVERIFY(desktop.boxes.empty());
        QCOMPARE(mirvo::testing::read_bytes(folder() + "/dl/download.xml"), std::string("<download>rec</download>"));
    }

    // A start that waits on a silent service (its version check, or the
    // program's list) is called off by closing the loading window, by
    // Escape there or in the lesson window; nothing starts afterwards.
    void closingTheLoadingWindowOrEscapeCallsTheStartOffAndStartsNothing() {
        mirvo::testing::short_transfer_timeouts timeouts(std::chrono::milliseconds(10000));
        qt_message_pump qt_pump;
        set_message_pump(&qt_pump);
        server_->on("/rec.xml", scripted_response::never_answer());
        server_->on("//dl/download_rec.xml", scripted_response::never_answer());
        put("rec.exe", recorder);
        fs::permissions(folder() + "/rec.exe", fs::perms::owner_all);
        mirvo::testing::recording_desktop desktop;
        const auto loading_window = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* m = qobject_cast<message_form*>(w); m && m->isVisible()) return m;
            return static_cast<message_form*>(nullptr);
        };
        std::unique_ptr<lesson_form> form;
        using stop = std::function<void(message_form&)>;
        const std::vector<std::pair<const char*, stop>> ways = {
            {"close box", [](message_form& m) { m.close(); }},
            {"Escape", [](message_form& m) { QTest::keyClick(&m, Qt::Key_Escape); }},
            {"the lesson window's Escape", [](message_form& m) { QTest::keyClick(m.parentWidget(), Qt::Key_Escape); }},
        };
        for (const auto& [what, how] : ways) {
            bool stopped = false;
            QTimer::singleShot(300, [&, how = how] {
                if (message_form* m = loading_window()) {
                    QCOMPARE(m->status()->text(), QString::fromUtf8("正在执行您的操作，请稍等..."));
                    how(*m);
                    stopped = true;
                }
            });
            QElapsedTimer clock;
            clock.start();
            form = open_window();
            QVERIFY2(stopped, what);
            QVERIFY2(clock.elapsed() < 3000, what);
            QVERIFY2(!loading_window(), what);
            // The second time round the program is missing: its list is what waits.
            fs::remove(folder() + "/rec.exe");
        }
        QVERIFY(desktop.starts.empty());
        QVERIFY(desktop.boxes.empty());
        QVERIFY(!fs::exists(folder() + "/args.txt"));
        set_message_pump(&pump_);
    }
};

QTEST_MAIN(LessonProgramsTest)
#include "lesson_programs_test.moc"
