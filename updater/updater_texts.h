// The updater's string table: every text it shows, in its own voice and in
// Chinese, converted once from this file's UTF-8 into GBK.
#pragma once

#include <string>

namespace mirvo {

struct updater_texts {
    std::string starting;
    std::string no_folder;
    std::string checking_connection;
    std::string no_server;
    std::string checking_list;
    std::string no_list;
    std::string list_unreadable;  // + the list's path
    std::string broken_list;
    std::string no_identity;
    std::string wrong_target;
    std::string older_version_head;  // + the list's version
    std::string older_version_mid;   // + the installed version
    std::string older_version_tail;
    std::string downloading_caption;
    std::string downloading;
    std::string copy_failed;
    std::string installed;
    std::string installed_tail;
    std::string no_program;
    std::string program_not_started;
    std::string done;
    std::string failed_head;  // + how many
    std::string failed_tail;
    std::string failed_downloads;  // + how many
    std::string failed_checks;
    std::string failed_copies;
    std::string failed_count_tail;
    std::string cancelled;
};

const updater_texts& updater_text();

}  // namespace mirvo
