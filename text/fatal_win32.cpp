#include <windows.h>

#include "text/fatal.h"

namespace taviro {

void ShowFatalErrorAndExit(const char* fullText) {
  // No owner window: a worker thread can end up here as well as the UI
  // thread. MB_TASKMODAL keeps the user away from the thread's windows while
  // the box is up.
  MessageBoxA(nullptr, fullText, "错误", MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace taviro
