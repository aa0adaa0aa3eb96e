// CShockwaveflash1: the lesson window's movie player. Ruffle's web build runs
// in a QWebEngineView on a page of our own; the six operations answer from a
// snapshot that the page keeps up to date, so none of them waits on the page.
#pragma once

#include "client/lessons/movie_player.h"
#include "client/lessons/player/movie_timeline.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QWebChannel;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

namespace mirvo::player {
class player_scheme_handler;
class page_bridge;
struct fetched;
}  // namespace mirvo::player

namespace mirvo {

class CShockwaveflash1 : public QWidget, public movie_player {
    Q_OBJECT
public:
    explicit CShockwaveflash1(QWidget* parent = nullptr);
    ~CShockwaveflash1() override;

    bool IsPlaying() override;
    std::int32_t TotalFrames() override;
    std::int32_t CurrentFrame() override;
    // Only level 0 exists here: any layer replaces the movie.
    void LoadMovie(std::int32_t layer, const std::string& address) override;
    void SetBackgroundColor(std::int32_t colour) override;
    void Play() override;

    // Where a web page that a movie opens (getURL) goes: the server address
    // of the page. By default the desktop's browser; the player page itself
    // never navigates away.
    void set_address_opener(std::function<void(const QString& address)> open);

    // True once the page (with Ruffle) is up and can take a movie.
    bool page_ready() const { return page_ready_; }
    QWebEngineView* view() const { return view_; }

signals:
    void page_ready_changed(bool ready);
    // A root frame was entered (from the frame markers), for those who watch.
    void frame_entered(int index);
    // The movie could not be fetched, read or started.
    void movie_failed(const QString& why);

private:
    friend class player::page_bridge;

    void start_page();
    void movie_fetched(int generation, const std::shared_ptr<player::fetched>& result, const QString& page_url);
    void send_pending();
    void fail(const QString& why);
    QString background_css() const;

    // From the page (through page_bridge).
    void on_page_ready();
    void on_loaded(int generation, bool ok, const QString& error, double page_ms);
    void on_marker(int generation, int index, double page_ms);
    void on_heartbeat(int generation, double page_ms);

    QWebEngineProfile* profile_ = nullptr;
    QWebEnginePage* page_ = nullptr;
    QWebEngineView* view_ = nullptr;
    QWebChannel* channel_ = nullptr;
    player::page_bridge* bridge_ = nullptr;
    player::player_scheme_handler* handler_ = nullptr;

    player::movie_timeline timeline_;
    int generation_ = 0;
    std::int32_t background_ = 0xFFFFFF;
    bool page_ready_ = false;
    // A load waiting for the page; its colour is filled in when it is sent,
    // and the timeline starts following it then (a page still starting up
    // must not use up the movie's start time-out).
    struct pending_load {
        int generation;
        QJsonObject options;
        int total_frames;
        double frame_rate;
        player::movie_timeline::follow mode;
    };
    std::optional<pending_load> pending_load_;
    QString marker_prefix_;
    std::shared_ptr<std::atomic<bool>> fetch_cancel_;
    std::function<void(const QString&)> open_address_;
};

}  // namespace mirvo
