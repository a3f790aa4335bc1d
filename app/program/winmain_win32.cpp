#include <windows.h>

#include "app/main_window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return taviro::RunTaviro(instance);
}
