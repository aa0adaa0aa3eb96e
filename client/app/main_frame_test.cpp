// The main frame: menu, toolbar, tray menu, size handling and the close
// sequence with its logout request, against a scripted server.
#include "client/app/main_frame.h"

#include "client/forms/message_form.h"
#include "client/login/session.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/protocol/digit_code.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/test_http_server.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <functional>

using namespace mirvo;
using mirvo::testing::recording_desktop;
using mirvo::testing::scripted_response;
using mirvo::testing::temp_folder;
using mirvo::testing::test_http_server;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

// A frame whose login answers as told and whose lesson window is a plain
// window that records what the start-up showed meanwhile, and what the
// loading window says when the close sequence comes to destroy it.
class test_frame : public CMainFrame {
public:
    int login_result = 1;
    bool loading_seen = false;
    QString loading_text;
    Qt::WindowFlags loading_flags;
    std::function<void()> on_destroy_lesson;
    QString text_at_destroy;

protected:
    int run_login() override { return login_result; }
    QWidget* create_lesson_window() override {
        if (message_form* loading = loading_window()) {
            loading_seen = loading->isVisible();
            loading_text = loading->status()->text();
            loading_flags = loading->windowFlags();
        }
        auto* w = new QWidget(this, Qt::Window);
        w->setObjectName("lesson");
        return w;
    }
    void destroy_lesson_window() override {
        if (message_form* loading = loading_window()) text_at_destroy = loading->status()->text();
        if (on_destroy_lesson) on_destroy_lesson();
        CMainFrame::destroy_lesson_window();
    }
};

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

    std::unique_ptr<temp_folder> folder_;
    std::unique_ptr<recording_desktop> desktop_;
    std::vector<int> exits_;

    std::unique_ptr<test_frame> started_frame(bool tray = true) {
        CTrayIcon::set_tray_available_for_testing(tray ? 1 : 0);
        auto f = std::make_unique<test_frame>();
        if (!f->OnCreate()) qFatal("frame creation failed");
        f->showMaximized();
        return f;
    }
    static QList<QAction*> entries(QToolBar* bar) { return bar->actions(); }

private slots:
    void initTestCase() { install_qt_message_pump(); }
    void init() {
        reset_quit_for_testing();
        folder_ = std::make_unique<temp_folder>();
        set_program_folder(folder_->path());
        std::ofstream(folder_->path() + "/mirvo.xml") << "<mirvo>3.8</mirvo>";
        desktop_ = std::make_unique<recording_desktop>();
        exits_.clear();
        set_process_ender([this](int status) { exits_.push_back(status); });
        session() = session_values{};
    }
    void cleanup() {
        set_process_ender({});
        CTrayIcon::set_tray_available_for_testing(-1);
        desktop_.reset();
        folder_.reset();
    }

    void toolbarHasItsEntriesCaptionsAndStates() {
        auto f = started_frame();
        QCOMPARE(f->windowTitle(), u8("Mirvo学习娱乐空间 版本3.8"));
        const QList<QAction*> a = entries(f->toolbar());
        QCOMPARE(a.size(), 13);
        const int ids[] = {32862, 57670, 32873, 57665, 0, 32878, 32894, 32893, 0, 32805, 32800, 32872, 32870};
        const char* captions[] = {"给我们提建议", "帮助", "设置", "退出"};
        QList<QToolButton*> buttons;
        int widest = 0, tallest = 0;
        for (int i = 0; i < 13; ++i) {
            if (ids[i] == 0) {
                QVERIFY(a[i]->isSeparator());
                continue;
            }
            QCOMPARE(a[i]->data().toInt(), ids[i]);
            QVERIFY(!a[i]->icon().isNull());
            if (i < 4) {
                QCOMPARE(a[i]->text(), u8(captions[i]));
            } else {
                QVERIFY(a[i]->text().isEmpty());
                QVERIFY2(!a[i]->isEnabled(), "uncaptioned commands have no handler");
            }
            auto* b = qobject_cast<QToolButton*>(f->toolbar()->widgetForAction(a[i]));
            QVERIFY(b);
            buttons.push_back(b);
            widest = std::max(widest, b->sizeHint().width());
            tallest = std::max(tallest, b->sizeHint().height());
        }
        // Every button is as wide as the widest item plus 10 and as high as
        // the tallest; the widest is the longest caption.
        const QSize expected(widest + 10, tallest);
        for (QToolButton* b : buttons) QCOMPARE(b->size(), expected);
        QVERIFY(widest > buttons[0]->fontMetrics().horizontalAdvance(u8(captions[0])));
        for (int i = 0; i < 4; ++i) QVERIFY(a[i]->isEnabled());  // suggestions, help, settings, exit
        QCOMPARE(f->toolbar()->iconSize(), QSize(16, 15));

        // Screen readers hear every button's caption, or what its picture
        // shows; the working ones take the keyboard, and Enter presses them.
        const char* names[] = {"给我们提建议", "帮助", "设置", "退出", "后退", "前进",
                               "停止",         "刷新", "主页", "播放", "暂停"};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(QAccessible::queryAccessibleInterface(buttons[i])->text(QAccessible::Name), u8(names[i]));
            QCOMPARE(buttons[i]->focusPolicy(), i < 4 ? Qt::TabFocus : Qt::NoFocus);
        }
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.get()));
        buttons[1]->setFocus(Qt::TabFocusReason);
        QTest::keyClick(buttons[1], Qt::Key_Return);
        QTest::keyClick(buttons[1], Qt::Key_Space);
        QCOMPARE(desktop_->opened.size(), 2u);
        QCOMPARE(desktop_->opened[0], folder_->path() + "\\help\\help.htm");
    }

    void menuBarHoldsItsCommands() {
        auto f = started_frame();
        const QList<QAction*> menus = f->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), u8("功能列表"));
        QCOMPARE(menus[1]->text(), u8("帮助"));
        const QList<QAction*> functions = menus[0]->menu()->actions();
        QCOMPARE(functions.size(), 2);
        QCOMPARE(functions[0]->data().toInt(), 32873);
        QCOMPARE(functions[1]->text(), u8("&退出\tCtrl+X(X)"));
        QCOMPARE(functions[1]->data().toInt(), 57665);
        QVERIFY(functions[1]->shortcut().isEmpty());
        QCOMPARE(menus[1]->menu()->actions()[0]->data().toInt(), 57670);
        menus[1]->menu()->actions()[0]->trigger();
        QCOMPARE(desktop_->opened, std::vector<std::string>{folder_->path() + "\\help\\help.htm"});
    }

    void startUpShowsTheLoadingWindowThenPutsUpTheTray() {
        auto f = started_frame();
        QVERIFY(f->loading_seen);
        QCOMPARE(f->loading_text, u8("正在载入资源，请稍等......"));
        QVERIFY(f->loading_flags & Qt::WindowStaysOnTopHint);
        QVERIFY(!(f->loading_flags & Qt::WindowCloseButtonHint));
        QVERIFY(!(f->loading_flags & Qt::WindowSystemMenuHint));
        QVERIFY(!f->loading_window());  // destroyed once start-up is done
        QVERIFY(f->lesson_window() && f->lesson_window()->isVisible());
        QVERIFY(f->tray_icon().enabled());
        QCOMPARE(f->tray_icon().system_icon()->toolTip(), u8("mirvo学习娱乐空间"));
    }

    void refusedLoginCreatesNothing() {
        CTrayIcon::set_tray_available_for_testing(1);
        test_frame f;
        f.login_result = 2;
        QVERIFY(!f.OnCreate());
        QVERIFY(!f.lesson_window());
        QVERIFY(!f.tray_icon().enabled());
        QVERIFY(!f.isVisible());
    }

    void trayMenuOpensWithItsDefaultItem() {
        auto f = started_frame();
        CTrayIcon& tray = f->tray_icon();
        QCOMPARE(tray.HandleTrayMouse(999, tray_right_button_down), 0);
        QVERIFY(!tray.last_menu());
        for (int message : {int(tray_right_button_down), int(tray_left_button_down)}) {
            QCOMPARE(tray.HandleTrayMouse(tray_icon_id, message), 1);
            QMenu* menu = tray.last_menu();
            QVERIFY(menu);
            const QList<QAction*> a = menu->actions();
            QCOMPARE(a.size(), 3);
            QCOMPARE(a[0]->text(), u8("打开主窗口"));
            QCOMPARE(a[1]->text(), u8("设置"));
            QCOMPARE(a[2]->text(), u8("退出"));
            QCOMPARE(a[0]->data().toInt(), 32879);
            QCOMPARE(a[1]->data().toInt(), 32880);
            QCOMPARE(a[2]->data().toInt(), 57665);
            QCOMPARE(menu->defaultAction(), a[0]);
            QVERIFY(a[1]->isEnabled());
            menu->hide();
        }
        QCOMPARE(tray.HandleTrayMouse(tray_icon_id, 0x207), 1);
    }

    void minimisingHidesIntoTheTrayAndDoubleClickBringsItBack() {
        auto f = started_frame(true);
        f->showMinimized();
        QTRY_VERIFY(!f->isVisible());
        QCOMPARE(f->tray_icon().HandleTrayMouse(tray_icon_id, tray_left_double_click), 1);
        QVERIFY(f->isVisible());
        QVERIFY(f->isMaximized());
        // Restoring to a normal size maximises again.
        f->showNormal();
        QTRY_VERIFY(f->isMaximized());
        // So does the tray menu's first item.
        f->showMinimized();
        QTRY_VERIFY(!f->isVisible());
        f->tray_icon().HandleTrayMouse(tray_icon_id, tray_right_button_down);
        f->tray_icon().last_menu()->actions()[0]->trigger();
        QVERIFY(f->isVisible() && f->isMaximized());
    }

    void minimisingTakesTheLessonWindowAlongAndRestoringBringsBothBack() {
        auto f = started_frame(true);
        QWidget* lesson = f->lesson_window();
        QVERIFY(lesson->isVisible());
        // Some window managers minimise a window's dialogs along with it.
        lesson->showMinimized();
        f->showMinimized();
        QTRY_VERIFY(!f->isVisible());
        QVERIFY(!lesson->isVisible());
        f->tray_icon().HandleTrayMouse(tray_icon_id, tray_right_button_down);
        f->tray_icon().last_menu()->actions()[0]->trigger();  // "打开主窗口"
        QVERIFY(f->isVisible() && f->isMaximized());
        QVERIFY(lesson->isVisible());
        QVERIFY(!lesson->isMinimized());

        // Without a tray the frame stays in the taskbar; the lesson window
        // still goes with it and comes back when it is restored.
        auto g = started_frame(false);
        QWidget* other = g->lesson_window();
        g->showMinimized();
        QTRY_VERIFY(!other->isVisible());
        QVERIFY(g->isVisible());
        g->showNormal();
        QTRY_VERIFY(other->isVisible());
        QTRY_VERIFY(g->isMaximized());
    }

    void suggestionAndSettingsRunTheirDialogsFromEveryEntry() {
        temp_folder config;
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
        auto f = started_frame();
        const QList<QAction*> bar = entries(f->toolbar());
        QAction* menu_settings = f->menuBar()->actions()[0]->menu()->actions()[0];
        f->tray_icon().HandleTrayMouse(tray_icon_id, tray_right_button_down);
        QAction* tray_settings = f->tray_icon().last_menu()->actions()[1];
        const std::pair<QAction*, const char*> cases[] = {{bar[0], "mirvo::say_to_us_form"},
                                                          {bar[2], "mirvo::setup_form"},
                                                          {menu_settings, "mirvo::setup_form"},
                                                          {tray_settings, "mirvo::setup_form"}};
        for (const auto& [action, dialog_class] : cases) {
            QString seen, nested;
            QWidget* owner = nullptr;
            QTimer::singleShot(0, f.get(), [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (!modal) return;
                seen = modal->metaObject()->className();
                owner = modal->parentWidget();
                // A second command while the dialog runs opens nothing.
                QTimer::singleShot(0, f.get(), [&] {
                    QWidget* m = QApplication::activeModalWidget();
                    if (!m || m == modal) return;
                    nested = m->metaObject()->className();
                    qobject_cast<QDialog*>(m)->reject();
                });
                f->on_command(cmd_tray_settings);
                qobject_cast<QDialog*>(modal)->reject();
            });
            action->trigger();
            QTest::qWait(10);  // the check of the second command has run
            QCOMPARE(seen, QString(dialog_class));
            QCOMPARE(owner, static_cast<QWidget*>(f.get()));
            QVERIFY2(nested.isEmpty(), qPrintable(nested));
        }
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(desktop_->boxes.empty());
        qunsetenv("XDG_CONFIG_HOME");
    }

    void withoutATrayMinimisingKeepsTheFrameInTheTaskbar() {
        auto f = started_frame(false);
        QVERIFY(!f->tray_icon().enabled());
        f->showMinimized();
        QTest::qWait(50);
        QVERIFY(f->isVisible());
        QVERIFY(f->isMinimized());
    }

    void closeLogsOutOnceAndEndsWithStatusOne() {
        test_http_server server;
        session().server_base_url = server.base_url();
        session().request_page = "service.aspx";
        session().user = "lily";
        session().password = "abc";
        auto f = started_frame();
        QPointer<QWidget> lesson = f->lesson_window();
        // A second close request arrives while the logout request's password
        // is being coded (the coding pumps events). QWidget::close() would be
        // swallowed by Qt's own guard before reaching the frame, so the close
        // event is delivered directly; the frame must ignore it.
        QString shown_while_closing;
        bool closing_when_asked_again = false;
        QTimer::singleShot(0, f.get(), [&] {
            closing_when_asked_again = f->closing();
            if (f->loading_window()) shown_while_closing = f->loading_window()->status()->text();
            QCloseEvent again;
            QCoreApplication::sendEvent(f.get(), &again);
            QVERIFY(!again.isAccepted());
        });
        std::size_t requests_at_destroy = 0;
        f->on_destroy_lesson = [&] { requests_at_destroy = server.request_count(); };
        f->tray_icon().HandleTrayMouse(tray_icon_id, tray_right_button_down);
        f->tray_icon().last_menu()->actions()[2]->trigger();  // "退出"
        QCOMPARE(exits_, std::vector<int>{1});
        QVERIFY(f->closing());
        QVERIFY(closing_when_asked_again);
        QCOMPARE(shown_while_closing, qstr(load_string(268)));
        // Once the logout request is answered the loading window says the
        // resources are being released.
        QCOMPARE(requests_at_destroy, 1u);
        QCOMPARE(f->text_at_destroy, u8("正在释放资源......"));
        QCOMPARE(f->text_at_destroy, qstr(load_string(282)));
        QCOMPARE(server.request_count(), 1u);
        const std::string target = server.requests()[0].target;
        const std::string head = "/service.aspx?user=lily&password=";
        const std::string tail = "&lesson_id=0010&lesson_dir=logout&action=logout";
        QVERIFY(target.rfind(head, 0) == 0);
        QVERIFY(target.size() > head.size() + tail.size());
        QCOMPARE(target.substr(target.size() - tail.size()), tail);
        QCOMPARE(digit_decode(target.substr(head.size(), target.size() - head.size() - tail.size())),
                 std::string("abc"));
        // Windows gone, tray icon gone, quit asked for.
        QVERIFY(!lesson);
        QVERIFY(!f->loading_window());
        QVERIFY(!f->tray_icon().enabled());
        QVERIFY(!f->isVisible());
        QVERIFY(quit_requested());
        // Later requests change nothing.
        QCloseEvent late;
        QCoreApplication::sendEvent(f.get(), &late);
        f->on_command(cmd_exit);
        QCOMPARE(exits_.size(), 1u);
        QCOMPARE(server.request_count(), 1u);
    }

    void closeGoesOnWhenTheServerIsGone() {
        session().server_base_url = "http://127.0.0.1:1";
        session().request_page = "service.aspx";
        auto f = started_frame(false);
        f->close();
        QCOMPARE(exits_, std::vector<int>{1});
    }

    // A server that takes the logout request and never answers holds the
    // end for seconds, not for the half minute a page may take.
    void closeEndsSoonWhenTheLogoutIsNeverAnswered() {
        test_http_server server;
        server.otherwise(scripted_response::never_answer());
        session().server_base_url = server.base_url();
        session().request_page = "service.aspx";
        auto f = started_frame(false);
        QElapsedTimer clock;
        clock.start();
        f->close();
        QCOMPARE(exits_, std::vector<int>{1});
        QCOMPARE(server.request_count(), 1u);
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
