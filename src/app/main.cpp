// velkor: the program's entry point. Until the headless runner and the window arrive it
// answers the conventional options only.

#include <cstdio>
#include <cstring>

#include "app/Version.h"

namespace {

void PrintHelp() {
  std::printf(
      "Usage: velkor [OPTION]\n"
      "Modbus slave emulator.\n\n"
      "  --help     show this help and exit\n"
      "  --version  show the version and exit\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velkor %s\n", VELKOR_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintHelp();
    return 0;
  }
  if (argc == 1) {
    PrintHelp();
    return 0;
  }
  std::fprintf(stderr, "velkor: unknown option '%s'\nTry 'velkor --help'.\n", argv[1]);
  return 2;
}
