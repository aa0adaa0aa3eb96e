// Reading the small HTML-like markup of the link and notice controls: the
// tokenizer (texts, tags, attributes, entities) and the tag vocabulary.
// Markup comes from the service, so every byte sequence must read safely.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo {

struct markup_attribute {
    std::string name;   // ASCII lower case
    std::string value;  // GBK, quotes removed, entities left as written
};

struct markup_token {
    enum class kind { text, tag };
    kind what = kind::text;
    // kind::text: the run in UTF-8 with entities replaced by their characters.
    std::string text;
    // kind::tag: the name in ASCII lower case, whether it closes ("</a>") and
    // its attributes in the order written.
    std::string name;
    bool closing = false;
    std::vector<markup_attribute> attributes;

    // The value of the first attribute of that name.
    std::optional<std::string_view> attribute(std::string_view attribute_name) const;
};

// Splits GBK markup into text runs and tags. "<<" and a "<" at the very end
// are a literal "<"; so is a "<" that no ">" follows (it would otherwise
// swallow the rest of the text).
std::vector<markup_token> tokenize_markup(std::string_view gbk);

// The UTF-8 text of entity "&name;" (name without "&" and ";"), or nullopt.
std::optional<std::string_view> entity_text(std::string_view name);

enum class tag_kind {
    unknown,
    bold,
    italic,
    underline,
    strikeout,
    font,
    rule,
    line_break,
    tab,
    align_left,
    align_center,
    align_right,
    align_justify,
    valign_baseline,
    valign_top,
    valign_middle,
    valign_bottom,
    bitmap,
    icon,
    image_list,
    resource_string,
    selector,  // applies the selector of its own name
    span,
    anchor,
};

struct tag_info {
    tag_kind kind = tag_kind::unknown;
    // The style-sheet selector consulted for the tag (empty: none).
    std::string_view style;
};

tag_info lookup_tag(std::string_view name);

}  // namespace mirvo
