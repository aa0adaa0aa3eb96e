// The player's savings under an X server: frames that repeat the picture are
// left out while what moves on the stage still shows, movies keep their
// pace, and MIRVO_PLAYER_SAVINGS=off gives the page without any of it.
#include "client/lessons/player/event_wait.h"
#include "client/lessons/player/player_setup.h"
#include "client/lessons/player/shockwave_flash.h"
#include "common/swf/writer.h"
#include "tests/support/player_suite.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using mirvo::CShockwaveflash1;
namespace swf = mirvo::swf;
using mirvo::testing::plain_movie;

const swf::rgb red{220, 30, 30};
const swf::rgb blue{30, 30, 220};

// What the page says to `js`; invalid when it did not answer in time.
QVariant page_value(CShockwaveflash1& player, const QString& js) {
    QVariant result;
    bool answered = false;
    player.view()->page()->runJavaScript(js, [&](const QVariant& v) {
        result = v;
        answered = true;
    });
    mirvo::player::run_events_until([&] { return answered; }, 5000);
    return result;
}

struct frame_counts {
    int drawn = -1;
    int left_out = -1;
};

frame_counts counts(CShockwaveflash1& player) {
    const QVariantMap m =
        page_value(player, QStringLiteral("window.mirvoStillFrames ? mirvoStillFrames.counts() : null")).toMap();
    if (m.isEmpty()) return {};
    return {m.value(QStringLiteral("drawn")).toInt(), m.value(QStringLiteral("leftOut")).toInt()};
}

QImage grab(CShockwaveflash1& player) { return player.view()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

bool near(QColor got, swf::rgb want) {
    return std::abs(got.red() - want.r) < 40 && std::abs(got.green() - want.g) < 40 &&
           std::abs(got.blue() - want.b) < 40;
}

class player_savings_test : public mirvo::testing::player_suite {
protected:
    // Loads as the lesson window does; true once the root stands.
    static bool play_until_standing(const std::string& url, int max_ms = 15000) {
        player_->LoadMovie(0, url);
        player_->SetBackgroundColor(0xFFFFFF);
        player_->Play();
        mirvo::player::run_events_for(200);
        return mirvo::player::run_events_until([] { return player_->TotalFrames() > 0 && !player_->IsPlaying(); },
                                               max_ms);
    }
};

TEST_F(player_savings_test, a_stage_that_stands_still_is_not_drawn_again_and_stays_on_screen) {
    swf::demo_movie movie = plain_movie(6, 12, 5);
    ASSERT_TRUE(play_until_standing(serve("still.swf", swf::make_demo_movie(movie))));
    const QImage before = grab(*player_);
    const frame_counts a = counts(*player_);
    mirvo::player::run_events_for(1500);
    const frame_counts b = counts(*player_);
    ASSERT_GE(a.drawn, 0) << "the page has no frame counts";
    // Ruffle runs about 18 frames in that time; all but a stray one repeat.
    EXPECT_GE(b.left_out - a.left_out, 10);
    EXPECT_LE(b.drawn - a.drawn, 2);
    // What was left out is still on screen: the same picture, with the
    // movie's red, blue and green shapes on it.
    const QImage after = grab(*player_);
    EXPECT_EQ(before, after);
    int coloured = 0;
    for (int y = 0; y < after.height(); y += 3)
        for (int x = 0; x < after.width(); x += 3) {
            const QColor c = after.pixelColor(x, y);
            coloured += std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 100;
        }
    EXPECT_GT(coloured, 200);
}

TEST_F(player_savings_test, a_stage_that_stands_lets_the_page_and_the_sound_sleep) {
    swf::demo_movie movie = plain_movie(6, 12, 5);
    ASSERT_TRUE(play_until_standing(serve("sleep.swf", swf::make_demo_movie(movie))));
    mirvo::player::run_events_for(1500);
    const int before = page_value(*player_, QStringLiteral("mirvoPlayer.heartbeats()")).toInt();
    mirvo::player::run_events_for(1500);
    EXPECT_EQ(page_value(*player_, QStringLiteral("mirvoPlayer.heartbeats()")).toInt(), before)
        << "the page goes on waking the host";
    EXPECT_EQ(page_value(*player_, QStringLiteral("JSON.stringify(mirvoQuietAudio.asleep().slice(-1))")).toString(),
              "[true]")
        << "the sound output runs on in silence";
    EXPECT_EQ(page_value(*player_, QStringLiteral("String(mirvoPacing.resting())")).toString(), "true")
        << "Ruffle is still woken at the movie's rate";
    EXPECT_FALSE(player_->IsPlaying());
    EXPECT_EQ(player_->CurrentFrame(), 5);

    // Long after the page last spoke, the next movie still gets its time to
    // start and is followed.
    ASSERT_TRUE(play_until_standing(serve("next.swf", swf::make_demo_movie(plain_movie(4, 12, 3)))));
    EXPECT_EQ(player_->TotalFrames(), 4);
    EXPECT_EQ(player_->CurrentFrame(), 3);

    // A sound after a silent spell wakes the sound output: the root stands
    // on its only frame, a sprite starts a tone after two seconds.
    swf::movie_writer w({8, 400, 300, 12, {255, 255, 255}});
    const std::uint16_t tone = w.define_tone(440, 1.5);
    swf::timeline late;
    for (int f = 0; f < 24; ++f) late.show_frame();
    late.start_sound(tone);
    late.stop();
    late.show_frame();
    w.place(1, w.define_sprite(late), 0, 0);
    w.stop();
    w.show_frame();
    ASSERT_TRUE(play_until_standing(serve("tone.swf", w.finish(false))));
    const QString asleep = QStringLiteral("JSON.stringify(mirvoQuietAudio.asleep().slice(-1))");
    EXPECT_TRUE(
        mirvo::player::run_events_until([&] { return page_value(*player_, asleep).toString() == "[true]"; }, 1900))
        << "the sound output does not sleep before the tone";
    EXPECT_TRUE(
        mirvo::player::run_events_until([&] { return page_value(*player_, asleep).toString() == "[false]"; }, 3000))
        << "the tone did not wake the sound output";
}

TEST_F(player_savings_test, a_blinking_sprite_on_a_standing_root_goes_on_blinking) {
    swf::demo_movie movie = plain_movie(4, 12, 3);
    movie.sprite = true;  // four colours, one per sprite frame
    ASSERT_TRUE(play_until_standing(serve("blink.swf", swf::make_demo_movie(movie))));
    const frame_counts a = counts(*player_);
    std::vector<QImage> seen;
    for (int i = 0; i < 16; ++i) {
        const QImage shot = grab(*player_);
        if (std::find(seen.begin(), seen.end(), shot) == seen.end()) seen.push_back(shot);
        mirvo::player::run_events_for(60);
    }
    EXPECT_GE(seen.size(), 3u) << "the sprite stopped blinking on screen";
    const frame_counts b = counts(*player_);
    EXPECT_GE(b.drawn - a.drawn, 6);
}

TEST_F(player_savings_test, a_change_after_a_long_still_spell_is_drawn) {
    // The root stands on its only frame from the start; a sprite shows a red
    // square for 30 frames (2.5 s), then turns it blue and stops.
    swf::movie_writer w({8, 400, 300, 12, {255, 255, 255}});
    const std::uint16_t red_square = w.define_shape(red, {{swf::outline::kind::rect, 0, 0, 2000, 2000}});
    const std::uint16_t blue_square = w.define_shape(blue, {{swf::outline::kind::rect, 0, 0, 2000, 2000}});
    swf::timeline late;
    late.place(1, red_square, 2000, 2000);
    for (int f = 0; f < 30; ++f) late.show_frame();
    late.replace(1, blue_square, 2000, 2000);
    late.stop();
    late.show_frame();
    const std::uint16_t sprite = w.define_sprite(late);
    w.place(1, sprite, 0, 0);
    w.stop();
    w.show_frame();

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(play_until_standing(serve("late.swf", w.finish(false))));
    const QPoint square(150, 150);
    ASSERT_TRUE(mirvo::player::run_events_until([&] { return near(grab(*player_).pixelColor(square), red); }, 3000));
    // Well inside the red spell the page has been leaving frames out, and
    // the stage's direct way to the screen (which keeps the page awake) has
    // left the page; the red square stays on screen.
    const frame_counts resting = counts(*player_);
    EXPECT_GT(resting.left_out, 0);
    const QString direct_ways = QStringLiteral("String(mirvoDirectCanvas.onPage())");
    EXPECT_TRUE(
        mirvo::player::run_events_until([&] { return page_value(*player_, direct_ways).toString() == "0"; }, 2000))
        << "the page keeps its desynchronized canvas while the stage stands";
    EXPECT_TRUE(near(grab(*player_).pixelColor(square), red));
    ASSERT_TRUE(mirvo::player::run_events_until([&] { return near(grab(*player_).pixelColor(square), blue); }, 5000))
        << "the square never turned blue on screen";
    EXPECT_GE(clock.elapsed(), 2000) << "blue came too early";
    EXPECT_TRUE(
        mirvo::player::run_events_until([&] { return page_value(*player_, direct_ways).toString() == "1"; }, 1000))
        << "the change did not bring the desynchronized canvas back";
}

TEST_F(player_savings_test, a_fast_movie_keeps_its_pace) {
    // 60 frames at 30 fps: two seconds from the first frame to the last.
    swf::demo_movie movie = plain_movie(60, 30, 59);
    std::vector<qint64> entered(60, -1);
    QElapsedTimer clock;
    clock.start();
    const auto connection = QObject::connect(player_, &CShockwaveflash1::frame_entered, [&](int index) {
        if (index >= 0 && index < 60 && entered[index] < 0) entered[index] = clock.elapsed();
    });
    ASSERT_TRUE(play_until_standing(serve("fast.swf", swf::make_demo_movie(movie))));
    QObject::disconnect(connection);
    EXPECT_EQ(player_->CurrentFrame(), 59);
    ASSERT_GE(entered[0], 0);
    ASSERT_GE(entered[59], 0);
    const qint64 span = entered[59] - entered[0];
    EXPECT_GE(span, 1600);
    EXPECT_LE(span, 2600);
    // One frame per wake-up: frames that come together were run in one go,
    // as happens when the page wakes Ruffle less often than the movie's rate.
    int seen = 0, bunched = 0;
    qint64 previous = -1;
    for (const qint64 at : entered) {
        if (at < 0) continue;
        ++seen;
        if (previous >= 0 && at - previous < 8) ++bunched;
        previous = at;
    }
    EXPECT_GE(seen, 50);
    // A busy machine delays some marker messages into pairs; woken at half
    // the rate, every other frame comes with the one before it (30).
    EXPECT_LE(bunched, 20) << "frames were run in bunches";
}

TEST(player_savings_switch, off_gives_the_page_without_savings) {
    // Whether a stage canvas would reach the screen past the page's compositor.
    const QString desynchronized = QStringLiteral("typeof window.mirvoDirectCanvas === 'object'");
    setenv("MIRVO_PLAYER_SAVINGS", "off", 1);
    {
        CShockwaveflash1 plain;
        plain.resize(200, 150);
        plain.show();
        ASSERT_TRUE(mirvo::player::run_events_until([&] { return plain.page_ready(); }, 30000));
        EXPECT_EQ(page_value(plain, QStringLiteral("typeof window.mirvoStillFrames")).toString(), "undefined");
        EXPECT_TRUE(page_value(plain, QStringLiteral("String(window.requestAnimationFrame)"))
                        .toString()
                        .contains(QStringLiteral("[native code]")));
        EXPECT_FALSE(page_value(plain, desynchronized).toBool());
    }
    unsetenv("MIRVO_PLAYER_SAVINGS");
    CShockwaveflash1 saving;
    ASSERT_TRUE(mirvo::player::run_events_until([&] { return saving.page_ready(); }, 30000));
    EXPECT_EQ(page_value(saving, QStringLiteral("typeof window.mirvoStillFrames")).toString(), "object");
    EXPECT_TRUE(page_value(saving, desynchronized).toBool());
}

}  // namespace

int main(int argc, char** argv) {
    mirvo::prepare_movie_player(argc, argv);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
