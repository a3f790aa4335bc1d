// Without a desktop the fatal text goes to standard error.
#include <unistd.h>

#include <cstring>

#include "text/fatal.h"

namespace taviro {

void ShowFatalErrorAndExit(const char* fullText) {
  const char* p = fullText;
  std::size_t left = std::strlen(fullText);
  while (left > 0) {
    const ssize_t written = write(STDERR_FILENO, p, left);
    if (written <= 0) break;
    p += written;
    left -= static_cast<std::size_t>(written);
  }
  // Like ExitProcess: no destructors or exit handlers of a process whose
  // state can no longer be trusted.
  _exit(-1);
}

}  // namespace taviro
