// The user profile: which users have logged in on this computer (by order),
// who logged in last, whether that user logs in automatically, and that
// user's password, kept digit-coded and encrypted in "<user>.dat".
//
// mirvo_user.xml is not a well-formed document; it is written as the login
// always wrote it:
//   <user name="A" order="1" />\n<user name="B" order="2" /><default_user_name>B</default_user_name>\n<auto_login>true</auto_login>
// (every "\n" a CR LF on disk, no line end at the end).
#pragma once

#include "common/fs/paths.h"

#include <optional>
#include <string>
#include <vector>

namespace mirvo {

class status_line;

struct user_profile {
    std::vector<std::string> users;  // names by order 1, 2, ... up to the first gap
    std::string default_user;
    bool auto_login = false;
    std::string password;  // restored only when auto_login is on
};

// Reads folder\mirvo_user.xml; a missing file reads as an empty profile. When
// auto_login is "true" the default user's password is restored from its
// password file (empty when there is none).
user_profile read_user_profile(const std::string& folder = program_folder());

// The password saved for user in folder, or the empty text.
std::string restore_saved_password(const std::string& folder, const std::string& user);

// The profile text for a successful login of user, given the names the
// login dialog lists (in its order) and the state of the automatic-login box.
// A listed name is written only if reading the text back by its order number
// gives exactly that name; the others are numbered without gaps.
std::string user_profile_text(const std::vector<std::string>& listed_users, const std::string& user, bool auto_login);

// Rewrites the profile after a successful login of user with password (as
// typed). With auto_login the password file is replaced as well. Either both
// files are replaced or neither: on failure the old files stay and the status
// line reads "error in saving file" + the path. Returns success.
bool write_user_profile(const std::vector<std::string>& listed_users, const std::string& user,
                        const std::string& password, bool auto_login, status_line* status,
                        const std::string& folder = program_folder());

// A user name may name a file only without "\", "/", ":" and control bytes,
// and not made only of dots. For other names no password file is read,
// written or deleted.
bool user_name_fits_file_name(const std::string& user);
// folder\<user>.dat, or nothing for a name that does not fit.
std::optional<std::string> password_file_path(const std::string& folder, const std::string& user);

}  // namespace mirvo
