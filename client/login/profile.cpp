#include "client/login/profile.h"

#include "client/login/password_file.h"
#include "client/res/coded_resources.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

namespace {

const char* const profile_file = "\\mirvo_user.xml";

std::string user_entry(const std::string& name, int order) {
    return "<user name=\"" + name + "\" order=\"" + int_to_text(order) + "\" />";
}

std::string read_user_name(const std::string& text, int order) {
    return xml_get_value(text, "user", "order", int_to_text(order), "name");
}

// The plain password document exists on disk only if an older run died
// while it was there; it is never written now, and must not outlive us.
void remove_password_document(const std::string& folder) {
    if (auto doc = join_confined(folder, password_document_name()); doc && file_exists(*doc)) remove_file(*doc);
}

struct layout {
    std::vector<std::string> listed;  // listed names written, in order
    bool append_user = false;         // the login's user added as the last entry
};

std::string render(const layout& l, const std::string& user, const std::string& default_user, bool auto_login) {
    std::string text;
    if (l.listed.empty() && l.append_user) {
        text = user_entry(user, 1);
    } else {
        int order = 0;
        for (const std::string& name : l.listed) text += user_entry(name, ++order) + "\n";
        if (l.append_user) text += user_entry(user, order + 1);
    }
    text += "<default_user_name>" + default_user + "</default_user_name>";
    text += auto_login ? "\n<auto_login>true</auto_login>" : "\n<auto_login>false</auto_login>";
    return text;
}

}  // namespace

bool user_name_fits_file_name(const std::string& user) {
    if (user.empty() || user.find_first_not_of('.') == std::string::npos) return false;
    for (std::size_t i = 0; i < user.size();) {
        const std::size_t n = gbk_char_len(user, i);
        if (n == 1) {
            const unsigned char c = static_cast<unsigned char>(user[i]);
            if (c == '\\' || c == '/' || c == ':' || c < 0x20 || c == 0x7F) return false;
        }
        i += n;
    }
    return true;
}

std::optional<std::string> password_file_path(const std::string& folder, const std::string& user) {
    if (!user_name_fits_file_name(user)) return std::nullopt;
    return join_confined(folder, user + ".dat");
}

std::string restore_saved_password(const std::string& folder, const std::string& user) {
    // Decrypted in memory: the plain document never reaches the disk.
    std::string password;
    std::string sealed;
    if (auto path = password_file_path(folder, user); path && read_file(*path, sealed)) {
        const std::string document = password_cipher(profile_key(), sealed);
        password = digit_decode(xml_get_value(document, "password"));
    }
    remove_password_document(folder);
    return password;
}

user_profile read_user_profile(const std::string& folder) {
    user_profile p;
    const std::string text = read_text_file(nullptr, folder + profile_file);
    for (int order = 1;; ++order) {
        std::string name = read_user_name(text, order);
        if (name.empty()) break;
        p.users.push_back(std::move(name));
    }
    p.default_user = xml_get_value(text, "default_user_name");
    p.auto_login = xml_get_value(text, "auto_login") == "true";
    if (p.auto_login) p.password = restore_saved_password(folder, p.default_user);
    return p;
}

namespace {

// The profile text for the listed names and the login's user, with every
// listed name reading back by its order as written.
std::string listed_profile_text(layout l, const std::string& user, const std::string& default_user, bool auto_login,
                                bool list_user = true) {
    // Names are written as typed; one with '"', "/>" or "order" in it would
    // cut the list for everyone after it when read back. Such a name is left
    // out (and the rest renumbered) until every entry reads back as written.
    for (;;) {
        std::string entries;
        for (std::size_t i = 0; i < l.listed.size(); ++i) entries += user_entry(l.listed[i], int(i) + 1) + "\n";
        l.append_user =
            list_user && (l.listed.empty() || gbk_find(entries, "name=\"" + user + "\"") == std::string::npos);
        const std::string text = render(l, user, default_user, auto_login);
        std::size_t bad = l.listed.size() + 1;  // none
        const std::size_t written = l.listed.size() + (l.append_user ? 1 : 0);
        for (std::size_t i = 0; i < written && bad > l.listed.size(); ++i) {
            const std::string& name = i < l.listed.size() ? l.listed[i] : user;
            if (read_user_name(text, int(i) + 1) != name) bad = i;
        }
        if (bad > l.listed.size()) return text;
        if (bad == l.listed.size()) {
            // Only the new user's own entry fails: it stays the default user
            // but is not listed.
            l.append_user = false;
            return render(l, user, default_user, auto_login);
        }
        l.listed.erase(l.listed.begin() + static_cast<std::ptrdiff_t>(bad));
    }
}

bool reads_back(const std::string& text, const std::string& default_user, bool auto_login) {
    return xml_get_value(text, "default_user_name") == default_user &&
           (xml_get_value(text, "auto_login") == "true") == auto_login;
}

}  // namespace

std::string user_profile_text(const std::vector<std::string>& listed_users, const std::string& user, bool auto_login) {
    std::string text = listed_profile_text({listed_users, false}, user, user, auto_login);
    if (reads_back(text, user, auto_login)) return text;
    // A name holding the profile's own markup (say "<auto_login>true...")
    // would change the default user or switch automatic login on when the
    // file is read. Names with markup are not listed then, and a user whose
    // own name does it is not remembered as the default user.
    auto has_markup = [](const std::string& name) { return gbk_find(name, "<") != std::string::npos; };
    std::vector<std::string> plain;
    for (const std::string& name : listed_users)
        if (!has_markup(name)) plain.push_back(name);
    if (!has_markup(user)) {
        text = listed_profile_text({plain, false}, user, user, auto_login);
        if (reads_back(text, user, auto_login)) return text;
    }
    text = listed_profile_text({plain, false}, user, "", auto_login, false);
    if (reads_back(text, "", auto_login)) return text;
    return render(layout{}, user, "", auto_login);
}

bool write_user_profile(const std::vector<std::string>& listed_users, const std::string& user,
                        const std::string& password, bool auto_login, status_line* status, const std::string& folder) {
    const std::string text = user_profile_text(listed_users, user, auto_login);

    // The password file first, so that a failure leaves both old files; it
    // is put back if the profile cannot be written after it. Both are the
    // owner's alone: other accounts on the computer may not learn who logs
    // in here, nor read a saved password.
    std::optional<std::string> dat;
    std::string old_dat;
    bool had_old_dat = false;
    if (auto_login) {
        dat = password_file_path(folder, user);
        if (dat) {
            const std::string document = "<password>" + digit_encode(password) + "</password>";
            had_old_dat = read_file(*dat, old_dat);
            if (!write_file_atomic(*dat, password_cipher(profile_key(), document), file_access::owner_only)) {
                if (status) {
                    status->set_text("error in saving file" + *dat);
                    status->repaint();
                }
                return false;
            }
        }
    }
    remove_password_document(folder);

    if (!save_text_file(status, folder + profile_file, text, file_access::owner_only)) {
        if (status) status->repaint();
        if (dat) {
            if (had_old_dat)
                write_file_atomic(*dat, old_dat, file_access::owner_only);
            else
                remove_file(*dat);
        }
        return false;
    }
    return true;
}

}  // namespace mirvo
