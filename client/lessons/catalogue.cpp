#include "client/lessons/catalogue.h"

#include "common/protocol/request.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

namespace {

std::optional<std::size_t> find_in(const std::vector<catalogue_entry>& entries, const std::string& text,
                                   std::string catalogue_entry::*column) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].*column == text) return i;
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> catalogue::find_title(const std::string& text) const {
    return find_in(entries, text, &catalogue_entry::title);
}

std::optional<std::size_t> catalogue::find_folder(const std::string& text) const {
    return find_in(entries, text, &catalogue_entry::folder);
}

catalogue_entry catalogue::entry(std::size_t i) const { return i < entries.size() ? entries[i] : catalogue_entry{}; }

catalogue read_catalogue(const std::string& reply) {
    catalogue cat;
    cat.online_text = gbk_prefix(xml_get_value(reply, "online_num"), max_shown_service_text);

    // Each level is queried inside its parent's content only, so a lesson
    // numbered 1 in one sub-category never answers for another.
    read_records(reply, "sort_list", "title", record_stop::first_empty, [&](const record& s) {
        catalogue_category category;
        category.title = s.get("title");
        const std::string content = s.content();
        read_records(content, "lesson_list", "title", record_stop::first_empty, [&](const record& l) {
            catalogue_subcategory sub;
            sub.title = l.get("title");
            sub.first = cat.entries.size();
            read_records(l.content(), "lesson", "title", record_stop::first_empty, [&](const record& e) {
                cat.entries.push_back({e.get("dir"), e.get("title"), e.get("type"), e.get("file_name")});
            });
            sub.count = cat.entries.size() - sub.first;
            category.subcategories.push_back(std::move(sub));
        });
        cat.categories.push_back(std::move(category));
    });
    return cat;
}

}  // namespace mirvo
