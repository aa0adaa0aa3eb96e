// The one HTTP GET engine behind the page fetch and the file download: libcurl
// driven through a multi handle, so the caller reads the body in pieces of its
// own size, as from a blocking socket, and may pump events while it waits.
#pragma once

#include "common/http/http.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo::http_detail {

// An http:// URL split the way the programs need it. The object (path, query
// and anything after) is kept byte for byte: GBK bytes go on the wire as given.
struct parsed_url {
    std::string host;  // as written (an IPv6 literal keeps its brackets)
    int port = 80;
    std::string authority;  // host[:port] as written, without user information
    std::string object;     // starts with "/"
};

// nullopt for anything that is not a well-formed http:// URL (other schemes,
// no scheme, empty host, bad port). The scheme is matched without regard to case.
std::optional<parsed_url> parse_http_url(std::string_view url);

// The object as it goes into the request line: every byte kept, except that
// space and control bytes are %-escaped so that no text can break the line
// or smuggle in a header.
std::string request_target_bytes(std::string_view object);

// The proxy the environment names for host ("" for a direct connection),
// with the same variables and no_proxy matching as command-line tools use:
// http_proxy, then all_proxy/ALL_PROXY; no_proxy/NO_PROXY with "*", exact
// names and domain suffixes.
std::string environment_proxy_for(std::string_view host);

// Lines of a "Name: value\r\n..." header block that the request does not
// already carry. The request always carries Host and the User-Agent made from
// the agent name, so block lines naming those are dropped (add-if-new).
std::vector<std::string> headers_to_add(std::string_view block);

using timeouts = transfer_timeouts;
timeouts current_timeouts();

class transfer {
public:
    struct options {
        std::string header_block;
        bool cap_total_time = false;
        // Overrides the overall cap when cap_total_time is set and this is
        // not zero.
        std::chrono::milliseconds total_time{0};
        // Fail a body that comes slower than the low-speed limit.
        bool low_speed_limit = false;
        // Dispatch waiting events while the network is quiet. A quit
        // requested meanwhile (the pump says so), or a cancel, fails the
        // transfer.
        bool pump_while_waiting = false;
    };

    transfer(const parsed_url& url, const options& opts);
    ~transfer();
    transfer(const transfer&) = delete;
    transfer& operator=(const transfer&) = delete;

    // Connects, sends the request and waits for the final reply's status line
    // and headers. False on a transport failure (connect, send, time-out...).
    bool start();
    long status() const { return status_; }
    // The declared body length; nullopt when the reply has none.
    std::optional<long long> content_length() const;
    // Value of a header of the final reply ("" when absent), case-insensitive name.
    std::string header(std::string_view name) const;

    // Reads the body: fills buf with n bytes unless the body ends first, as a
    // blocking read would. Returns the count, 0 at the end of the body, -1 on a
    // transport failure or a body shorter than its Content-Length.
    long read(char* buf, std::size_t n);

private:
    struct impl;
    std::unique_ptr<impl> d_;
    long status_ = 0;
};

}  // namespace mirvo::http_detail
