// Programs of the catalogue, typically games: starting one with the user's
// credentials, checking its version against the server's, and handing a
// missing or outdated one to the updater. Qt-free: the lesson window does
// what it asks through program_window.
#pragma once

#include <string>
#include <vector>

namespace mirvo {

// What starting a program asks of the lesson window. Texts and paths are GBK.
class program_window {
public:
    virtual ~program_window() = default;
    virtual void set_caption(const std::string& text) = 0;
    // A Yes/No box owned by the lesson window, with the application's title
    // as caption. True for Yes.
    virtual bool ask_yes_no(const std::string& text) = 0;
    // Starts a program with an argument vector, never through a shell, in
    // the given working folder. A failed start is not reported.
    virtual void launch(const std::string& path, const std::vector<std::string>& args,
                        const std::string& working_folder) = 0;
};

// The names a program entry's file name (with a three-letter extension) leads to.
struct program_names {
    std::string base;              // the file name without its last four characters
    std::string version_document;  // base + ".xml": on the server and in the program folder
    std::string list_name;         // "download_" + base + ".xml": in the server's and the program's dl folder
};
program_names names_of_program(const std::string& file_name);

enum class program_start {
    refused,      // no name, or one that leaves the program folder: nothing started
    started,      // the installed program was started
    handed_over,  // missing or outdated: the updater was started with its list
    cancelled,    // the user called the start off while it waited: nothing started
};

// Starts the catalogue program file_name (the entry's file name) as the
// session's user: tells the service (the game action), compares the
// installed version with the server's and asks before an update; starts the
// program, or hands it to the updater. online_text is the window's online
// count, for the caption. A transfer_cancel around the call that is
// cancelled while it waits for the service ends it with nothing started.
program_start start_program(program_window& window, const std::string& file_name, const std::string& online_text);

}  // namespace mirvo
