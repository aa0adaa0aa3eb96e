// A link control for tests of the windows' cores: keeps what it shows and
// records every call, so tests can check texts, addresses and colours.
#pragma once

#include "client/controls/hyperlink.h"

#include <string>
#include <vector>

namespace mirvo::testing {

class recording_hyperlink final : public hyperlink {
public:
    struct colours {
        colour_ref colour;
        bool underline;
        colour_ref hover;
        friend bool operator==(const colours&, const colours&) = default;
    };

    explicit recording_hyperlink(std::string initial_text = {}) : text(std::move(initial_text)) {}

    void SetHyperlinkText(const std::string& t, const std::string& a) override {
        text = t;
        address = a;
        ++text_sets;
    }
    void SetLinkColours(colour_ref colour, bool underline, colour_ref hover) override {
        looks.push_back({colour, underline, hover});
    }

    std::string text;  // GBK, as last set (or the initial caption)
    std::string address;
    int text_sets = 0;
    std::vector<colours> looks;  // every SetLinkColours, in order
};

}  // namespace mirvo::testing
