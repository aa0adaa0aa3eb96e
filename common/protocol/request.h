// The one shape of requests to the service's request page and the reader for
// numbered reply records: what the programs and the service agree on.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace mirvo {

// Where requests go and as whom: the values a login leaves for every later
// request.
struct session_values {
    std::string server_base_url;  // no trailing slash; empty when no server answered
    std::string request_page;
    std::string user;      // as typed (GBK)
    std::string password;  // as typed (GBK)
};

// Percent-encodes every byte that is not A-Z a-z 0-9 - . _ ~ (and "/" when
// keep_slash), as %XX of the GBK byte.
std::string url_encode_value(const std::string& value, bool keep_slash = false);

// base + "/" + page + "?user=" + user + "&password=" + digit_encode(password)
// [+ "&lesson_id=0010&lesson_dir=" + folder] + "&action=" + action.
// lesson_folder == nullptr leaves the lesson keys out.
std::string build_request_url(const session_values& s, const std::string& action, const std::string* lesson_folder);

// Texts from the service that a program shows in a box or a caption are cut
// to this many characters (gbk_prefix): a reply of megabytes would freeze the
// window and draw a line nobody can read.
inline constexpr std::size_t max_shown_service_text = 1000;

// The body of base_url + "/testinternet.txt", by which a program tells that a
// server is the service and reachable. The answer is 20 bytes, so a server
// that takes longer than a few seconds to give it is not one to use: the
// fetch has a deadline of its own, well under a page's.
std::string fetch_test_page(const std::string& base_url);
inline constexpr std::chrono::seconds test_page_time_limit{10};

enum class record_stop {
    first_empty,   // stop at the first order whose key value is empty
    gap_tolerant,  // an empty key is a miss; stop after 11 misses in a row
};

class xml_record_index;

// One record found by read_records: its order text, and its attributes and
// content exactly as the query by that order gives them. It converts to its
// order text for readers that query the document themselves.
class record {
public:
    record(const xml_record_index& index, std::string order) : index_(index), order_(std::move(order)) {}
    const std::string& order() const { return order_; }
    operator const std::string&() const { return order_; }
    std::string get(const std::string& attr) const;
    std::string content() const;

private:
    const xml_record_index& index_;
    std::string order_;
};

// Calls visit for each record of tag found by its "order" attribute 1, 2,
// 3 ... whose attribute key is not empty, following the stop rule. Returns
// the number of records visited. The document is scanned once, not once per
// record.
int read_records(const std::string& document, const std::string& tag, const std::string& key, record_stop stop,
                 const std::function<void(const record&)>& visit);

}  // namespace mirvo
