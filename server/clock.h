// Wall-clock times as the service stores and shows them.
#pragma once

#include <cstdint>
#include <string>

namespace mirvo::server {

// Unix seconds, and milliseconds.
std::int64_t now_seconds();
std::int64_t now_milliseconds();
// "YYYY-MM-DD HH:MM" (with ":SS" when with_seconds) in local time.
std::string local_time_text(std::int64_t t, bool with_seconds);

}  // namespace mirvo::server
