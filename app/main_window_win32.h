// MainWindow: the program's one window, its controls and the handlers that
// connect them to SearchControl.
#pragma once

#include <windows.h>

namespace taviro {

// Start-up from the process-wide state on, the message loop, and the exit
// code. Shut-down runs from the routine registered at start-up.
int RunTaviro(HINSTANCE instance);

}  // namespace taviro
