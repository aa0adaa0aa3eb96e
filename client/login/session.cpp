#include "client/login/session.h"

namespace mirvo {

session_values& session() {
    static session_values values;
    return values;
}

std::optional<public_key>& update_key() {
    static std::optional<public_key> key;
    return key;
}

std::string build_request_url(const std::string& action, const std::string* lesson_folder) {
    return build_request_url(session(), action, lesson_folder);
}

}  // namespace mirvo
