// velkor-pascal: runs a Pascal-dialect program file as the tag scripts' interpreter would.
//   velkor-pascal FILE.ps
// ShowMessage prints its text and a newline to standard output. Exit statuses: 0 success,
// 1 a compile error (or bad usage), 2 a run-time error.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/Version.h"
#include "script/ScriptRunner.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: velkor-pascal FILE.ps\n"
        "Compiles FILE.ps and runs its main block; ShowMessage prints to standard output.\n\n"
        "  --help     show this help and exit\n"
        "  --version  show the version and exit\n\n"
        "Errors go to standard error as FILE:line:column: message (compile) or\n"
        "FILE:line: message (run time).\n"
        "Exit status: 0 success, 1 compile error or bad usage, 2 run-time error.\n");
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velkor-pascal %s\n", VELKOR_VERSION);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "velkor-pascal: expected one program file\nTry 'velkor-pascal --help'.\n");
    return 1;
  }
  std::ios::sync_with_stdio(false);
  const int status = velkor::RunScriptFile(argv[1], std::cout, std::cerr);
  std::cout.flush();
  return status;
}
