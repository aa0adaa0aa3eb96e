// The notice window, the suggestion form and the settings form on the
// offscreen platform: the notice's slide against a given work area, the
// suggestion's checks and request against a test server, and the autostart
// entry in a temporary configuration folder.
#include "client/controls/html_static.h"
#include "client/forms/autostart.h"
#include "client/forms/new_message_form.h"
#include "client/forms/say_to_us_form.h"
#include "client/forms/setup_form.h"
#include "client/login/session.h"
#include "common/fs/paths.h"
#include "common/protocol/digit_code.h"
#include "gui/pump.h"
#include "gui/qt_text.h"
#include "tests/support/fixtures.h"
#include "tests/support/pixels.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/test_http_server.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

using namespace mirvo;
using mirvo::testing::pixels_of;
using mirvo::testing::read_bytes;
using mirvo::testing::recording_desktop;
using mirvo::testing::scripted_response;
using mirvo::testing::temp_folder;
using mirvo::testing::test_http_server;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }
std::string g(const char* s) { return utf8_to_gbk(s); }

template <class T>
T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    if (!c) qFatal("no child %s", name);
    return c;
}

void screenshot(QWidget& w, const char* name) {
    if (const QByteArray dir = qgetenv("MIRVO_SCREENSHOT_DIR"); !dir.isEmpty())
        QVERIFY(w.grab().save(QString::fromLocal8Bit(dir) + "/" + name));
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

class FormsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test_http_server> server_;
    std::unique_ptr<recording_desktop> desktop_;
    session_values saved_;

    // The suggestion's text field as the form reads it back, in GBK.
    static void type_text(say_to_us_form& form, const std::string& gbk_text) { form.set_edit_text(gbk_text); }
    static void choose(say_to_us_form& form, int category) {
        child<QComboBox>(form, "category_list")->setCurrentIndex(category);
    }
    static void press_save(QDialog& form) { child<QPushButton>(form, "save_button")->click(); }
    std::vector<std::string> box_texts() const {
        std::vector<std::string> out;
        for (const auto& b : desktop_->boxes) out.push_back(b.text);
        return out;
    }

private slots:
    void initTestCase() { install_qt_message_pump(); }
    void init() {
        saved_ = session();
        server_ = std::make_unique<test_http_server>();
        session() = {server_->base_url(), "service.aspx", g("小红"), "hong88"};
        desktop_ = std::make_unique<recording_desktop>();
    }
    void cleanup() {
        desktop_.reset();
        server_.reset();
        session() = saved_;
    }

    void noticeSlidesUpRestsAndSinksWithinTheWorkArea() {
        const screen_rect area{0, 0, 1024, 738};
        new_message_form form(nullptr, [&] { return area; });
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(form.windowTitle(), u8("您有新信息！"));
        QCOMPARE(form.property("control_id").toInt(), 237);
        QCOMPARE(form.size(), QSize(249, 115));
        QCOMPARE(form.pos(), QPoint(1024 - 249 - 5, 738 - 32));

        // Its links: the messages page and the friend search, HTML statics
        // drawn blue and underlined, also under the mouse.
        auto* message = child<CHtmlStatic>(form, "message_link");
        auto* friends = child<CHtmlStatic>(form, "friends_link");
        QCOMPARE(form.message_link(), message);
        QCOMPARE(form.friends_link(), friends);
        QCOMPARE(message->property("control_id").toInt(), 1198);
        QCOMPARE(friends->property("control_id").toInt(), 1199);
        QCOMPARE(message->html_text(),
                 "<a href=\"" + server_->base_url() + "/gonggao.htm\">" + g("您有新信息!") + "</a>");
        QCOMPARE(friends->html_text(),
                 "<a href=\"" + server_->base_url() + "/searchfriend.aspx\">" + g("交新朋友") + "</a>");
        for (CHtmlStatic* link : {message, friends}) {
            QCOMPARE(std::string(*link->drawer().GetStyle("a:link")),
                     std::string("color:0xFF0000; text-decoration:underline"));
            QCOMPARE(std::string(*link->drawer().GetStyle("a:hover")),
                     std::string("color:0xFF0000; text-decoration:underline"));
            QVERIFY(pixels_of(*link, QColor(0, 0, 255)) > 0);
            QCOMPARE(pixels_of(*link, QColor(255, 0, 0)), 0);
        }

        // From here on the window has its frame: the slide moves the frame.
        form.show();
        QVERIFY(form.sliding());
        const int w = form.frameGeometry().width(), h = form.frameGeometry().height();
        form.slide_tick();
        QCOMPARE(form.pos(), QPoint(1024 - w - 5, 738 - 32));  // offset h: still at the start
        for (int i = 1; i < h; ++i) form.slide_tick();
        QCOMPARE(form.pos().y(), 738 - 32 - h + 1);
        for (int i = 0; i < 100; ++i) form.slide_tick();
        QCOMPARE(form.pos().y(), 738 - 32 - h + 1);
        screenshot(form, "new_message_form.png");

        // Showing it while it is up changes nothing.
        form.show();
        form.slide_tick();
        QCOMPARE(form.pos().y(), 738 - 32 - h + 1);
        for (int i = 1; i < h - 1; ++i) form.slide_tick();
        QVERIFY(form.isVisible());
        form.slide_tick();
        QVERIFY(!form.isVisible());
        QVERIFY(!form.sliding());
        QCOMPARE(form.pos().y(), 738 - 32);

        // Shown again after it hid itself, or after the user closed it, it
        // starts from the bottom again.
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            form.show();
            for (int i = 0; i < 20; ++i) form.slide_tick();
            QCOMPARE(form.pos().y(), 738 - 32 - 20 + 1);
            QTest::keyClick(&form, key);
            QVERIFY(!form.isVisible());
            QVERIFY(!form.sliding());
        }
    }

    void noticeLinksOpenOnlyWebAddresses() {
        new_message_form form(nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* message = child<CHtmlStatic>(form, "message_link");
        message->grab();  // painted, as a person sees it before clicking
        // Over the link the hand cursor, and the hovered look stays blue.
        QTest::mouseMove(message, QPoint(5, 5));
        QCOMPARE(message->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(message->drawer().hovered_link() >= 0);
        QVERIFY(pixels_of(*message, QColor(0, 0, 255)) > 0);
        QCOMPARE(pixels_of(*message, QColor(255, 0, 0)), 0);
        // Beside the text nothing opens; on it the messages page does.
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(message->width() - 5, 5));
        QVERIFY(desktop_->opened.empty());
        QTest::mouseClick(message, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(desktop_->opened, std::vector<std::string>{server_->base_url() + "/gonggao.htm"});
        // A service address that is no web address opens nothing.
        session().server_base_url = "file:///etc";
        new_message_form local(nullptr);
        local.show();
        QVERIFY(QTest::qWaitForWindowExposed(&local));
        auto* local_link = child<CHtmlStatic>(local, "message_link");
        local_link->grab();
        QTest::mouseClick(local_link, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(desktop_->opened.size(), std::size_t(1));
    }

    void suggestionFormStartsEmptyWithItsCategoriesAndNote() {
        say_to_us_form form;
        QCOMPARE(form.windowTitle(), u8("感谢您给我们提建议"));
        auto* list = child<QComboBox>(form, "category_list");
        QCOMPARE(list->count(), 7);
        QCOMPARE(list->itemText(6), u8("其他"));
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(child<QLabel>(form, "remaining_label")->text(), u8("目前可输入50个汉字"));
        QVERIFY(child<QLabel>(form, "note_label")->text().startsWith(u8("感谢您给我们提建议！")));
        QVERIFY(form.length_timer_running());
        form.show();
        choose(form, 2);
        type_text(form, g("第三课的动画\r\n声音太小了"));
        form.update_remaining_length();
        QCOMPARE(child<QLabel>(form, "remaining_label")->text(), u8("当前还可以输入38个汉字"));
        screenshot(form, "say_to_us_form.png");

        // Screen readers: the category list is labelled by the line beside
        // it; the text box has a name, and the remaining length as its
        // description.
        const auto labels = QAccessible::queryAccessibleInterface(list)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name), u8("建议的分类："));
        QAccessibleInterface* text = QAccessible::queryAccessibleInterface(child<QPlainTextEdit>(form, "text_edit"));
        QCOMPARE(text->text(QAccessible::Name), u8("建议内容"));
        QCOMPARE(text->text(QAccessible::Description), u8("当前还可以输入38个汉字"));
    }

    void suggestionChecksComeBeforeAnyRequest() {
        say_to_us_form form;
        type_text(form, "abc");
        press_save(form);  // no category: that message first, even for a short text
        choose(form, 0);
        type_text(form, repeat(g("好"), 51));
        press_save(form);
        type_text(form, "abcdefghi");
        press_save(form);
        QCOMPARE(box_texts(),
                 (std::vector<std::string>{g("请选择分类！"), g("字数超过50个了！请修改！"),
                                           g("字数小于5个了！字数太少,我们看不明白的哦。呵呵。请修改！")}));
        QCOMPARE(server_->request_count(), 0u);
        QVERIFY(form.length_timer_running());

        // The timer's check cuts 51 characters to 50, whole: what is sent then.
        server_->otherwise(scripted_response::text(200, "<process_result>ok</process_result>"));
        type_text(form, std::string(99, 'a') + g("好好"));
        form.update_remaining_length();
        QCOMPARE(form.edit_text(), std::string(99, 'a'));
        QCOMPARE(child<QLabel>(form, "remaining_label")->text(), u8("当前还可以输入0个汉字"));
        press_save(form);
        QCOMPARE(server_->request_count(), 1u);
        QVERIFY(server_->requests()[0].target.ends_with("&action=save_suggest&type=0&content=" + std::string(99, 'a')));
    }

    void suggestionRequestCarriesTheBytesOfTheText() {
        server_->otherwise(scripted_response::text(200, "<process_result>ok</process_result>"));
        say_to_us_form form;
        form.show();
        choose(form, 6);
        type_text(form, g("it's 好\r\n第二行"));
        press_save(form);
        QCOMPARE(server_->request_count(), 1u);
        const std::string target = server_->requests()[0].target;
        const std::string head = "/service.aspx?user=%D0%A1%BA%EC&password=";
        const std::string tail = "&action=save_suggest&type=6&content=it%22s%20%BA%C3%0D%0A%B5%DA%B6%FE%D0%D0";
        QVERIFY(target.starts_with(head));
        QVERIFY2(target.ends_with(tail), target.c_str());
        QCOMPARE(digit_decode(target.substr(head.size(), target.size() - head.size() - tail.size())),
                 std::string("hong88"));
        QCOMPARE(box_texts(), std::vector<std::string>{g("保存成功！")});
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
    }

    void suggestionRefusedShowsTheErrorNoteAndStaysOpen() {
        server_->otherwise(scripted_response::text(200, "<process_result>OK</process_result>"));
        say_to_us_form form;
        form.show();
        choose(form, 1);
        type_text(form, g("程序有时候会退出"));
        press_save(form);
        QVERIFY(form.isVisible());
        QVERIFY(desktop_->boxes.empty());
        QVERIFY(child<QLabel>(form, "note_label")->text().startsWith(u8("糟糕，在保存的时候发生了错误！")));
        QCOMPARE(form.focusWidget(), child<QPlainTextEdit>(form, "text_edit"));
        QVERIFY(!form.length_timer_running());
        screenshot(form, "say_to_us_form_failed.png");
        // The user may send it again.
        server_->otherwise(scripted_response::text(200, "<process_result>ok</process_result>"));
        press_save(form);
        QCOMPARE(server_->request_count(), 2u);
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    // A form closed while its suggestion waits for a silent service no longer
    // shows its note: when the sending fails, a box says so.
    void aSuggestionThatCouldNotBeSentIsSaidAfterTheFormClosed() {
        mirvo::testing::short_transfer_timeouts timeouts(std::chrono::milliseconds(600));
        server_->otherwise(scripted_response::never_answer());
        say_to_us_form form;
        form.show();
        choose(form, 1);
        type_text(form, g("程序有时候会退出"));
        QTimer::singleShot(200, &form, [&] { form.close(); });
        press_save(form);
        QVERIFY(!form.isVisible());
        QCOMPARE(box_texts(), std::vector<std::string>{g("糟糕，您的建议没有保存成功！请稍后再提一次。")});
    }

    void suggestionCancelAndCloseSendNothing() {
        say_to_us_form form;
        form.show();
        child<QPushButton>(form, "cancel_button")->click();
        QCOMPARE(form.result(), int(QDialog::Rejected));
        say_to_us_form closed;
        closed.show();
        closed.close();
        QVERIFY(!closed.length_timer_running());
        QCOMPARE(server_->request_count(), 0u);
    }

    void settingsShowAndChangeTheAutostartEntry() {
        temp_folder t;
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(t.path()));
        set_program_folder(t.path());
        const std::string entry = t.path() + "/autostart/Mirvo学习娱乐空间.desktop";
        {
            setup_form form;
            auto* box = child<QCheckBox>(form, "autostart_box");
            auto* save = child<QPushButton>(form, "save_button");
            QCOMPARE(form.windowTitle(), u8("设置"));
            QVERIFY(!box->isChecked());
            QVERIFY(!save->isEnabled());
            QVERIFY(!child<QCheckBox>(form, "remember_box")->isVisibleTo(&form));
            QVERIFY(!child<QComboBox>(form, "game_time_list")->isVisibleTo(&form));
            form.show();
            box->click();
            QVERIFY(save->isEnabled());
            screenshot(form, "setup_form.png");
            save->click();
            QVERIFY(!save->isEnabled());
            QVERIFY(std::filesystem::exists(entry));
            QCOMPARE(box_texts(), std::vector<std::string>{g("存储完毕！")});
        }
        const std::string text = read_bytes(entry);
        QVERIFY(text.find("Exec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n") !=
                std::string::npos);
        QVERIFY(text.find("Path=" + to_native(program_folder()) + "\n") != std::string::npos);
        {
            // Present: checked; two clicks (back to checked) enable Save,
            // which writes the entry again.
            setup_form form;
            auto* box = child<QCheckBox>(form, "autostart_box");
            QVERIFY(box->isChecked());
            box->click();
            box->click();
            QVERIFY(child<QPushButton>(form, "save_button")->isEnabled());
            std::filesystem::remove(entry);
            press_save(form);
            QVERIFY(std::filesystem::exists(entry));
            QVERIFY(box->isChecked());
            // Unchecked and closed: nothing changes.
            box->click();
            child<QPushButton>(form, "close_button")->click();
            QVERIFY(std::filesystem::exists(entry));
        }
        {
            setup_form form;
            child<QCheckBox>(form, "autostart_box")->click();
            press_save(form);
            QVERIFY(!std::filesystem::exists(entry));
        }
        setup_form reopened;
        QVERIFY(!child<QCheckBox>(reopened, "autostart_box")->isChecked());
        qunsetenv("XDG_CONFIG_HOME");
    }

    void settingsSayWhenTheEntryCannotBeWritten() {
        temp_folder t;
        mirvo::testing::write_bytes(t.path() + "/config", "a file, not a folder");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(t.path() + "/config"));
        setup_form form;
        auto* box = child<QCheckBox>(form, "autostart_box");
        box->click();
        press_save(form);
        QCOMPARE(box_texts(), std::vector<std::string>{g("设置没有保存：无法在文件夹 ") + t.path() +
                                                       g("/config/autostart 中写入或删除自动运行项。")});
        // The box shows what is really there.
        QVERIFY(!box->isChecked());
        QVERIFY(!child<QPushButton>(form, "save_button")->isEnabled());
        qunsetenv("XDG_CONFIG_HOME");
    }
};

QTEST_MAIN(FormsTest)
#include "forms_ui_test.moc"
