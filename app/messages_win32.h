// Every private window message of the program.
#pragma once

#include <windows.h>

namespace taviro {

// A worker's task, run on the user-interface thread while the worker waits in
// SendMessage. lParam: const std::function<void()>*. The handler answers 1.
constexpr UINT WM_TAVIRO_INVOKE = WM_APP + 1;

}  // namespace taviro
