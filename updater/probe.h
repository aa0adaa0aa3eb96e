// The updater's server probe: the first of three candidate base URLs whose
// test page answers exactly "your internet is ok!".
#pragma once

#include <array>
#include <optional>
#include <string>

namespace mirvo {

// Two sets of three pieces of text in the updater's digit code; the pieces of
// a set joined give one decodable text.
using coded_fragment_sets = std::array<std::array<std::string, 3>, 2>;

struct probe_candidates {
    std::array<std::string, 3> plain;  // base URLs without a trailing "/", tried in this order
    coded_fragment_sets coded;         // decoded after the first and the second failed candidate
};

// The deployment's values, chosen at configure time: the plain candidates
// from the build's settings, the coded sets written by mirvo-digit.
probe_candidates configured_candidates();
coded_fragment_sets configured_coded_fragments();

// The base URL of the first candidate that answers, nullopt when none does.
std::optional<std::string> probe_server(const probe_candidates& candidates);

}  // namespace mirvo
