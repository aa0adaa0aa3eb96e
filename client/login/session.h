// The client's session: the values the login leaves for every later request,
// and the request builder that reads them.
#pragma once

#include "common/protocol/request.h"
#include "common/sign/sign.h"

#include <optional>
#include <string>

namespace mirvo {

// Set by the login, read by every request; lives until the process ends.
session_values& session();

// The key the download lists handed to the updater must be signed with, set
// at start-up from the build's configuration; none hands them over unchecked.
std::optional<public_key>& update_key();

// build_request_url on the session values.
std::string build_request_url(const std::string& action, const std::string* lesson_folder);

}  // namespace mirvo
