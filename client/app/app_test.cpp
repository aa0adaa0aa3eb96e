#include "client/app/main_frame.h"
#include "client/app/zeph_app.h"
#include "common/fs/paths.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_desktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <ctime>
#include <filesystem>
#include <fstream>

using namespace mirvo;
namespace fs = std::filesystem;

namespace {
struct temp_folder : mirvo::testing::temp_folder {
    fs::path path = mirvo::testing::temp_folder::path();
};

struct cwd_guard {
    fs::path saved = fs::current_path();
    explicit cwd_guard(const fs::path& p) { fs::current_path(p); }
    ~cwd_guard() { fs::current_path(saved); }
};

// The login itself is tested on its own; here it simply succeeds.
class accepting_frame : public CMainFrame {
protected:
    int run_login() override { return 1; }
};
class test_app : public CZephApp {
protected:
    std::unique_ptr<CMainFrame> make_frame() override { return std::make_unique<accepting_frame>(); }
};

double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}
}  // namespace

class AppTest : public QObject {
    Q_OBJECT
private slots:
    void init() { reset_quit_for_testing(); }

    void captionCarriesTheInstalledVersion() {
        temp_folder t;
        std::ofstream(t.path / "mirvo.xml") << "<!-- installed -->\r\n<mirvo>3.8</mirvo>\r\n";
        cwd_guard cwd(t.path);
        test_app app;
        QVERIFY(app.InitInstance());
        QCOMPARE(app.login_flag(), 1);
        QCOMPARE(app.main_frame()->windowTitle(), QString::fromUtf8("Mirvo学习娱乐空间 版本3.8"));
        QVERIFY(app.main_frame()->isVisible());
        QVERIFY(app.main_frame()->isMaximized());
        QCOMPARE(program_folder(), utf8_to_gbk(t.path.string()));
    }

    void captionEndsAfterVersionWordWithoutConfiguration() {
        temp_folder t;
        cwd_guard cwd(t.path);
        test_app app;
        QVERIFY(app.InitInstance());
        QCOMPARE(app.main_frame()->windowTitle(), QString::fromUtf8("Mirvo学习娱乐空间 版本"));
    }

    void unreadableFolderStopsBeforeAnyFile() {
        // A folder whose name has no GBK form: reading it would name another
        // folder, so the program says so and ends without touching a file.
        temp_folder t;
        fs::path odd = t.path / "x😀y";
        fs::create_directory(odd);
        cwd_guard cwd(odd);
        mirvo::testing::recording_desktop desk;
        CZephApp app;
        QVERIFY(!app.InitInstance());
        QVERIFY(app.main_frame() == nullptr);
        QCOMPARE(static_cast<int>(desk.boxes.size()), 1);
        QVERIFY(quit_requested());
        QCOMPARE(quit_code(), 1);
        QVERIFY(fs::is_empty(odd));
        QVERIFY(!fs::exists(t.path / "x?y"));
        reset_quit_for_testing();
    }

    void rootLikeFolderDoublesTheSeparator() {
        // A folder given with its trailing separator, as a drive root is:
        // folder + "\mirvo.xml" has a doubled separator that still resolves.
        temp_folder t;
        std::ofstream(t.path / "mirvo.xml") << "<mirvo>4.0</mirvo>";
        set_program_folder(utf8_to_gbk(t.path.string() + "/"));
        accepting_frame frame;
        QVERIFY(frame.OnCreate());
        QCOMPARE(frame.version_text(), std::string("4.0"));
    }

    void waitDispatchesEventsAndSleeps() {
        install_qt_message_pump();
        bool fired = false;
        QTimer::singleShot(10, [&] { fired = true; });
        QElapsedTimer clock;
        clock.start();
        double cpu0 = cpu_seconds();
        wait_pumping_messages(300);
        double cpu = cpu_seconds() - cpu0;
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(fired);
        // Waiting must not spin: a busy loop would burn the whole 300 ms.
        QVERIFY2(cpu < 0.1, qPrintable(QString("cpu %1 s").arg(cpu)));

        clock.restart();
        wait_pumping_messages(10);
        QVERIFY(clock.elapsed() >= 10);
    }

    void quitBeforeTheMainLoopEndsItAtOnce() {
        // Were a request lost, the loop would run until this fallback ends it.
        QTimer fallback;
        fallback.setSingleShot(true);
        connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        fallback.start(3000);
        post_quit(4);
        QCOMPARE(run_main_loop(), 4);
        reset_quit_for_testing();
        // A quit from inside the running loop ends it with its code.
        QTimer::singleShot(10, [] { post_quit(6); });
        QCOMPARE(run_main_loop(), 6);
        reset_quit_for_testing();
    }

    void quitDuringAWaitIsNotLost() {
        install_qt_message_pump();
        QTimer::singleShot(5, [] { post_quit(7); });
        QElapsedTimer clock;
        clock.start();
        wait_pumping_messages(60);
        QVERIFY(clock.elapsed() >= 60);  // the wait still lasts as long as asked
        QVERIFY(quit_requested());
        QCOMPARE(quit_code(), 7);
        QVERIFY(!drain_message_queue());
        // A later request does not change the code of the first.
        post_quit(3);
        QCOMPARE(quit_code(), 7);
    }
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
