// The lesson window's three channels from the service: five news links that
// cycle through the ads, the notice link that leads to the service's pages
// and blinks while unread messages wait, and the new-message notice window
// that pops up now and then while they do. The count of unread messages
// comes from the lesson replies and from a poll on the playback tick. The
// window binds this to its links through notices_view.
#pragma once

#include "client/controls/hyperlink.h"
#include "client/lessons/playback.h"

#include <string>
#include <vector>

namespace mirvo {

// What the notices ask of the lesson window.
class notices_view {
public:
    virtual ~notices_view() = default;
    virtual hyperlink& notice_link() = 0;
    virtual hyperlink& news_link(int k) = 0;  // 0 to 4, left to right
    // Repaints the notice link with its background erased.
    virtual void repaint_notice_link() = 0;
    // The window system's plain show of the notice window (nothing while it
    // is already up, nothing when there is no such window).
    virtual void show_notice_window() = 0;
    // The window's caption (GBK).
    virtual std::string caption() = 0;
    virtual void set_caption(const std::string& text) = 0;
};

struct ad_entry {
    std::string text;     // GBK
    std::string address;  // as the service gave it
};

// The announcement page with the user's messages: the session user and the
// password as typed (not coded; the service's page reads it there, so it ends
// up in the browser's history), both percent-encoded.
std::string announcement_address();

class lesson_notices {
public:
    static constexpr int news_link_count = 5;
    static constexpr int ticks_per_rotation = 10;  // 7 s
    static constexpr int ticks_per_poll = 4;       // 2.8 s
    static constexpr int ticks_per_notice = 100;   // 70 s

    // The count of unread messages and the caption's status suffix live in
    // the playback state, which the lesson start writes too.
    lesson_notices(notices_view& view, playback_state& state);

    // The notice link's looks and its first text, at the window's start.
    void init_notice_link();
    // The ad request. An empty reply leaves the list as it was.
    void load_ads();
    // Puts the next ads on the news links from the left, stopping after the
    // last ad: with fewer than five, the links to its right keep what they
    // showed.
    void rotate_news_links();
    // "交新朋友", or "您有新信息!" while messages wait.
    void set_notice_link();
    // The notices' share of every playback tick.
    void tick_notices();

    const std::vector<ad_entry>& ads() const { return ads_; }

private:
    void poll();
    void blink();
    void show_suffix_in_caption();

    notices_view& view_;
    playback_state& state_;
    std::vector<ad_entry> ads_;
    std::size_t ad_cursor_ = 0;
    int link_counter_ = 0;
    int poll_countdown_ = 0;
    bool blink_phase_ = false;
    int notice_countdown_ = ticks_per_notice;
};

}  // namespace mirvo
