// The suggestion form's logic without its widgets: the seven categories, the
// periodic length check with its cut at 100 bytes, the checks before sending
// with their messages, and the save_suggest request. Texts are GBK; a line
// break counts as the two bytes CR LF, as the edit control hands it over.
#pragma once

#include "common/protocol/request.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mirvo {

inline constexpr std::size_t suggestion_max_bytes = 100;  // shown as 50 Chinese characters
inline constexpr std::size_t suggestion_min_bytes = 10;   // 5 Chinese characters

// In list order; the position is the type the service receives.
const std::vector<std::string>& suggestion_categories();

// text cut to at most max bytes without splitting a double-byte character or
// a CR LF: what straddles the limit is dropped whole.
std::string cut_whole_characters(const std::string& text, std::size_t max);

struct length_check {
    std::string text;     // the edit's text, cut when it was too long
    bool cut = false;     // the edit must be given `text`
    std::string display;  // "当前还可以输入N个汉字"
};
// The check that runs every 2 s on the edit's text.
length_check check_remaining_length(const std::string& text);

// Why a suggestion cannot be sent yet (the message box text), in the order
// the form checks: the category first, then too long, then too short.
// category is the list position, -1 when none is chosen.
std::optional<std::string> suggestion_refusal(int category, const std::string& text);

// The request page address of a suggestion: the service's form of requests
// with "&action=save_suggest&type=" + category + "&content=" + the text,
// apostrophes turned into double quotes, every value percent-encoded.
std::string suggestion_request_url(const session_values& s, int category, const std::string& text);

// Sends the suggestion with the session's values; true only when the service
// answered process_result "ok".
bool send_suggestion(int category, const std::string& text);

// The note beside the text, and the one that replaces it when saving failed.
// Both end with the service's contact details.
std::string suggestion_note();
std::string suggestion_failure_note();
// Said in a box when saving failed after the form was closed, so the note
// is no longer to be seen.
std::string suggestion_not_sent();

}  // namespace mirvo
