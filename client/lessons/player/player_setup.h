// Start-up work the movie player needs before the application object exists.
#pragma once

#include <QString>

namespace mirvo {

// Call first thing in main(), before QApplication is constructed: registers
// the player page's URL scheme, sets the Chromium switches the player relies
// on (autoplay with sound, no throttling of a hidden or minimised view,
// software rendering without a GPU, no sandbox when running as root) and the
// shared OpenGL contexts Qt WebEngine wants. Safe to call more than once.
// argc/argv are accepted for symmetry with QApplication and not changed.
void prepare_movie_player(int argc = 0, char** argv = nullptr);

// Folder holding Ruffle's files: "ruffle" beside the program binary.
QString ruffle_folder();

}  // namespace mirvo
