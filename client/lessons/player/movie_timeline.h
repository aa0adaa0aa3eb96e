// What the lesson window sees of the movie in the player: total frames, the
// root frame shown and whether the root timeline still moves. The page tells
// us which root frame was entered (frame markers) and keeps a heartbeat; both
// carry the page's own clock, so a quiet timeline is judged in page time and a
// page that is not running (suspended, or our thread busy) never looks like a
// movie that stopped.
#pragma once

namespace mirvo::player {

class movie_timeline {
public:
    // A timeline counts as standing after this many frame intervals without
    // a marker, and never sooner than min_quiet_ms: a busy machine delays
    // frames now and then, and a movie taken for stopped by mistake is
    // skipped by the lesson. With the heartbeat's 100 ms the stand is still
    // seen within one 700 ms tick of the lesson window.
    static constexpr double quiet_intervals = 2.5;
    static constexpr double min_quiet_ms = 400;
    // A movie whose first frame does not arrive within this long after it
    // was handed to the page is taken as not loadable.
    static constexpr double start_timeout_ms = 10000;

    enum class follow { markers, clock };

    // How long the page must keep telling its time for the quiet of a root
    // running at frame_rate to be seen: after each marker, and after a load
    // (the start time-out, or a clock's whole run and its quiet).
    static double quiet_ms(double frame_rate);
    static double watch_ms(int total_frames, double frame_rate, follow mode);

    // LoadMovie: the movie is being fetched; it counts as playing.
    void loading();
    // Nothing to play (fetch failed, not a movie, page failed).
    void failed();
    // The movie's bytes went to the page. `mode` says how the root timeline
    // is followed: by the markers, or by a clock over the header's rate.
    void handed_over(int total_frames, double frame_rate, follow mode);
    // The first word from the page about the movie handed over: its start
    // time-out counts from page_ms. The page's clock may have gone on long
    // after the last time we heard it (a page that stands says nothing).
    void page_took_over(double page_ms);
    // Ruffle's load() resolved (the clock of clock mode starts here).
    void page_loaded(double page_ms);
    void marker(int index, double page_ms);
    void heartbeat(double page_ms);
    // A new page (after its renderer died) starts its clock from zero.
    void page_restarted();

    bool playing() const;
    int total_frames() const { return total_; }
    int current_frame() const;

private:
    enum class phase { idle, fetching, started, failed };

    double interval_ms() const;
    void see(double page_ms);

    phase phase_ = phase::idle;
    follow mode_ = follow::markers;
    int total_ = 0;
    double rate_ = 12;
    bool have_page_time_ = false;
    double page_now_ = 0;   // latest page time seen
    double handed_at_ = 0;  // page time when the bytes went to the page
    bool taken_over_ = false;
    bool loaded_ = false;
    double loaded_at_ = 0;
    bool have_marker_ = false;
    int latest_ = 0;
    double latest_at_ = 0;
};

}  // namespace mirvo::player
