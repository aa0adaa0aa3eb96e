// mirvo-desktop-entry: writes the menu entry of an installed client, for the
// install rules, which know the program folder only when they run.
//
//   mirvo-desktop-entry OUTPUT_FILE PROGRAM_FOLDER ICON_NAME
//
// The entry starts PROGRAM_FOLDER/mirvo with PROGRAM_FOLDER as its working
// folder (the client's program folder is the folder it starts in).
#include "client/forms/autostart.h"
#include "common/fs/paths.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: mirvo-desktop-entry OUTPUT_FILE PROGRAM_FOLDER ICON_NAME\n", stderr);
        return 2;
    }
    const std::string folder = argv[2];
    if (folder.empty() || folder.front() != '/' || folder.find('\n') != std::string::npos) {
        std::fprintf(stderr, "mirvo-desktop-entry: the program folder must be an absolute path: %s\n", argv[2]);
        return 2;
    }
    const std::string text = mirvo::application_entry_text(folder + "/mirvo", folder, argv[3]);
    if (!mirvo::write_native_file_atomic(argv[1], text)) {
        std::fprintf(stderr, "mirvo-desktop-entry: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
