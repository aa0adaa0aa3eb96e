#include "common/http/http.h"
#include "common/http/transfer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mirvo {
namespace {

constexpr const char* page_header_block = "Accept: text/*\r\nUser-Agent: MFC_Tear_Sample\r\n";
// Replies are read in small pieces; each piece counts as a zero-terminated
// text, so a NUL byte drops the rest of the piece it falls in.
constexpr std::size_t read_unit = 29;
constexpr std::size_t pieces_per_read = 2048;

std::string fetch_page(const std::string& url, std::chrono::milliseconds time_limit) {
    auto parsed = http_detail::parse_http_url(url);
    if (!parsed) return "0";

    http_detail::transfer request(*parsed, {.header_block = page_header_block,
                                            .cap_total_time = true,
                                            .total_time = time_limit,
                                            .pump_while_waiting = true});
    if (!request.start() || request.status() != 200) return {};
    if (auto declared = request.content_length(); declared && *declared > static_cast<long long>(max_page_bytes))
        return {};

    std::string text;
    // Many pieces are read at once; a read fills its buffer unless the body
    // ends, so the pieces fall where single reads would have put them.
    std::vector<char> block(read_unit * pieces_per_read);
    for (;;) {
        long n = request.read(block.data(), block.size());
        // A reply that broke off (or came short of its Content-Length) is no
        // reply: half a document would read as a valid one with values missing.
        if (n < 0) return {};
        if (n == 0) break;
        for (long at = 0; at < n; at += static_cast<long>(read_unit)) {
            const std::size_t len = std::min<std::size_t>(read_unit, static_cast<std::size_t>(n - at));
            text.append(block.data() + at, strnlen(block.data() + at, len));
        }
        if (text.size() > max_page_bytes) return {};
    }
    return text;
}

}  // namespace

std::string http_get_text(const std::string& url) { return fetch_page(url, std::chrono::milliseconds(0)); }

std::string http_get_text(const std::string& url, std::chrono::milliseconds time_limit) {
    return fetch_page(url, time_limit);
}

}  // namespace mirvo
