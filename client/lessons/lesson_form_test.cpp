// The lesson window on the offscreen platform, with a player whose timeline
// the test sets and a cursor the test moves, against a loopback service.
#include "client/lessons/lesson_form.h"

#include "client/controls/html_static.h"
#include "client/controls/qt_colour.h"
#include "client/forms/new_message_form.h"
#include "gui/desktop.h"
#include "gui/qt_text.h"
#include "tests/support/accessible_tree.h"
#include "tests/support/lesson_test_service.h"
#include "tests/support/pixels.h"
#include "tests/support/recording_desktop.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QTest>
#include <QTreeWidget>

using namespace mirvo;
using namespace mirvo::testing;

namespace {

// Takes the keyboard and keeps Tab for itself, as the player's web page
// does for its own elements.
class fake_player : public QWidget, public scripted_player_state {
public:
    explicit fake_player(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
    std::vector<Qt::MouseButton> presses;
    std::vector<Qt::MouseButton> double_clicks;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return true;
        }
        return QWidget::event(event);
    }
    void mousePressEvent(QMouseEvent* event) override { presses.push_back(event->button()); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { double_clicks.push_back(event->button()); }
};

QString caption_of(const char* utf8) { return QString::fromUtf8(utf8); }

// The markup an HTML static shows for one link.
std::string link_markup(const char* utf8_text, const std::string& address) {
    return "<a href=\"" + address + "\">" + gbk_lit(utf8_text) + "</a>";
}
std::string link_style(colour_ref colour) { return "color:" + colour_hex(colour) + "; text-decoration:underline"; }

// The catalogue most cases use: category 1 with two sub-categories (the
// second has an empty first lesson), category 3 that is never read.
std::string standard_catalogue() {
    return baselist_reply({
        {1,
         {"Maths",
          {{"Basics", {{"Add", "add"}, {"Same", "same1"}, {"Same", "same2"}}},
           {"Empty", {{"", "x"}, {"Lost", "lost"}}}}}},
        {3, {"Music", {{"Piano", {{"Scales", "scales"}}}}}},
    });
}

}  // namespace

class LessonFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<lesson_service> service_;
    std::unique_ptr<lesson_session> session_;
    QPoint cursor_;
    fake_player* player_ = nullptr;

    std::unique_ptr<lesson_form> make_form() {
        player_ = nullptr;
        auto form = std::make_unique<lesson_form>(
            nullptr,
            [this](QWidget* parent) {
                player_ = new fake_player(parent);
                return player_parts{player_, player_};
            },
            [this] { return cursor_; });
        return form;
    }
    template <class T>
    static T* child(lesson_form& form, const char* name) {
        T* w = form.findChild<T*>(name);
        if (!w) qFatal("no child %s", name);
        return w;
    }
    static bool toolbar_shown(lesson_form& form) {
        return child<QPushButton>(form, "play_button")->isVisible() &&
               child<QFrame>(form, "toolbar_frame")->isVisible();
    }
    QTreeWidgetItem* item(lesson_form& form, const QString& text) {
        const auto found = form.tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }

private slots:
    void init() {
        service_ = std::make_unique<lesson_service>();
        session_ = std::make_unique<lesson_session>(*service_);
        cursor_ = QPoint(0, 0);
        service_->set_baselist(standard_catalogue());
        for (const char* f : {"add", "same1", "same2", "scales", "lost"})
            service_->set_lesson(f, lesson_reply({{std::string(f) + "1.swf", "0"}, {std::string(f) + "2.swf", "0"}}));
    }
    void cleanup() {
        session_.reset();
        service_.reset();
    }

    void startUpShowsTheCatalogueAndPlaysTheFirstLessonMaximised() {
        auto form = make_form();
        QTreeWidget* tree = form->tree();
        QCOMPARE(tree->topLevelItemCount(), 1);  // category 3 is never reached
        QTreeWidgetItem* maths = tree->topLevelItem(0);
        QCOMPARE(maths->text(0), QString("Maths."));
        QCOMPARE(maths->toolTip(0), QString("Maths."));
        QVERIFY(maths->isExpanded());
        QCOMPARE(maths->childCount(), 2);
        QCOMPARE(maths->child(0)->text(0), QString("Basics."));
        QCOMPARE(maths->child(0)->childCount(), 3);
        QCOMPARE(maths->child(0)->child(1)->text(0), QString("Same"));
        QCOMPARE(maths->child(1)->childCount(), 0);  // its first lesson has no title
        QVERIFY(maths->child(1)->isExpanded());

        QCOMPARE(service_->lessons_asked(), std::vector<std::string>{"add"});
        QVERIFY(!tree->isVisible());
        QVERIFY(form->isMaximized());
        QVERIFY(!toolbar_shown(*form));
        QVERIFY(form->playback_timer_running());
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37"));
        QCOMPARE(form->player_widget()->property("control_id").toInt(), 1166);
        const Qt::WindowFlags flags = form->windowFlags();
        for (Qt::WindowType hint : {Qt::WindowTitleHint, Qt::WindowSystemMenuHint, Qt::WindowMaximizeButtonHint,
                                    Qt::MSWindowsFixedSizeDialogHint})
            QVERIFY(flags.testFlag(hint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));

        // The links are HTML statics in the font made for them: their body
        // style follows it. With no ads the first one is emptied, the others
        // keep their template caption.
        auto* news_3 = child<CHtmlStatic>(*form, "news_link_3");
        const QFont font = news_3->font();
        QCOMPARE(font.family(), QString::fromUtf8("宋体"));
        QCOMPARE(font.pixelSize(), 11);
        QVERIFY(std::string(*news_3->drawer().GetStyle("body"))
                    .starts_with("font-size:-11pt; color:" + colour_hex(window_text_colour(news_3->palette())) +
                                 "; font-family:" + gbk_lit("宋体") + "; font-weight:400"));
        QCOMPARE(news_3->html_text(), gbk_lit("新闻信息"));
        QCOMPARE(child<CHtmlStatic>(*form, "news_link_1")->html_text(), link_markup("", ""));
        auto* notice = child<CHtmlStatic>(*form, "notice_link");
        QCOMPARE(notice->font().pixelSize(), 11);
        QCOMPARE(notice->property("control_id").toInt(), 1195);
        QCOMPARE(news_3->property("control_id").toInt(), 1198);

        // For a person to look at: the window with its tree and toolbar up.
        if (const QByteArray dir = qgetenv("MIRVO_SCREENSHOT_DIR"); !dir.isEmpty()) {
            form->showNormal();
            form->resize(848, 559);
            QTRY_COMPARE(form->remembered_client_size(), QSize(848, 559));
            form->show_toolbar(true);
            child<QPushButton>(*form, "list_button")->click();
            QVERIFY(form->grab().save(QString::fromLocal8Bit(dir) + "/lesson_form.png"));
        }
    }

    void adsAreAskedForBeforeTheFirstLessonAndTheNoticesRunOnTheTick() {
        std::vector<ad_record> ads;
        for (const char* t : {"欢迎", "新课程", "公告", "注册", "交友", "英语", "游戏"})
            ads.push_back({gbk_lit(t), service_->base_url() + "/ad/" + std::to_string(ads.size() + 1)});
        service_->set_reply("ad", ads_reply(ads));
        service_->set_reply("", "<new_msg>0</new_msg>");
        auto form = make_form();
        player_->playing = true;  // the first movie plays on: no other lesson starts
        std::vector<std::string> order;
        for (const auto& r : service_->log()) order.push_back(r.action);
        QCOMPARE(order, (std::vector<std::string>{"baselist", "ad", "lesson"}));
        const std::string ad = service_->base_url() + "/ad/";
        auto* news_1 = child<CHtmlStatic>(*form, "news_link_1");
        QCOMPARE(news_1->html_text(), link_markup("欢迎", ad + "1"));
        QCOMPARE(child<CHtmlStatic>(*form, "news_link_5")->html_text(), link_markup("交友", ad + "5"));
        // Blue links that turn red under the mouse.
        QCOMPARE(std::string(*news_1->drawer().GetStyle("a:link")), link_style(colour_blue));
        QCOMPARE(std::string(*news_1->drawer().GetStyle("a:hover")), link_style(colour_red));
        auto* notice = child<CHtmlStatic>(*form, "notice_link");
        QCOMPARE(notice->html_text(), link_markup("您有新信息!", announcement_address()));
        QVERIFY(form->notice_window());
        QVERIFY(!form->notice_window()->isVisible());

        // The toolbar comes back with the link for a user without messages.
        cursor_ = QPoint(3, 3);
        form->tick();
        QCOMPARE(notice->html_text(), link_markup("交新朋友", announcement_address()));
        QCOMPARE(service_->count(""), 1u);
        for (int i = 0; i < 9; ++i) form->tick();
        QCOMPARE(news_1->html_text(), link_markup("英语", ad + "6"));
        QCOMPARE(child<CHtmlStatic>(*form, "news_link_3")->html_text(), link_markup("公告", ad + "3"));

        // A message arrives: the caption's suffix, the blinking link, the
        // notice window.
        service_->set_reply("", "<new_msg>1</new_msg>");
        for (int i = 0; i < 3; ++i) form->tick();  // ticks 11 and 12, then the poll of tick 13
        QVERIFY(form->notice_window()->isVisible());
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37 正在播放1  您有新信息!"));
        QCOMPARE(std::string(*notice->drawer().GetStyle("a:link")), link_style(colour_blue));
        QVERIFY(pixels_of(*notice, Qt::blue) > 0);
        QCOMPARE(pixels_of(*notice, Qt::red), 0);
        cursor_ = QPoint(4, 4);
        form->next_movie();
        form->tick();
        QCOMPARE(std::string(*notice->drawer().GetStyle("a:link")), link_style(colour_red));
        QVERIFY(pixels_of(*notice, Qt::red) > 0);
        QCOMPARE(pixels_of(*notice, Qt::blue), 0);
        QCOMPARE(notice->html_text(), link_markup("您有新信息!", announcement_address()));
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37 正在播放2  您有新信息!"));

        // For a person to look at: the window with its links and the notice.
        if (const QByteArray dir = qgetenv("MIRVO_SCREENSHOT_DIR"); !dir.isEmpty()) {
            form->showNormal();
            form->resize(1000, 559);
            QTRY_COMPARE(form->remembered_client_size(), QSize(1000, 559));
            form->show_toolbar(true);
            QVERIFY(form->grab().save(QString::fromLocal8Bit(dir) + "/lesson_form_links.png"));
        }

        // A right click on a news link opens its address like a left one;
        // beside its text nothing opens.
        recording_desktop desk;
        auto* link = child<CHtmlStatic>(*form, "news_link_2");
        link->show();
        link->grab();  // painted, as a person sees it before clicking
        QTest::mouseClick(link, Qt::RightButton, {}, QPoint(190, 3));
        QVERIFY(desk.opened.empty());
        QTest::mouseClick(link, Qt::RightButton, {}, QPoint(3, 3));
        QCOMPARE(desk.opened, std::vector<std::string>{ad + "7"});
    }

    void theTreeDrawsItsBranchLinesAtTheRootToo() {
        service_->set_baselist(baselist_reply({
            {1, {"Maths", {{"Basics", {{"Add", "add"}}}, {"More", {{"Scales", "scales"}}}}}},
            {2, {"Music", {{"Piano", {{"Lost", "lost"}}}}}},
        }));
        auto form = make_form();
        QTreeWidget* tree = form->tree();
        tree->show();
        const QImage image = tree->viewport()->grab().toImage();
        const int indent = tree->indentation();
        // Pixels of anything drawn (not the white background) in a band.
        const auto drawn = [&](int x0, int x1, const QRect& row) {
            int n = 0;
            for (int y = row.top(); y <= row.bottom(); ++y)
                for (int x = x0; x < x1; ++x) n += qGray(image.pixel(x, y)) < 200;
            return n;
        };
        // In the row of "Add" the ancestors' columns carry the lines that
        // join "Maths." to "Music." (the root) and "Basics." to "More.".
        const QRect add = tree->visualItemRect(item(*form, "Add"));
        QVERIFY(drawn(0, indent, add) > 0);
        QVERIFY(drawn(indent, 2 * indent, add) > 0);
        // "Music." is the last root item: nothing goes on below it.
        const QRect lost = tree->visualItemRect(item(*form, "Lost"));
        QCOMPARE(drawn(0, indent, lost), 0);
    }

    void playSelectedTakesTheFirstEqualTitleAndEntryZeroForCategories() {
        auto form = make_form();
        child<QPushButton>(*form, "list_button")->click();
        QVERIFY(form->tree()->isVisible());

        // The second "Same" is selected: the first entry of that title plays.
        QTreeWidgetItem* basics = item(*form, "Basics.");
        QVERIFY(basics);
        form->tree()->setCurrentItem(basics->child(2));
        child<QPushButton>(*form, "play_button")->click();
        // A category item (with its trailing ".") plays entry 0.
        form->tree()->setCurrentItem(item(*form, "Maths."));
        child<QPushButton>(*form, "play_button")->click();
        QCOMPARE(service_->lessons_asked(), (std::vector<std::string>{"add", "same1", "add"}));
        QVERIFY(!form->tree()->isVisible());

        // A double click on an item without children plays (entry 0 for the
        // empty sub-category); on one with children it only folds.
        form->tree()->show();
        QTreeWidgetItem* empty = item(*form, "Empty.");
        form->tree()->setCurrentItem(empty);
        emit form->tree()->itemDoubleClicked(empty, 0);
        form->tree()->show();
        form->tree()->setCurrentItem(basics);
        emit form->tree()->itemDoubleClicked(basics, 0);
        QCOMPARE(service_->lessons_asked(), (std::vector<std::string>{"add", "same1", "add", "add"}));
    }

    void layoutFollowsTheClientSize() {
        auto form = make_form();
        form->showNormal();
        form->resize(600, 100);
        QTRY_COMPARE(form->remembered_client_size(), QSize(600, 100));
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 600, 80));
        QCOMPARE(child<CHtmlStatic>(*form, "news_link_1")->geometry(), QRect(0, 81, 200, 100));
        QCOMPARE(child<CHtmlStatic>(*form, "news_link_5")->geometry(), QRect(800, 81, 200, 100));
        QCOMPARE(form->tree()->geometry(), QRect(0, 37, 350, 47));
    }

    void ticksAdvanceAndTheLastLessonEndsPlayback() {
        service_->set_baselist(baselist_reply({{1, {"C", {{"S", {{"A", "a"}, {"B", "b"}}}}}}}));
        service_->set_lesson("a", lesson_reply({{"a1.html", "0"}}));
        service_->set_lesson("b", lesson_reply({{"b1.HTML", "5"}}));
        auto form = make_form();
        player_->playing = true;
        cursor_ = QPoint(5, 5);  // a moved mouse brings the toolbar back
        form->tick();
        QVERIFY(toolbar_shown(*form));
        QCOMPARE(player_->loaded.back(), service_->base_url() + "/movies/a/0010/a1.swf");
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37 正在播放1"));
        form->tick();  // still playing
        player_->playing = false;
        form->tick();  // a used up: b starts
        QCOMPARE(service_->lessons_asked(), (std::vector<std::string>{"a", "b"}));
        form->tick();
        QCOMPARE(player_->loaded.back(), service_->base_url() + "/movies/b/0010/b1.HTML");
        player_->stand_at_end();
        for (int i = 0; i < 4; ++i) form->tick();
        QVERIFY(!form->playback_timer_running());
        QVERIFY(toolbar_shown(*form));
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37"));
    }

    void nextEntryAProgramRestoresTheWindowWithTheSmallPlayer() {
        service_->set_baselist(
            baselist_reply({{1, {"C", {{"S", {{"A", "a"}, {"Race", "games", "game", "race.exe"}}}}}}}));
        service_->set_lesson("a", lesson_reply({{"a1.swf", "0"}}));
        auto form = make_form();
        QVERIFY(form->isMaximized());
        form->tick();
        form->tick();
        QVERIFY(!form->isMaximized());
        QVERIFY(!form->playback_timer_running());
        QVERIFY(toolbar_shown(*form));
        QCOMPARE(form->windowTitle(), caption_of("在线人数:37"));
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 830, 470));
        // The window system's resize to the normal size, however late it
        // comes and how often, keeps it there.
        const QSize normal = form->normalGeometry().size();
        for (int i = 0; i < 2; ++i) {
            QResizeEvent late(normal, form->remembered_client_size());
            QApplication::sendEvent(form.get(), &late);
        }
        QCOMPARE(form->remembered_client_size(), normal);
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 830, 470));
        // The user's next resize lets the player fill the window again, also
        // when the window later comes back to that normal size.
        form->resize(700, 500);
        QTRY_COMPARE(form->remembered_client_size(), QSize(700, 500));
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 700, 480));
        form->resize(normal);
        QTRY_COMPARE(form->remembered_client_size(), normal);
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 848, 539));

        // Going on from a window the user had brought back to its normal
        // state: no resize is to come, so the user's first one counts.
        form->play_selected();
        form->showNormal();
        form->tick();
        form->tick();
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 830, 470));
        form->resize(760, 520);
        QTRY_COMPARE(form->remembered_client_size(), QSize(760, 520));
        QCOMPARE(form->player_widget()->geometry(), QRect(0, 0, 760, 500));
        QCOMPARE(service_->count("game"), 0u);
    }

    void emptyLessonReplyShowsTheErrorAndStartsNoTimer() {
        service_->drop_lesson("add");
        auto form = make_form();
        QCOMPARE(form->windowTitle(), caption_of("读取网络信息出错！在线人数:"));
        QVERIFY(toolbar_shown(*form));
        QVERIFY(!child<QLabel>(*form, "busy_text")->isVisible());
        QVERIFY(!form->playback_timer_running());
        QVERIFY(player_->loaded.empty());
    }

    void emptyCatalogueStartsNothing() {
        service_->set_baselist("");
        auto form = make_form();
        // Nothing was maximised: the size the state starts with stands.
        QCOMPARE(form->remembered_client_size(), QSize(800, 600));
        QCOMPARE(form->tree()->topLevelItemCount(), 0);
        QCOMPARE(form->windowTitle(), caption_of("在线人数:"));
        QCOMPARE(service_->count("lesson"), 0u);
        QCOMPARE(service_->count("game"), 0u);
        QVERIFY(!form->playback_timer_running());
    }

    void rightClickActsAsLeftAndTheWindowCannotBeClosed() {
        auto form = make_form();
        QVERIFY(!form->tree()->isVisible());
        QTest::mouseClick(child<QPushButton>(*form, "list_button"), Qt::RightButton);
        QVERIFY(form->tree()->isVisible());
        QTest::mousePress(player_, Qt::RightButton);
        QTest::mousePress(player_, Qt::LeftButton);
        QCOMPARE(player_->presses, (std::vector<Qt::MouseButton>{Qt::LeftButton, Qt::LeftButton}));

        // A right double-click is no left one: the player sees none, and on
        // an entry of the tree it plays nothing.
        QTest::mouseDClick(player_, Qt::RightButton);
        QTest::mouseRelease(player_, Qt::RightButton);
        QVERIFY(player_->double_clicks.empty());
        QTreeWidgetItem* add = item(*form, "Add");
        QVERIFY(add);
        const QPoint at = form->tree()->visualItemRect(add).center();
        QTest::mouseClick(form->tree()->viewport(), Qt::RightButton, {}, at);
        QTest::mouseDClick(form->tree()->viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(form->tree()->viewport(), Qt::RightButton, {}, at);
        QVERIFY(form->tree()->isVisible());
        QCOMPARE(form->tree()->currentItem(), add);  // the right click selected it like a left one

        // Enter and Escape on the window itself do nothing (on a button Enter
        // presses it: see the keyboard's case).
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QTest::keyClick(form.get(), Qt::Key_Return);
        QTest::keyClick(form.get(), Qt::Key_Enter);
        QVERIFY(form->isVisible());
        QCOMPARE(service_->lessons_asked().size(), 1u);

        {
            recording_desktop desk;
            child<QPushButton>(*form, "volume_button")->click();
            QCOMPARE(desk.starts.size(), 1u);
        }
        QVERIFY(!child<QPushButton>(*form, "volume_button")->isVisible());

        QVERIFY(!form->close());
        QVERIFY(form->isVisible());
        QVERIFY(!form->isMaximized());
    }

    void keysReachTheToolbarTheTreeAndTheLinksAndLeaveThePlayer() {
        const std::string ad = service_->base_url() + "/ad/";
        service_->set_reply("ad", ads_reply({{gbk_lit("欢迎"), ad + "1"}, {gbk_lit("新课程"), ad + "2"}}));
        service_->set_reply("", "<new_msg>0</new_msg>");
        recording_desktop desk;
        auto form = make_form();
        form->stop_playback_timer();  // ticks come from the test only
        player_->playing = true;
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        player_->setFocus();
        QVERIFY(!toolbar_shown(*form));

        // Tab leaves the player for the toolbar, which comes back, and stays
        // while the keyboard is on it however long the mouse rests.
        QTest::keyClick(player_, Qt::Key_Tab);
        QVERIFY(toolbar_shown(*form));
        auto* list = child<QPushButton>(*form, "list_button");
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
        cursor_ = QPoint(5, 5);  // moved once, then resting away from where a button was pressed
        for (int i = 0; i < 6; ++i) form->tick();
        QVERIFY(toolbar_shown(*form));

        // Enter and Space press the buttons; Tab goes on along the toolbar.
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(form->tree()->isVisible());
        QTest::keyClick(list, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* next = child<QPushButton>(*form, "next_button");
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(next));
        player_->playing = false;
        QTest::keyClick(next, Qt::Key_Space);
        form->tick();
        QVERIFY(player_->loaded.back().ends_with("add2.swf"));
        QTest::keyClick(next, Qt::Key_Enter, Qt::KeypadModifier);
        form->tick();  // past the last movie: the next lesson
        QCOMPARE(service_->lessons_asked(), (std::vector<std::string>{"add", "same1"}));
        player_->playing = true;
        QTest::keyClick(next, Qt::Key_Tab);
        auto* notice = child<CHtmlStatic>(*form, "notice_link");
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(notice));
        QTest::keyClick(notice, Qt::Key_Return);
        QCOMPARE(desk.opened, std::vector<std::string>{announcement_address()});

        // On to the tree: Enter on a category folds it, on an entry plays it.
        QTest::keyClick(notice, Qt::Key_Tab);
        QTreeWidget* tree = form->tree();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(tree));
        tree->setCurrentItem(tree->topLevelItem(0));
        QTest::keyClick(tree, Qt::Key_Return);
        QVERIFY(!tree->topLevelItem(0)->isExpanded());
        QCOMPARE(service_->lessons_asked().size(), 2u);
        tree->topLevelItem(0)->setExpanded(true);
        tree->setCurrentItem(tree->topLevelItem(0)->child(0)->child(0));
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(service_->lessons_asked(), (std::vector<std::string>{"add", "same1", "add"}));
        // The lesson has the keyboard now, and Shift+Tab takes it to the
        // news links that lead somewhere.
        QVERIFY(!tree->isVisible());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(player_));
        QTest::keyClick(player_, Qt::Key_Backtab);
        auto* news_2 = child<CHtmlStatic>(*form, "news_link_2");
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(news_2));
        QVERIFY(pixels_of(*news_2, news_2->palette().color(QPalette::WindowText)) > 0);  // its focus frame
        QTest::keyClick(news_2, Qt::Key_Return);
        QCOMPARE(desk.opened.back(), ad + "2");
        QTest::keyClick(news_2, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(child<CHtmlStatic>(*form, "news_link_1")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(player_));
    }

    void screenReadersSeeTheWindowsControlsAndNoPassword() {
        session().password = "secret-pw-7";
        service_->set_reply("ad", ads_reply({{gbk_lit("欢迎"), service_->base_url() + "/ad/1"}}));
        recording_desktop desk;
        auto form = make_form();
        form->stop_playback_timer();
        form->show_toolbar(true);
        form->toggle_tree();
        auto* notice = child<CHtmlStatic>(*form, "notice_link");
        QVERIFY(notice->html_text().find("secret-pw-7") != std::string::npos);  // the address carries it

        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(notice);
        QCOMPARE(link->role(), QAccessible::StaticText);
        QCOMPARE(link->text(QAccessible::Name), QString::fromUtf8("交新朋友"));
        QCOMPARE(link->childCount(), 1);
        QAccessibleInterface* to_page = link->child(0);
        QCOMPARE(to_page->role(), QAccessible::Link);
        QCOMPARE(to_page->text(QAccessible::Name), QString::fromUtf8("交新朋友"));
        to_page->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(desk.opened, std::vector<std::string>{announcement_address()});
        const auto name_of = [&](const char* control) {
            return QAccessible::queryAccessibleInterface(child<QWidget>(*form, control))->text(QAccessible::Name);
        };
        QCOMPARE(name_of("list_button"), QString::fromUtf8("列表"));
        QCOMPARE(name_of("next_button"), QString(">>"));
        QCOMPARE(name_of("tree"), QString::fromUtf8("课程列表"));
        QCOMPARE(name_of("news_link_1"), QString::fromUtf8("欢迎"));

        // Every node, every text: never the password nor the address, and a
        // name on every control the keyboard can reach.
        const auto nodes = accessible_nodes(QAccessible::queryAccessibleInterface(form.get()));
        QVERIFY(nodes.size() >= 25);  // the window, its controls, their links and the tree's items
        for (QAccessibleInterface* node : nodes) {
            for (const QString& said : readable_texts(node))
                QVERIFY2(!said.contains("secret-pw-7") && !said.contains("login.aspx"), qPrintable(said));
            QVERIFY2(named_if_reachable(node), qPrintable(node->text(QAccessible::Value)));
        }
    }
};

QTEST_MAIN(LessonFormTest)
#include "lesson_form_test.moc"
