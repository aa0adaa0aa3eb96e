// The login dialog against a scripted server on 127.0.0.1: countdown, server
// choice, version check and hand-over, the login replies, the profile.
#include "client/login/login_form.h"

#include "client/controls/html_static.h"
#include "client/controls/static_ex.h"
#include "client/controls/xp_button.h"
#include "client/login/login_steps.h"
#include "client/login/profile.h"
#include "client/login/session.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/protocol/digit_code.h"
#include "common/protocol/request.h"
#include "common/sign/sign.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "tests/support/accessible_tree.h"
#include "tests/support/fixtures.h"
#include "tests/support/pixels.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/test_http_server.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace mirvo;
using mirvo::testing::accessible_nodes;
using mirvo::testing::count_pixels;
using mirvo::testing::named_if_reachable;
using mirvo::testing::readable_texts;
using mirvo::testing::recording_desktop;
using mirvo::testing::scripted_response;
using mirvo::testing::temp_folder;
using mirvo::testing::test_http_server;
namespace fs = std::filesystem;

namespace {

QString text_of(int id) { return qstr(load_string(id)); }
QString countdown_text(const char* rest) { return qstr(load_string(257) + gbk_lit(rest)); }

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// The service as the login sees it: test page, version document, login.
struct service {
    test_http_server server;
    explicit service(const std::string& version = "3.8", const std::string& login_reply = "<user_login>ok</user_login>",
                     const std::string& prompt = "") {
        server.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!"));
        server.on("/mirvo.xml", scripted_response::text(
                                    200, "<mirvo>" + version + "</mirvo><show_message>" + prompt + "</show_message>"));
        server.otherwise(scripted_response::text(200, login_reply));
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : server.requests()) out.push_back(r.target);
        return out;
    }
    int login_requests() const {
        int n = 0;
        for (const auto& t : targets()) n += t.find("&action=login") != std::string::npos;
        return n;
    }
};

template <class T>
T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    if (!c) qFatal("no control %s", name);
    return c;
}

}  // namespace

class LoginFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<temp_folder> folder_;
    std::unique_ptr<recording_desktop> desktop_;
    std::unique_ptr<mirvo::testing::short_transfer_timeouts> timeouts_;

    fs::path folder() const { return folder_->path(); }

    std::unique_ptr<Clogin_form> open_dialog(const std::vector<std::string>& candidates) {
        auto d = std::make_unique<Clogin_form>();
        d->set_server_candidates(candidates);
        d->show();
        return d;
    }
    static QLabel* status(Clogin_form* d) { return child<QLabel>(d, "status_label"); }
    static void type_in(Clogin_form* d, const QString& user, const QString& password) {
        child<QComboBox>(d, "user_combo")->setEditText(user);
        child<QLineEdit>(d, "password_edit")->setText(password);
    }
    static bool combo_has_focus(Clogin_form* d) {
        auto* combo = child<QComboBox>(d, "user_combo");
        return d->focusWidget() == combo || d->focusWidget() == combo->lineEdit();
    }
    static void click_login(Clogin_form* d) {
        QTest::mouseClick(child<QPushButton>(d, "login_button"), Qt::LeftButton);
    }
    static bool inputs_enabled(Clogin_form* d) {
        return child<QComboBox>(d, "user_combo")->isEnabled() && child<QLineEdit>(d, "password_edit")->isEnabled() &&
               child<QPushButton>(d, "login_button")->isEnabled() &&
               child<QPushButton>(d, "cancel_button")->isEnabled() &&
               child<QPushButton>(d, "register_button")->isEnabled();
    }

private slots:
    void initTestCase() { install_qt_message_pump(); }

    void init() {
        reset_quit_for_testing();
        folder_ = std::make_unique<temp_folder>();
        set_program_folder(folder_->path());
        spit(folder() / "mirvo.xml", "<mirvo>3.8</mirvo>");
        desktop_ = std::make_unique<recording_desktop>();
        timeouts_ = std::make_unique<mirvo::testing::short_transfer_timeouts>();
        session() = session_values{};
        update_key().reset();
    }
    void cleanup() {
        timeouts_.reset();
        desktop_.reset();
        folder_.reset();
    }

    void startsWithTheProfileAndTheDialogsLook() {
        write_user_profile({"ann"}, "bob", "pw", false, nullptr, folder_->path());
        auto d = open_dialog({});
        auto* combo = child<QComboBox>(d.get(), "user_combo");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), QString("bob"));
        QCOMPARE(combo->currentText(), QString("bob"));
        QCOMPARE(session().user, std::string("bob"));
        QCOMPARE(session().request_page, std::string(MIRVO_TEST_REQUEST_PAGE));
        QVERIFY(!child<QCheckBox>(d.get(), "auto_login_check")->isChecked());
        QVERIFY(child<QLineEdit>(d.get(), "password_edit")->text().isEmpty());
        QVERIFY(!d->countdown_active());
        QVERIFY(status(d.get())->text().isEmpty());
        // Hidden buttons stay hidden; the window stays on top.
        QVERIFY(!child<QPushButton>(d.get(), "cancel_button")->isVisible());
        QVERIFY(!child<QPushButton>(d.get(), "register_button")->isVisible());
        QVERIFY(!child<QProgressBar>(d.get(), "download_progress")->isVisible());
        QVERIFY(d->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(d->windowTitle(), QString::fromUtf8("欢迎您进入Mirvo学习娱乐空间"));
        // Shown active, with the keyboard in the password field.
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(d.get(), "password_edit"));
    }

    void theDialogsOwnControlsInTheirColours() {
        auto d = open_dialog({});
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        const QColor background(228, 239, 255);
        // The buttons draw themselves; log in and cancel carry their icons,
        // which push the caption 5 pixels to the right.
        auto* login = child<CXPButton>(d.get(), "login_button");
        auto* help = child<CXPButton>(d.get(), "help_button");
        child<CXPButton>(d.get(), "cancel_button");
        child<CXPButton>(d.get(), "register_button");
        QVERIFY(login->isDefault());
        QCOMPARE(login->size(), help->size());
        d->grab();
        QCOMPARE(login->caption_position(), help->caption_position() + QPoint(5, 0));
        // Under the mouse the orange frame shows.
        const QColor hover_left(250, 196, 88);
        QCOMPARE(count_pixels(login->grab().toImage(), hover_left), 0);
        QTest::mouseMove(login, QPoint(10, 10));
        QTRY_VERIFY(login->hovered());
        QVERIFY(count_pixels(login->grab().toImage(), hover_left) > 0);
        QTest::mouseMove(d.get(), QPoint(5, 5));
        QTRY_VERIFY(!login->hovered());

        // The statics and the link stand on the dialog's light blue.
        for (const char* name : {"user_label", "password_label", "status_label", "auto_login_label"}) {
            auto* s = child<CStaticEx>(d.get(), name);
            QCOMPARE(s->back_colour(), rgb(228, 239, 255));
            const QImage img = s->grab().toImage();
            QCOMPARE(img.pixelColor(img.width() - 1, img.height() - 1), background);
        }
        QCOMPARE(child<CStaticEx>(d.get(), "user_label")->text(), QString::fromUtf8("用户:"));
        QCOMPARE(child<CStaticEx>(d.get(), "auto_login_label")->text(), QString::fromUtf8("下次自动登录"));
        auto* link = child<CHtmlStatic>(d.get(), "register_link");
        QCOMPARE(link->property("control_id").toInt(), 1200);
        QCOMPARE(link->html_text(), "<a href=\"" + registration_page_url() + "\">" + load_string(281) + "</a>");
        QCOMPARE(std::string(*link->drawer().GetStyle("a:link")),
                 std::string("color:0xFF0000; text-decoration:underline"));
        QCOMPARE(std::string(*link->drawer().GetStyle("a:hover")),
                 std::string("color:0xFF0000; text-decoration:underline"));
        const QImage drawn = link->grab().toImage();
        QCOMPARE(drawn.pixelColor(drawn.width() - 1, drawn.height() - 1), background);
        QVERIFY(count_pixels(drawn, QColor(0, 0, 255)) > 0);
        // The link opens the registration page from its text only.
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(link->width() - 2, link->height() - 2));
        QVERIFY(desktop_->opened.empty());
        QTest::mouseClick(link, Qt::LeftButton, {}, link->text_box().center());
        QCOMPARE(desktop_->opened, std::vector<std::string>{registration_page_url()});
        QVERIFY(d->isVisible());
    }

    void countdownCountsThreeTwoOneAndLogsInOnTheThirdTick() {
        service svc;
        write_user_profile({}, "lily", "secret", true, nullptr, folder_->path());
        auto d = open_dialog({svc.server.base_url()});
        QVERIFY(child<QCheckBox>(d.get(), "auto_login_check")->isChecked());
        QCOMPARE(child<QLineEdit>(d.get(), "password_edit")->text(), QString("secret"));
        QCOMPARE(status(d.get())->text(), countdown_text("3 秒"));
        QTRY_COMPARE_WITH_TIMEOUT(status(d.get())->text(), countdown_text("2  秒"), 1500);
        QCOMPARE(svc.server.request_count(), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(status(d.get())->text(), countdown_text("1  秒"), 1500);
        QCOMPARE(svc.server.request_count(), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(d->result(), int(QDialog::Accepted), 3000);
        QCOMPARE(svc.login_requests(), 1);
        QVERIFY(!d->countdown_active());
        QCOMPARE(session().user, std::string("lily"));
        QCOMPARE(session().password, std::string("secret"));
    }

    void clickingTheLabelStopsTheCountdown() {
        service svc;
        write_user_profile({}, "lily", "secret", true, nullptr, folder_->path());
        auto d = open_dialog({svc.server.base_url()});
        QTRY_COMPARE_WITH_TIMEOUT(status(d.get())->text(), countdown_text("2  秒"), 1500);
        QTest::mouseClick(child<QLabel>(d.get(), "auto_login_label"), Qt::LeftButton);
        QVERIFY(!child<QCheckBox>(d.get(), "auto_login_check")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!d->countdown_active(), 1500);
        QTest::qWait(1200);
        // The last countdown text stays and nobody logged in.
        QCOMPARE(status(d.get())->text(), countdown_text("2  秒"));
        QCOMPARE(svc.server.request_count(), 0u);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(d->isVisible());
        // A second click checks it again.
        QTest::mouseClick(child<QLabel>(d.get(), "auto_login_label"), Qt::LeftButton);
        QVERIFY(child<QCheckBox>(d.get(), "auto_login_check")->isChecked());
    }

    void loginButtonDuringCountdownLogsInAtOnce() {
        service svc;
        write_user_profile({}, "lily", "secret", true, nullptr, folder_->path());
        auto d = open_dialog({svc.server.base_url()});
        click_login(d.get());
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QVERIFY(!d->countdown_active());
        QTest::qWait(1200);
        QCOMPARE(svc.login_requests(), 1);
    }

    void escapeAndTheCloseBoxEndTheProgramWithCodeOne() {
        {
            auto d = open_dialog({});
            QTest::keyClick(d.get(), Qt::Key_Escape);
            QVERIFY(!d->isVisible());
            QCOMPARE(d->result(), int(QDialog::Rejected));
            QVERIFY(quit_requested());
            QCOMPARE(quit_code(), 1);
        }
        reset_quit_for_testing();
        {
            auto d = open_dialog({});
            QVERIFY(d->close());
            QVERIFY(!d->isVisible());
            QVERIFY(quit_requested());
            QCOMPARE(quit_code(), 1);
        }
    }

    void emptyUserNameAsksForItWithoutTraffic() {
        service svc;
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "", "pw");
        click_login(d.get());
        QCOMPARE(status(d.get())->text(), text_of(236));
        QCOMPARE(svc.server.request_count(), 0u);
        QVERIFY(inputs_enabled(d.get()));
        QVERIFY(combo_has_focus(d.get()));
        QVERIFY(d->isVisible());
    }

    void noServerSaysSoAndEnablesTheInputsAgain() {
        // One candidate is not http, one answers 404, one answers with a line end.
        test_http_server wrong;
        wrong.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!\r\n"));
        test_http_server missing;
        auto d = open_dialog({"https://127.0.0.1:1", missing.base_url(), wrong.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QCOMPARE(status(d.get())->text(), text_of(247));
        QVERIFY(session().server_base_url.empty());
        QVERIFY(inputs_enabled(d.get()));
        QCOMPARE(wrong.request_count(), 1u);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(!quit_requested());
    }

    void secondCandidateIsKeptWhenTheFirstFails() {
        test_http_server first;
        first.on("/testinternet.txt", scripted_response::text(500, "your internet is ok!"));
        service second;
        auto d = open_dialog({first.base_url(), second.server.base_url(), "http://127.0.0.1:1"});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(session().server_base_url, second.server.base_url());
        QCOMPARE(first.request_count(), 1u);
        // The whole conversation went to the second server, in order.
        const auto t = second.targets();
        QCOMPARE(t.size(), 3u);
        QCOMPARE(t[0], std::string("/testinternet.txt"));
        QCOMPARE(t[1], std::string("/mirvo.xml"));
        QVERIFY(t[2].rfind("/" MIRVO_TEST_REQUEST_PAGE "?user=lily&password=", 0) == 0);
        QVERIFY(t[2].size() > 14 && t[2].compare(t[2].size() - 13, 13, "&action=login") == 0);
    }

    void loginReplyDecidesTheText_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("text");
        QTest::addColumn<bool>("password_selected");
        QTest::newRow("upper-case OK is a refusal") << "<user_login>OK</user_login>" << 253 << true;
        QTest::newRow("wrong") << "<user_login>wrong</user_login>" << 253 << true;
        QTest::newRow("no element") << "<html>hello</html>" << 250 << false;
        QTest::newRow("empty reply") << "" << 250 << false;
    }
    void loginReplyDecidesTheText() {
        QFETCH(QString, reply);
        QFETCH(int, text);
        QFETCH(bool, password_selected);
        service svc("3.8", reply.toStdString());
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "Secret");
        click_login(d.get());
        QCOMPARE(status(d.get())->text(), text_of(text));
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(inputs_enabled(d.get()));
        auto* edit = child<QLineEdit>(d.get(), "password_edit");
        if (password_selected) {
            QCOMPARE(d->focusWidget(), edit);
            QCOMPARE(edit->selectedText(), QString("Secret"));
        } else {
            QVERIFY(combo_has_focus(d.get()));
        }
        // A failed login leaves the session's user and password alone.
        QVERIFY(session().password.empty());
        QVERIFY(!fs::exists(folder() / "mirvo_user.xml"));
    }

    void loginSendsTheCodedPassword() {
        service svc;
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "abc123");
        click_login(d.get());
        QCOMPARE(d->result(), int(QDialog::Accepted));
        const std::string target = svc.targets().back();
        const auto from = target.find("&password=") + 10;
        const std::string coded = target.substr(from, target.find('&', from) - from);
        QVERIFY(coded.find_first_not_of("0123456789") == std::string::npos);
        QCOMPARE(digit_decode(coded), std::string("abc123"));
    }

    void olderLookingVersionTextGivesNoPrompt() {
        // 1.10 reads as 1.1, which is below 1.9.
        spit(folder() / "mirvo.xml", "<mirvo>1.9</mirvo>");
        service svc("1.10");
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QVERIFY(desktop_->boxes.empty());
        QCOMPARE(d->result(), int(QDialog::Accepted));
    }

    void newerVersionAnsweredNoGoesOnToLogIn() {
        service svc("3.9", "<user_login>ok</user_login>", "fixes");
        desktop_->answers = {box_answer::no};
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QCOMPARE(desktop_->boxes.size(), 1u);
        QCOMPARE(desktop_->boxes[0].text, load_string(261) + "fixes");
        QVERIFY(desktop_->boxes[0].kind == box_kind::yes_no);
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QVERIFY(desktop_->starts.empty());
    }

    // An exponent is no part of a version: 1e39 reads as 1, below 3.8.
    void versionWithAnExponentGivesNoPrompt() {
        service svc("1e39");
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QVERIFY(desktop_->boxes.empty());
        QCOMPARE(d->result(), int(QDialog::Accepted));
    }

    // A server's 50 MB message reaches the box at once, cut to a line a
    // person can read.
    void hugeVersionMessageIsShownCutAndSoon() {
        const std::string xin = gbk_lit("新");
        std::string prompt;
        prompt.reserve(50u << 20);
        while (prompt.size() < (50u << 20)) prompt += xin;
        service svc("3.9", "<user_login>ok</user_login>", prompt);
        prompt.clear();
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        QElapsedTimer clock;
        clock.start();
        click_login(d.get());
        // The whole login, 50 MB fetched and queried included, takes about a
        // second on a quiet machine; the bound is loose so that a busy one
        // passes too, and still catches the minutes the uncut text took.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(desktop_->boxes.size(), 1u);
        std::string cut;
        for (std::size_t i = 0; i < max_shown_service_text; ++i) cut += xin;
        QVERIFY(desktop_->boxes[0].text == load_string(261) + cut);
        QCOMPARE(d->result(), int(QDialog::Accepted));
    }

    // A test page that never answers, or answers a byte a second, keeps the
    // dialog alive: Escape ends the program at once, as it would when idle.
    void escapeDuringServerSelectionEndsAtOnce_data() {
        QTest::addColumn<bool>("trickle");
        QTest::newRow("silent") << false;
        QTest::newRow("one byte a second") << true;
    }
    void escapeDuringServerSelectionEndsAtOnce() {
        QFETCH(bool, trickle);
        timeouts_.reset();  // the real time-outs: the page must not just time out
        test_http_server slow;
        if (trickle) {
            scripted_response r = scripted_response::text(200, "");
            for (char c : std::string("your internet is ok!")) r.pieces.push_back({std::string(1, c), 1000});
            slow.on("/testinternet.txt", r);
        } else {
            slow.on("/testinternet.txt", scripted_response::never_answer());
        }
        auto d = open_dialog({slow.base_url(), slow.base_url()});
        type_in(d.get(), "lily", "pw");
        QElapsedTimer clock;
        qint64 escape_at = -1;
        QTimer::singleShot(1000, d.get(), [&] {
            escape_at = clock.elapsed();
            QTest::keyClick(d.get(), Qt::Key_Escape);
        });
        clock.start();
        click_login(d.get());
        QVERIFY(escape_at >= 0);
        QVERIFY2(clock.elapsed() - escape_at < 1000, qPrintable(QString::number(clock.elapsed() - escape_at)));
        QVERIFY(quit_requested());
        QCOMPARE(quit_code(), 1);
        QVERIFY(!d->isVisible());
        QCOMPARE(slow.request_count(), 1u);
    }

    void yesStoresTheListAndStartsTheUpdater() {
        service svc("3.9", "<user_login>ok</user_login>", "new");
        const std::string list = "<file order=\"1\" get_name=\"mirvo.xml\" save_as=\"mirvo.xml\" />";
        // The list's path is sent after the base URL's own "/", as a double slash.
        svc.server.on("//dl/download.xml", scripted_response::text(200, list));
        desktop_->answers = {box_answer::yes};
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QCOMPARE(slurp(folder() / "dl" / "download.xml"), list);
        QCOMPARE(desktop_->starts.size(), 1u);
        QCOMPARE(desktop_->starts[0].program, folder_->path() + "\\mupdate");
        QVERIFY(desktop_->starts[0].args.isEmpty());
        QCOMPARE(desktop_->starts[0].folder, folder_->path());
        QVERIFY(quit_requested());
        QCOMPARE(quit_code(), 1);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(!d->isVisible());
        // No login was tried and the bar is put away again.
        QCOMPARE(svc.login_requests(), 0);
        QVERIFY(!child<QProgressBar>(d.get(), "download_progress")->isVisible());
    }

    void aFailedListFetchLeavesNoOldListForTheUpdater() {
        service svc("3.9");
        svc.server.on("//dl/download.xml", scripted_response::text(404, "none"));
        fs::create_directories(folder() / "dl");
        spit(folder() / "dl" / "download.xml", "<file order=\"1\" get_name=\"old\" save_as=\"old\" />");
        desktop_->answers = {box_answer::yes};
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QVERIFY(!fs::exists(folder() / "dl" / "download.xml"));
        QCOMPARE(desktop_->starts.size(), 1u);
        QCOMPARE(desktop_->starts[0].program, folder_->path() + "\\mupdate");
    }

    void withAnUpdateKeyOnlyASignedListIsLeftForTheUpdater() {
        const key_pair keys = *make_key_pair();
        update_key() = keys.pub;
        const std::string list = "<file order=\"1\" get_name=\"mirvo.xml\" save_as=\"mirvo.xml\" />";
        const std::string signature = signature_text(keys.secret, list);
        for (const bool signed_list : {true, false}) {
            service svc("3.9");
            svc.server.on("//dl/download.xml", scripted_response::text(200, signed_list ? list : list + " "));
            svc.server.on("//dl/download.xml.sig", scripted_response::text(200, signature));
            desktop_->answers = {box_answer::yes};
            desktop_->starts.clear();
            reset_quit_for_testing();
            auto d = open_dialog({svc.server.base_url()});
            type_in(d.get(), "lily", "pw");
            click_login(d.get());
            QCOMPARE(fs::exists(folder() / "dl" / "download.xml"), signed_list);
            QCOMPARE(fs::exists(folder() / "dl" / "download.xml.sig"), signed_list);
            if (signed_list) QCOMPARE(slurp(folder() / "dl" / "download.xml.sig"), signature);
            // The updater starts all the same and tells the user it found no update.
            QCOMPARE(desktop_->starts.size(), 1u);
        }
    }

    void waitingUpdaterIsTakenOver() {
        service svc;
        fs::create_directories(folder() / "dl");
        spit(folder() / "mupdate", "old updater");
        spit(folder() / "dl" / "mupdate", "new updater");
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "pw");
        click_login(d.get());
        QCOMPARE(slurp(folder() / "mupdate"), std::string("new updater"));
        QVERIFY(!fs::exists(folder() / "dl" / "mupdate"));
        struct stat st {};
        QCOMPARE(::stat((folder() / "mupdate").c_str(), &st), 0);
        QVERIFY(st.st_mode & S_IXUSR);
    }

    void failedTakeOverKeepsTheDownloadedCopy() {
        // The updater's place is taken by a folder: the copy fails, and the
        // new updater must not be lost.
        fs::create_directories(folder() / "dl");
        fs::create_directories(folder() / "mupdate");
        spit(folder() / "dl" / "mupdate", "new updater");
        QVERIFY(!take_over_updater(folder_->path()));
        QCOMPARE(slurp(folder() / "dl" / "mupdate"), std::string("new updater"));
        QVERIFY(fs::is_directory(folder() / "mupdate"));
        // Nothing waiting: nothing happens.
        fs::remove_all(folder() / "mupdate");
        fs::remove(folder() / "dl" / "mupdate");
        QVERIFY(!take_over_updater(folder_->path()));
        QVERIFY(!fs::exists(folder() / "mupdate"));
    }

    void profileIsWrittenAfterSuccess() {
        service svc;
        write_user_profile({"ann"}, "bob", "pw", false, nullptr, folder_->path());
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "cat", "Tiger9");
        child<QCheckBox>(d.get(), "auto_login_check")->setChecked(true);
        click_login(d.get());
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(slurp(folder() / "mirvo_user.xml"),
                 std::string("<user name=\"ann\" order=\"1\" />\r\n<user name=\"bob\" order=\"2\" />\r\n"
                             "<user name=\"cat\" order=\"3\" /><default_user_name>cat</default_user_name>\r\n"
                             "<auto_login>true</auto_login>"));
        // The status line is cleared and the password comes back next time
        // (lower case: the code folds it).
        QVERIFY(status(d.get())->text().isEmpty());
        QCOMPARE(restore_saved_password(folder_->path(), "cat"), std::string("tiger9"));
    }

    void runningLoginIgnoresASecondStart() {
        service svc;
        auto d = open_dialog({svc.server.base_url()});
        type_in(d.get(), "lily", "a-long-password");
        int nested = 0;
        // These fire while the password is being coded, when the button is
        // enabled again: a click, Enter and a direct start.
        QTimer::singleShot(0, d.get(), [&] {
            nested += d->login_running();
            click_login(d.get());
            QTest::keyClick(d.get(), Qt::Key_Return);
            d->OnOK();
        });
        d->OnOK();
        QCOMPARE(nested, 1);
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(svc.login_requests(), 1);
        QCOMPARE(svc.server.request_count(), 3u);
    }

    void helpAndRegistrationOpenTheirPages() {
        service svc;
        auto d = open_dialog({svc.server.base_url()});
        QTest::mouseClick(child<QPushButton>(d.get(), "help_button"), Qt::LeftButton);
        QCOMPARE(desktop_->opened.size(), 1u);
        QCOMPARE(desktop_->opened[0], folder_->path() + "\\help\\help.htm");
        child<QPushButton>(d.get(), "register_button")->click();
        QCOMPARE(desktop_->opened.size(), 2u);
        QCOMPARE(desktop_->opened[1], svc.server.base_url() + "/reg.aspx");
    }

    void enterPressesTheFocusedButtonAndLink() {
        service svc;
        auto d = open_dialog({svc.server.base_url()});
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        type_in(d.get(), "ann", "pw");
        auto* help = child<QPushButton>(d.get(), "help_button");
        help->setFocus(Qt::TabFocusReason);
        QTest::keyClick(help, Qt::Key_Return);
        QTest::keyClick(help, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(help, Qt::Key_Space);
        const std::string help_page = folder_->path() + "\\help\\help.htm";
        QCOMPARE(desktop_->opened, (std::vector<std::string>{help_page, help_page, help_page}));
        // The registration link is the next stop, and Enter opens it.
        QTest::keyClick(help, Qt::Key_Tab);
        auto* link = child<CHtmlStatic>(d.get(), "register_link");
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(link));
        QTest::keyClick(link, Qt::Key_Return);
        QCOMPARE(desktop_->opened.back(), registration_page_url());
        QCOMPARE(svc.login_requests(), 0);
        QVERIFY(d->isVisible());
        // From a field, Enter still logs in.
        auto* password = child<QLineEdit>(d.get(), "password_edit");
        password->setFocus();
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(svc.login_requests(), 1);
    }

    void screenReadersHearEveryControlsNameAndNeverThePassword() {
        write_user_profile({"ann"}, "ann", "secret-pw-7", true, nullptr, folder_->path());
        auto d = open_dialog({});
        d->findChild<QCheckBox*>("auto_login_check")->setChecked(false);  // no countdown meanwhile
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        QCOMPARE(child<QLineEdit>(d.get(), "password_edit")->text(), QString("secret-pw-7"));
        const auto name_of = [&](const char* control) {
            return QAccessible::queryAccessibleInterface(child<QWidget>(d.get(), control))->text(QAccessible::Name);
        };
        // A combo box is named by its text here; its label comes through the
        // labelled-by relation, and its edit, which takes the keys, is named.
        auto* combo = child<QComboBox>(d.get(), "user_combo");
        const auto labels = QAccessible::queryAccessibleInterface(combo)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name), QString::fromUtf8("用户:"));
        QCOMPARE(QAccessible::queryAccessibleInterface(combo->lineEdit())->text(QAccessible::Name),
                 QString::fromUtf8("用户"));
        QCOMPARE(name_of("password_edit"), QString::fromUtf8("密码"));
        QCOMPARE(name_of("auto_login_check"), QString::fromUtf8("下次自动登录"));
        QCOMPARE(name_of("login_button"), QString::fromUtf8("登录"));
        QCOMPARE(name_of("help_button"), QString::fromUtf8("帮助"));
        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(child<QWidget>(d.get(), "register_link"));
        QCOMPARE(link->text(QAccessible::Name), QString::fromUtf8("注册新用户"));
        QCOMPARE(link->childCount(), 1);
        QCOMPARE(link->child(0)->role(), QAccessible::Link);
        QCOMPARE(link->child(0)->text(QAccessible::Name), QString::fromUtf8("注册新用户"));

        // Every node of the window, every text it gives: never the password,
        // and a name a person would say on every control the keyboard reaches.
        const auto nodes = accessible_nodes(QAccessible::queryAccessibleInterface(d.get()));
        QVERIFY(nodes.size() > 10);
        for (QAccessibleInterface* node : nodes) {
            for (const QString& said : readable_texts(node))
                QVERIFY2(!said.contains("secret-pw-7") && !said.contains("http"), qPrintable(said));
            QVERIFY2(named_if_reachable(node), qPrintable(node->text(QAccessible::Value)));
        }
    }
};

QTEST_MAIN(LoginFormTest)
#include "login_form_test.moc"
