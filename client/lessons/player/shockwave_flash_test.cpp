// The real player under an X server: generated movies served over loopback,
// the snapshot checked against what the movies are built to do.
#include "client/lessons/player/shockwave_flash.h"

#include "client/lessons/player/event_wait.h"
#include "client/lessons/player/player_setup.h"
#include "common/swf/swf_bytes.h"
#include "common/swf/writer.h"
#include "tests/support/player_suite.h"
#include "tests/support/test_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>
#include <lzma.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using mirvo::CShockwaveflash1;
using mirvo::testing::plain_movie;
using mirvo::testing::scripted_response;
using mirvo::testing::test_http_server;
namespace swf = mirvo::swf;

constexpr int tick_ms = 700;  // the lesson window's timer period

struct sample {
    qint64 ms;
    bool playing;
    int current;
    int total;
};

struct marker_seen {
    qint64 ms;
    int index;
};

class player_test : public mirvo::testing::player_suite {
protected:
    void SetUp() override {
        markers_.clear();
        connection_ = QObject::connect(player_, &CShockwaveflash1::frame_entered, [this](int index) {
            markers_.push_back({clock_.elapsed(), index});
        });
        player_->SetBackgroundColor(0xFFFFFF);
    }
    void TearDown() override { QObject::disconnect(connection_); }

    // Loads the way the lesson window does and samples the snapshot every
    // 50 ms until `done` says so or the time is up.
    std::vector<sample> play(const std::string& url, int max_ms,
                             const std::function<bool(const std::vector<sample>&)>& done) {
        clock_.start();
        player_->LoadMovie(0, url);
        player_->SetBackgroundColor(background_);
        player_->Play();
        std::vector<sample> samples;
        while (clock_.elapsed() < max_ms) {
            samples.push_back(
                {clock_.elapsed(), player_->IsPlaying(), player_->CurrentFrame(), player_->TotalFrames()});
            if (done(samples)) break;
            mirvo::player::run_events_for(50);
        }
        return samples;
    }

    // The movie ran to `stop_frame` and stands there: the snapshot shows it
    // playing while frames come, and standing within one tick after the last.
    void expect_stands_at(const std::vector<sample>& samples, int total, int stop_frame, double rate) {
        ASSERT_FALSE(markers_.empty()) << "no frame was seen";
        EXPECT_EQ(markers_.front().index, 0);
        const marker_seen last = markers_.back();
        EXPECT_EQ(last.index, stop_frame);
        // The root really played at its rate: from frame 0 to the stop frame
        // takes stop_frame intervals (the first frames may come in a burst).
        const double span = static_cast<double>(last.ms - markers_.front().ms);
        EXPECT_GE(span, 0.6 * stop_frame * 1000 / rate);
        EXPECT_LE(span, 2.0 * stop_frame * 1000 / rate + 500);

        int previous = 0;
        qint64 stood_at = -1;
        for (const sample& s : samples) {
            if (s.total != 0) {
                EXPECT_EQ(s.total, total) << "at " << s.ms;
            }
            EXPECT_GE(s.current, previous) << "the frame went backwards at " << s.ms;
            previous = s.current;
            if (s.ms <= last.ms) {
                EXPECT_TRUE(s.playing) << "reported standing while frames still came, at " << s.ms;
            }
            if (!s.playing && stood_at < 0) stood_at = s.ms;
            if (stood_at >= 0) {
                EXPECT_FALSE(s.playing) << "playing again at " << s.ms;
                EXPECT_EQ(s.current, stop_frame) << "at " << s.ms;
            }
        }
        ASSERT_GE(stood_at, 0) << "never reported standing";
        EXPECT_LE(stood_at - last.ms, tick_ms) << "standing noticed too late";
        EXPECT_GE(samples.back().ms - stood_at, 1000) << "not watched long enough after standing";
    }

    static bool stood_for(const std::vector<sample>& s, qint64 ms) {
        for (auto it = s.rbegin(); it != s.rend(); ++it)
            if (it->playing) return it != s.rbegin() && s.back().ms - it->ms >= ms;
        return !s.empty() && s.back().total > 0 && s.back().ms - s.front().ms >= ms;
    }

    static QImage grab() { return player_->view()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    static void save_screenshot(const QImage& image, const char* name) {
        const char* dir = std::getenv("MIRVO_SCREENSHOT_DIR");
        image.save(QString::fromLocal8Bit(dir ? dir : ".") + QLatin1Char('/') + QLatin1String(name));
    }

    std::vector<marker_seen> markers_;
    QElapsedTimer clock_;
    std::int32_t background_ = 0xFFFFFF;
    QMetaObject::Connection connection_;
};

TEST_F(player_test, a_movie_that_stops_on_its_last_frame_is_followed_to_the_end) {
    auto movie = plain_movie(20, 10, 19);
    const auto url = serve("last.swf", swf::make_demo_movie(movie));
    const auto samples = play(url, 15000, [](const auto& s) { return stood_for(s, 1500); });
    expect_stands_at(samples, 20, 19, 10);

    // What stands on screen is still: two pictures a while apart are the same.
    const QImage a = grab();
    mirvo::player::run_events_for(400);
    EXPECT_EQ(a, grab());
}

TEST_F(player_test, a_movie_that_stops_half_way_stands_where_it_stopped) {
    auto movie = plain_movie(20, 12, 9);
    movie.compress = true;  // CWS on the wire, rewritten for the page
    const auto url = serve("half.swf", swf::make_demo_movie(movie));
    const auto samples = play(url, 15000, [](const auto& s) { return stood_for(s, 1500); });
    expect_stands_at(samples, 20, 9, 12);
}

// The same movie with its body LZMA-compressed (ZWS); empty on failure.
std::string as_zws(const std::string& fws) {
    if (fws.size() < 8) return {};
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6)) return {};
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&strm, &options) != LZMA_OK) return {};
    std::string packed(fws.size() + 1024, '\0');
    strm.next_in = reinterpret_cast<const std::uint8_t*>(fws.data() + 8);
    strm.avail_in = fws.size() - 8;
    strm.next_out = reinterpret_cast<std::uint8_t*>(packed.data());
    strm.avail_out = packed.size();
    const lzma_ret rc = lzma_code(&strm, LZMA_FINISH);
    packed.resize(packed.size() - strm.avail_out);
    lzma_end(&strm);
    if (rc != LZMA_STREAM_END || packed.size() < 13) return {};
    // .lzma is 5 property bytes, 8 size bytes, the data; ZWS keeps the
    // properties and the data, with the data's length in front.
    // Flash Player reads LZMA movies from version 13 on.
    std::string zws = "ZWS" + std::string(1, '\x0d') + fws.substr(4, 4);
    swf::detail::put_u32(zws, static_cast<std::uint32_t>(packed.size() - 13));
    return zws + packed.substr(0, 5) + packed.substr(13);
}

TEST_F(player_test, an_lzma_compressed_movie_is_followed_too) {
    const std::string zws = as_zws(swf::make_demo_movie(plain_movie(12, 12, 11)));
    ASSERT_FALSE(zws.empty());
    const auto url = serve("lzma.swf", zws);
    expect_stands_at(play(url, 15000, [](const auto& s) { return stood_for(s, 1500); }), 12, 11, 12);
}

TEST_F(player_test, a_looping_movie_plays_on_and_wraps) {
    auto movie = plain_movie(8, 12, -1);
    const auto url = serve("loop.swf", swf::make_demo_movie(movie));
    const auto samples = play(url, 3500, [](const auto&) { return false; });
    bool wrapped = false;
    int previous = -1;
    for (const sample& s : samples) {
        EXPECT_TRUE(s.playing) << "a looping movie reported standing at " << s.ms;
        EXPECT_GE(s.current, 0);
        EXPECT_LT(s.current, 8);
        if (s.total != 0) {
            EXPECT_EQ(s.total, 8);
        }
        if (s.current < previous) wrapped = true;
        previous = s.current;
    }
    EXPECT_TRUE(wrapped) << "the frame never went back to the start";
    ASSERT_FALSE(markers_.empty());
}

TEST_F(player_test, the_movies_own_traces_are_not_taken_for_frames) {
    // The root traces number-like texts, and a sprite keeps tracing after the
    // root has stopped on frame 5.
    swf::movie_writer w({8, 400, 300, 12, {255, 255, 255}});
    swf::timeline chatter;
    chatter.trace("15");
    chatter.show_frame();
    chatter.trace("mirvo-frame-0:17");
    chatter.show_frame();
    const auto sprite = w.define_sprite(chatter);
    for (int f = 0; f < 12; ++f) {
        if (f == 0) w.place(1, sprite, 0, 0);
        w.trace("11");
        if (f == 5) w.stop();
        w.show_frame();
    }
    const auto url = serve("chatty.swf", w.finish(false));
    const auto samples = play(url, 15000, [](const auto& s) { return stood_for(s, 1500); });
    expect_stands_at(samples, 12, 5, 12);
}

TEST_F(player_test, the_background_colour_fills_the_stage_and_the_area_around_it) {
    auto movie = plain_movie(4, 12, 3);
    movie.shapes.clear();
    movie.counter = false;
    movie.look.background = {0, 160, 0};  // the movie's own green is overridden
    const auto url = serve("empty.swf", swf::make_demo_movie(movie));

    player_->resize(520, 300);  // room beside the 4:3 stage
    for (const auto& [colour, expected] :
         {std::pair{0x0000FF, QColor(255, 0, 0)}, std::pair{0xFF8000, QColor(0, 128, 255)}}) {
        background_ = colour;
        play(url, 15000, [](const auto& s) { return stood_for(s, 300); });
        const QImage image = grab();
        ASSERT_FALSE(image.isNull());
        ASSERT_EQ(image.width(), 520);
        // Centre of the stage, and the strips left and right of it.
        for (const QPoint p : {QPoint(image.width() / 2, image.height() / 2), QPoint(2, 2),
                               QPoint(image.width() - 3, image.height() - 3)}) {
            const QColor got = image.pixelColor(p);
            EXPECT_NEAR(got.red(), expected.red(), 8) << "at " << p.x() << "," << p.y();
            EXPECT_NEAR(got.green(), expected.green(), 8) << "at " << p.x() << "," << p.y();
            EXPECT_NEAR(got.blue(), expected.blue(), 8) << "at " << p.x() << "," << p.y();
        }
    }
    background_ = 0xFFFFFF;
    player_->resize(400, 300);
}

TEST_F(player_test, a_screenshot_of_a_frame_shows_the_movie) {
    swf::demo_movie movie = plain_movie(24, 12, 12);
    movie.sprite = true;
    const auto url = serve("look.swf", swf::make_demo_movie(movie));
    play(url, 15000, [](const auto& s) { return stood_for(s, 700); });
    EXPECT_EQ(player_->CurrentFrame(), 12);
    const QImage image = grab();
    save_screenshot(image, "player_frame.png");
    // The three moving shapes are red, blue and green on white.
    int reddish = 0, bluish = 0, greenish = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QColor c = image.pixelColor(x, y);
            reddish += c.red() > 180 && c.green() < 90 && c.blue() < 90;
            bluish += c.blue() > 180 && c.red() < 90 && c.green() < 140;
            greenish += c.green() > 140 && c.red() < 90 && c.blue() < 110;
        }
    EXPECT_GT(reddish, 50);
    EXPECT_GT(bluish, 50);
    EXPECT_GT(greenish, 20);
}

// A two-frame movie whose frames each call getURL (by default loading other
// movies into levels 1 and 2), then stop.
std::string loader_movie(const std::string& first_url, const std::string& second_url,
                         const std::string& first_target = "_level1", const std::string& second_target = "_level2") {
    using namespace swf::detail;
    swf::bit_writer rect;
    rect.put_unsigned(15, 5);
    for (const int v : {0, 400 * 20, 0, 300 * 20}) rect.put_signed(v, 15);
    std::string body = rect.take();
    put_u16(body, 12 << 8);  // 12 fps
    put_u16(body, 2);
    append_tag(body, tag_set_background_color, std::string("\xff\xff\xff", 3));
    const auto get_url = [](const std::string& url, const std::string& target, bool stop) {
        std::string a;
        a.push_back(static_cast<char>(0x83));  // ActionGetURL
        put_u16(a, static_cast<unsigned>(url.size() + target.size() + 2));
        a += url;
        a.push_back(0);
        a += target;
        a.push_back(0);
        if (stop) a.push_back(static_cast<char>(action_stop));
        a.push_back(static_cast<char>(action_end));
        return a;
    };
    append_tag(body, tag_do_action, get_url(first_url, first_target, false));
    append_tag(body, tag_show_frame, "");
    append_tag(body, tag_do_action, get_url(second_url, second_target, true));
    append_tag(body, tag_show_frame, "");
    append_tag(body, tag_end, "");
    std::string movie = "FWS";
    movie.push_back(8);
    put_u32(movie, static_cast<std::uint32_t>(8 + body.size()));
    return movie + body;
}

TEST_F(player_test, a_movie_in_a_chinese_folder_loads_its_neighbours_and_its_servers_files) {
    // The folder is "课" in GBK; the lesson window hands such names over raw
    // or escaped, and both reach the same server path.
    const std::string folder = "/lesson/%BF%CE/0010/";
    auto little = plain_movie(2, 12, 1);
    little.shapes.clear();
    scripted_response sub;
    sub.body = swf::make_demo_movie(little);
    server_->on(folder + "neighbour.swf", sub);
    server_->on("/shared/absolute.swf", sub);
    scripted_response loader;
    loader.body = loader_movie("neighbour.swf", server_->base_url() + "/shared/absolute.swf");
    server_->on(folder + "loader.swf", loader);

    const auto samples = play(server_->base_url() + "/lesson/\xBF\xCE/0010/loader.swf", 15000,
                              [](const auto& s) { return stood_for(s, 1500); });
    expect_stands_at(samples, 2, 1, 12);
    ASSERT_TRUE(mirvo::player::run_events_until(
        [] {
            int seen = 0;
            for (const auto& r : server_->requests())
                seen += r.target == "/lesson/%BF%CE/0010/neighbour.swf" || r.target == "/shared/absolute.swf";
            return seen >= 2;
        },
        5000))
        << "the movie's own loads did not reach its server";
}

TEST_F(player_test, web_pages_a_movie_opens_go_to_the_opener_and_the_movie_plays_on) {
    // A page for a new window goes to the desktop; one for the player's own
    // window is refused (the player page must stay), and the movie plays on.
    std::vector<QString> opened;
    player_->set_address_opener([&](const QString& address) { opened.push_back(address); });
    const auto url =
        serve("opens.swf", loader_movie("info.html?x=1", server_->base_url() + "/ad/page.html", "_blank", "_self"));
    const auto samples = play(url, 15000, [&](const auto& s) { return stood_for(s, 1500) && !opened.empty(); });
    player_->set_address_opener(nullptr);
    expect_stands_at(samples, 2, 1, 12);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toStdString(), server_->base_url() + "/lesson/0010/info.html?x=1");
    markers_.clear();
    const auto next = serve("after_opening.swf", swf::make_demo_movie(plain_movie(6, 12, 5)));
    expect_stands_at(play(next, 15000, [](const auto& s) { return stood_for(s, 1500); }), 6, 5, 12);
}

TEST_F(player_test, a_movie_loaded_while_the_player_starts_waits_for_it) {
    // The lesson window starts its first movie right after creating the
    // player, long before Ruffle is ready.
    const auto url = serve("early.swf", swf::make_demo_movie(plain_movie(12, 12, 11)));
    CShockwaveflash1 fresh;
    fresh.resize(400, 300);
    fresh.show();
    QElapsedTimer clock;
    clock.start();
    fresh.LoadMovie(0, url);
    fresh.SetBackgroundColor(0xFFFFFF);
    fresh.Play();
    EXPECT_FALSE(fresh.page_ready());
    qint64 stood_at = -1;
    ASSERT_TRUE(mirvo::player::run_events_until(
        [&] {
            EXPECT_TRUE(fresh.IsPlaying() || fresh.CurrentFrame() == 11) << "not playing at " << clock.elapsed();
            if (!fresh.IsPlaying() && stood_at < 0) stood_at = clock.elapsed();
            return stood_at >= 0 && clock.elapsed() - stood_at > 1000;
        },
        30000));
    EXPECT_EQ(fresh.CurrentFrame(), 11);
    EXPECT_EQ(fresh.TotalFrames(), 12);
    EXPECT_FALSE(fresh.IsPlaying());
}

TEST_F(player_test, the_player_recovers_when_its_renderer_dies) {
    // The new page's clock starts from zero; let the old one run well ahead
    // first, as it has in a lesson.
    mirvo::player::run_events_for(3000);
    const qint64 pid = player_->view()->page()->renderProcessPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(mirvo::player::run_events_until([] { return !player_->page_ready(); }, 10000));
    EXPECT_FALSE(player_->IsPlaying());
    ASSERT_TRUE(mirvo::player::run_events_until([] { return player_->page_ready(); }, 30000));
    const auto url = serve("after_crash.swf", swf::make_demo_movie(plain_movie(10, 12, 9)));
    expect_stands_at(play(url, 15000, [](const auto& s) { return stood_for(s, 1500); }), 10, 9, 12);
}

TEST_F(player_test, an_actionscript_3_movie_is_followed_by_the_clock) {
    std::string bytes = swf::make_demo_movie(plain_movie(10, 10, 9));
    // Turn the FileAttributes flag for ActionScript 3 on: the player then
    // runs no DoAction, markers included.
    const std::size_t rect_bytes = (5 + 4 * (static_cast<unsigned char>(bytes[8]) >> 3) + 7) / 8;
    const std::size_t tag = 8 + rect_bytes + 4;
    ASSERT_EQ(swf::detail::get_u16(bytes, tag) >> 6, static_cast<unsigned>(swf::detail::tag_file_attributes));
    bytes[tag + 2] = static_cast<char>(bytes[tag + 2] | 0x08);
    const auto url = serve("as3.swf", bytes);
    const auto samples = play(url, 15000, [](const auto& s) { return stood_for(s, 1000); });
    EXPECT_TRUE(markers_.empty());
    ASSERT_FALSE(samples.back().playing);
    EXPECT_EQ(samples.back().current, 9);
    EXPECT_EQ(samples.back().total, 10);
    qint64 stood_at = 0;
    int previous = 0;
    for (const sample& s : samples) {
        EXPECT_GE(s.current, previous);
        previous = s.current;
        if (s.playing) stood_at = s.ms;
    }
    // Nine frame intervals after the movie started, and it cannot have
    // started before it was asked for.
    EXPECT_GE(stood_at, 900);
    EXPECT_LE(stood_at, 6000);
}

TEST_F(player_test, movies_that_cannot_be_had_are_not_playing) {
    server_->on("/lesson/0010/text.swf", scripted_response::text(200, "this is not a movie"));
    for (const std::string& url : {server_->base_url() + "/lesson/0010/missing.swf",
                                   server_->base_url() + "/lesson/0010/text.swf", std::string("not an address")}) {
        const auto samples = play(url, 5000, [](const auto& s) { return !s.back().playing; });
        ASSERT_FALSE(samples.back().playing) << url;
        EXPECT_LE(samples.back().ms, tick_ms) << url;
        EXPECT_EQ(player_->TotalFrames(), 0) << url;
        EXPECT_EQ(player_->CurrentFrame(), 0) << url;
    }
}

TEST_F(player_test, a_later_load_wins_over_a_slow_earlier_one) {
    scripted_response slow;
    slow.body = swf::make_demo_movie(plain_movie(30, 12, 29));
    slow.delay_before_ms = 1500;
    server_->on("/lesson/0010/slow.swf", slow);
    player_->LoadMovie(0, server_->base_url() + "/lesson/0010/slow.swf");
    const auto url = serve("quick.swf", swf::make_demo_movie(plain_movie(6, 12, 5)));
    const auto samples = play(url, 15000, [](const auto& s) { return stood_for(s, 2500); });
    expect_stands_at(samples, 6, 5, 12);
}

TEST_F(player_test, a_hidden_player_keeps_playing) {
    // A lesson goes on while the frame sits in the tray: the window is hidden
    // while one movie plays, and the next movie starts while it is hidden.
    const auto first = serve("before_tray.swf", swf::make_demo_movie(plain_movie(20, 10, 19)));
    QTimer::singleShot(600, player_, [] { player_->hide(); });
    auto samples = play(first, 15000, [](const auto& s) { return stood_for(s, 1500); });
    EXPECT_FALSE(player_->isVisible());
    expect_stands_at(samples, 20, 19, 10);

    markers_.clear();
    const auto second = serve("in_tray.swf", swf::make_demo_movie(plain_movie(20, 10, 19)));
    samples = play(second, 15000, [](const auto& s) { return stood_for(s, 1500); });
    player_->show();
    expect_stands_at(samples, 20, 19, 10);
}

TEST(player_setup, without_a_gpu_no_opengl_is_set_up_and_the_movie_still_shows) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
        if (entry.path().filename().string().rfind("renderD", 0) == 0) GTEST_SKIP() << "this machine has a GPU";
    // Mesa's software rasteriser is what an OpenGL context loads here.
    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    EXPECT_EQ(mapped.find("_dri.so"), std::string::npos) << "an OpenGL driver was loaded";
    EXPECT_EQ(mapped.find("libLLVM"), std::string::npos);
    // Programs the client starts do not inherit the switch.
    EXPECT_EQ(std::getenv("QT_XCB_GL_INTEGRATION"), nullptr);

    CShockwaveflash1 player;
    player.resize(320, 240);
    player.show();
    ASSERT_TRUE(mirvo::player::run_events_until([&] { return player.page_ready(); }, 60000));
}

}  // namespace

int main(int argc, char** argv) {
    mirvo::prepare_movie_player(argc, argv);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
