#include "updater/probe.h"

#include "common/protocol/request.h"
#include "common/protocol/updater_code.h"

namespace mirvo {

namespace {
// The whole body of the test page, byte for byte: a line end after it makes
// it some other page.
constexpr const char* test_page_answer = "your internet is ok!";
}  // namespace

probe_candidates configured_candidates() {
    return {{MIRVO_UPDATER_SERVER_1, MIRVO_UPDATER_SERVER_2, MIRVO_UPDATER_SERVER_3}, configured_coded_fragments()};
}

std::optional<std::string> probe_server(const probe_candidates& candidates) {
    std::string base;
    for (std::size_t i = 0; i < candidates.plain.size(); ++i) {
        base = candidates.plain[i];
        if (fetch_test_page(base) == test_page_answer) return base;
        // The coded sets name the service's servers as older updaters knew
        // them. They are decoded into the base URL as those updaters did, and
        // the next candidate replaces them before any request is made: they
        // never decide where the updater goes.
        if (i < candidates.coded.size()) {
            const auto& set = candidates.coded[i];
            base = updater_digit_code(set[0] + set[1] + set[2], updater_decrypt_mode).text;
        }
    }
    return std::nullopt;
}

}  // namespace mirvo
