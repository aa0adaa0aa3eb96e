#include "client/lessons/notices.h"

#include "client/login/session.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/http/http.h"
#include "common/protocol/request.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

std::string announcement_address() {
    const session_values& s = session();
    return s.server_base_url + "/login.aspx?user=" + url_encode_value(s.user) + "&pw=" + url_encode_value(s.password) +
           "&page=gonggao.htm";
}

lesson_notices::lesson_notices(notices_view& view, playback_state& state) : view_(view), state_(state) {}

void lesson_notices::init_notice_link() {
    view_.notice_link().SetLinkColours(colour_blue, true, colour_red);
    view_.notice_link().SetHyperlinkText(load_string(str::new_messages), announcement_address());
}

void lesson_notices::load_ads() {
    const std::string reply = http_get_text(build_request_url("ad", nullptr));
    if (reply.empty()) return;
    ads_.clear();
    read_records(reply, "ad", "text", record_stop::gap_tolerant, [&](const record& r) {
        ads_.push_back({r.get("text"), r.get("url")});
    });
}

void lesson_notices::rotate_news_links() {
    for (int k = 0; k < news_link_count; ++k) {
        hyperlink& link = view_.news_link(k);
        link.SetLinkColours(colour_blue, true, colour_red);
        // With no ads the cursor stands beyond the list: empty texts.
        const ad_entry ad = ad_cursor_ < ads_.size() ? ads_[ad_cursor_] : ad_entry{};
        link.SetHyperlinkText(ad.text, ad.address);
        if (++ad_cursor_ >= ads_.size()) {
            ad_cursor_ = 0;
            return;
        }
    }
}

void lesson_notices::set_notice_link() {
    const int text = state_.new_message_count < 1 ? str::make_friends : str::new_messages;
    view_.notice_link().SetHyperlinkText(load_string(text), announcement_address());
}

void lesson_notices::tick_notices() {
    if (++link_counter_ >= ticks_per_rotation) {
        rotate_news_links();
        link_counter_ = 0;
    }
    if (--poll_countdown_ < 0) poll_countdown_ = ticks_per_poll - 1;
    if (poll_countdown_ == ticks_per_poll - 1) poll();

    if (state_.new_message_count <= 0) {
        state_.status_suffix.clear();
        show_suffix_in_caption();
        return;
    }
    state_.status_suffix = "  " + load_string(str::new_messages);
    show_suffix_in_caption();
    blink();
    // Not reset when the count drops: the next message waits for the
    // countdown to come round.
    if (notice_countdown_ == ticks_per_notice) view_.show_notice_window();
    if (--notice_countdown_ <= 0) notice_countdown_ = ticks_per_notice;
}

void lesson_notices::poll() {
    const std::string no_folder;
    state_.new_message_count = text_to_int(xml_get_value(http_get_text(build_request_url("", &no_folder)), "new_msg"));
}

void lesson_notices::show_suffix_in_caption() {
    // The caption takes the suffix whenever a movie starts; between two
    // starts it would tell of messages only seconds after they came (and
    // of read ones as long). It follows the count on every tick instead.
    const std::string suffix = "  " + load_string(str::new_messages);
    const std::string shown = view_.caption();
    std::string wanted = shown;
    if (wanted.size() >= suffix.size() && wanted.compare(wanted.size() - suffix.size(), suffix.size(), suffix) == 0)
        wanted.resize(wanted.size() - suffix.size());
    wanted += state_.status_suffix;
    if (wanted != shown) view_.set_caption(wanted);
}

void lesson_notices::blink() {
    if (blink_phase_)
        view_.notice_link().SetLinkColours(colour_red, true, colour_blue);
    else
        view_.notice_link().SetLinkColours(colour_blue, true, colour_blue);
    blink_phase_ = !blink_phase_;
    view_.repaint_notice_link();
}

}  // namespace mirvo
