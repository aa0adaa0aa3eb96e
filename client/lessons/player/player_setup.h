// Start-up work the movie player needs before the application object exists.
#pragma once

#include <QString>

namespace mirvo {

// Call first thing in main(), before QApplication is constructed: registers
// the player page's URL scheme, sets the Chromium switches the player relies
// on (autoplay with sound, no throttling of a hidden or minimised view,
// software rendering without a GPU, no sandbox when running as root) and,
// with a GPU, the shared OpenGL contexts Qt WebEngine wants; without one, no
// OpenGL is set up at all. Safe to call more than once.
// argc/argv are accepted for symmetry with QApplication and not changed.
void prepare_movie_player(int argc = 0, char** argv = nullptr);

// Whether the player's page saves work: Ruffle woken at the movie's frame
// rate instead of the display's, no gamepad polling, sound with playback
// latency (page/pacing.js), the sound output asleep while the movie is
// silent (page/quiet_audio.js), frames that would draw the picture already on
// screen left out (page/still_frames.js), and the stage's pictures handed
// straight to the display compositor while they change
// (page/direct_canvas.js); Ruffle's code compiled as it is first used
// (prepare_movie_player). On unless the environment holds
// MIRVO_PLAYER_SAVINGS=off, which gives the player as it was before them:
// for comparing the two, and as a way out should a movie show wrong.
bool player_savings();

// Folder holding Ruffle's files: "ruffle" beside the program binary.
QString ruffle_folder();

}  // namespace mirvo
