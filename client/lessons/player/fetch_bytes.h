// Whole-body HTTP GET for binary content (movies and what they load): unlike
// the page fetch, the body may hold NUL bytes and the caller can abandon the
// transfer from another thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace mirvo::player {

struct fetched {
    bool ok = false;  // status 200 and the whole body arrived
    long status = 0;  // last HTTP status, 0 when none came
    std::string body;
    std::string content_type;  // as the server sent it, may be empty
    std::string error;         // why it failed, for logs
};

// Movies are far smaller; the cap keeps a runaway server from filling memory.
inline constexpr std::size_t max_fetch_bytes = 64u << 20;

// Runs on any thread. Follows up to five redirects, http and https only.
// `cancel` (may be null) stops the transfer as soon as it becomes true.
fetched fetch_bytes(const std::string& url, const std::shared_ptr<std::atomic<bool>>& cancel = nullptr,
                    std::size_t max_bytes = max_fetch_bytes);

}  // namespace mirvo::player
