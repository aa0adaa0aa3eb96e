#include "client/login/login_steps.h"

#include "client/login/session.h"
#include "client/res/coded_resources.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/protocol/request.h"
#include "common/sign/sign.h"
#include "common/sign/update_identity.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace mirvo {

namespace {

// No list or signature of the service comes near these.
constexpr std::uint64_t max_list_bytes = 4u << 20;
constexpr std::uint64_t max_signature_bytes = 4u << 10;
constexpr std::uint64_t max_version_document_bytes = 64u << 10;

}  // namespace

std::string recorded_client_version(const std::string& folder) {
    const version_record record = version_record_of(client_target);
    const std::optional<std::string> text = read_small_file(folder + record.path, max_version_document_bytes);
    return text ? xml_get_value(*text, record.element) : std::string();
}

std::vector<std::string> coded_server_candidates() {
    return {server_candidate_url(0), server_candidate_url(1), server_candidate_url(2)};
}

std::string first_answering_server(const std::vector<std::string>& candidates) {
    const std::string& expected = load_string(str::test_page_answer);
    for (const std::string& base : candidates) {
        // Exact bytes: a test page with a line end is some other page.
        if (fetch_test_page(base) == expected) return base;
    }
    return {};
}

bool take_over_updater(const std::string& folder) {
    const std::string waiting = folder + waiting_updater_relative_path;
    const std::string target = folder + updater_relative_path;
    if (!file_exists(waiting) || is_directory(waiting)) return false;
    if (!copy_file_atomic(waiting, target)) return false;
    // A first copy gets plain file permissions; the updater must stay runnable.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(to_native(target), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    remove_file(waiting);
    return true;
}

bool fetch_download_list(progress_bar* progress, status_line* status, const std::string& base_url,
                         const std::string& folder, const std::string& remote_list) {
    const std::string list = folder + remote_list;
    const std::string signature = list + signature_suffix;
    // What lay there before goes first: a failed fetch must never leave an
    // older list, or an older list's signature, to be taken for this one.
    remove_file(list);
    remove_file(signature);
    remove_file(list + expected_target_suffix);
    http_download_file(progress, base_url, remote_list, folder, status, download_variant::client,
                       {.max_bytes = max_list_bytes});
    if (!update_key()) return file_exists(list) && !is_directory(list);
    http_download_file(progress, base_url, remote_list + signature_suffix, folder, status, download_variant::client,
                       {.max_bytes = max_signature_bytes});
    if (check_list_signature(*update_key(), list) == list_signature::valid) return true;
    remove_file(list);
    remove_file(signature);
    return false;
}

void note_expected_target(const std::string& folder, const std::string& target) {
    write_file_atomic(folder + "\\dl\\download.xml" + expected_target_suffix, target);
}

version_check check_version(const std::string& base_url, const std::string& folder, int max_age_days) {
    const std::string remote_doc = http_get_text(base_url + "/mirvo.xml");
    const float remote = version_number(xml_get_value(remote_doc, "mirvo"));
    const float local = version_number(recorded_client_version(folder));
    version_check out;
    out.newer = remote > local;
    // The service's text goes into a message box: a line of a sane length.
    out.prompt = gbk_prefix(xml_get_value(remote_doc, "show_message"), max_shown_service_text);
    if (update_key()) {
        const std::string signature = http_get_text(base_url + "/mirvo.xml" + signature_suffix);
        const std::optional<std::time_t> signed_at =
            signature_matches(*update_key(), remote_doc, signature)
                ? parse_signed_date(xml_get_value(remote_doc, signed_date_element))
                : std::nullopt;
        if (signed_at)
            out.age_days = static_cast<int>(std::max<std::time_t>(0, std::time(nullptr) - *signed_at) / 86400);
        out.stale = !signed_at || out.age_days > max_age_days;
    }
    return out;
}

std::string stale_versions_note(const version_check& check) {
    if (!check.stale) return {};
    if (check.age_days < 0) return load_string(str::unsigned_versions);
    return load_string(str::stale_versions) + int_to_text(check.age_days) + load_string(str::stale_versions_tail);
}

std::string login_request_url(const std::string& base_url, const std::string& request_page, const std::string& user,
                              const std::string& password) {
    return build_request_url(session_values{base_url, request_page, user, password}, "login", nullptr);
}

login_outcome read_login_reply(const std::string& reply) {
    const std::string value = xml_get_value(reply, "user_login");
    if (value.empty()) return login_outcome::no_answer;
    return value == "ok" ? login_outcome::accepted : login_outcome::refused;
}

}  // namespace mirvo
