#include "common/http/http.h"
#include "common/http/transfer.h"

#include <cstring>

namespace mirvo {
namespace {

constexpr const char* page_header_block = "Accept: text/*\r\nUser-Agent: MFC_Tear_Sample\r\n";
// Replies are read in small pieces; each piece counts as a zero-terminated
// text, so a NUL byte drops the rest of the piece it falls in.
constexpr std::size_t read_unit = 29;

}  // namespace

std::string http_get_text(const std::string& url) {
    auto parsed = http_detail::parse_http_url(url);
    if (!parsed) return "0";

    http_detail::transfer request(
        *parsed, {.header_block = page_header_block, .cap_total_time = true, .pump_while_waiting = false});
    if (!request.start() || request.status() != 200) return {};

    std::string text;
    char piece[read_unit];
    for (;;) {
        long n = request.read(piece, read_unit);
        // A reply that broke off (or came short of its Content-Length) is no
        // reply: half a document would read as a valid one with values missing.
        if (n < 0) return {};
        if (n == 0) break;
        text.append(piece, strnlen(piece, std::size_t(n)));
    }
    return text;
}

}  // namespace mirvo
