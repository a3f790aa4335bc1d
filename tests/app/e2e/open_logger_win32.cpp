// Stands in for the browser and the QQ client: the shell's "open" of an http
// or tencent link starts this with the log file and the link; it appends the
// link as one line.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* log = std::fopen(argv[1], "ab");
  if (!log) return 1;
  std::fprintf(log, "%s\n", argv[2]);
  std::fclose(log);
  return 0;
}
