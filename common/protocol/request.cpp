#include "common/protocol/request.h"

#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

// Values go out percent-encoded byte by byte: a user name with "&" or blanks,
// or a GBK folder name, would otherwise change the meaning of the query. Plain
// letters and digits pass unchanged, so servers that decode see the same bytes.
std::string url_encode_value(const std::string& value, bool keep_slash) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~' || (keep_slash && c == '/');
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string build_request_url(const session_values& s, const std::string& action, const std::string* lesson_folder) {
    std::string url = s.server_base_url + "/" + s.request_page + "?user=" + url_encode_value(s.user) +
                      "&password=" + digit_encode(s.password);
    if (lesson_folder) url += "&lesson_id=0010&lesson_dir=" + url_encode_value(*lesson_folder);
    url += "&action=" + action;
    return url;
}

std::string fetch_test_page(const std::string& base_url) {
    return http_get_text(base_url + "/testinternet.txt", test_page_time_limit);
}

std::string record::get(const std::string& attr) const { return index_.get(order_, attr); }
std::string record::content() const { return index_.get(order_); }

int read_records(const std::string& document, const std::string& tag, const std::string& key, record_stop stop,
                 const std::function<void(const record&)>& visit) {
    // Gap-tolerant readers bridge up to ten missing numbers.
    constexpr int max_misses = 11;
    const xml_record_index index(document, tag, "order");
    int found = 0;
    int misses = 0;
    for (std::int32_t i = 1; i > 0; ++i) {
        record r(index, int_to_text(i));
        if (r.get(key).empty()) {
            if (stop == record_stop::first_empty || ++misses >= max_misses) break;
            continue;
        }
        misses = 0;
        ++found;
        if (visit) visit(r);
    }
    return found;
}

}  // namespace mirvo
