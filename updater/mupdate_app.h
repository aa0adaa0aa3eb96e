// CmupdateApp: the updater's application object. It runs the one window,
// whose initialisation does all the work, and ends the program with it.
#pragma once

namespace mirvo {

class CmupdateApp {
public:
    // Runs the updater's window to its end. Returns false: the program ends
    // as soon as the window has closed, without a message loop of its own.
    bool InitInstance();
};

}  // namespace mirvo
