#pragma once
// Running a program file the way the command-line runner does, as a function of streams,
// so that the case-file tests exercise exactly what users run.

#include <iosfwd>
#include <string>

namespace velkor {

constexpr int kRunOk = 0;
constexpr int kRunCompileError = 1;
constexpr int kRunRuntimeError = 2;

// Compiles and runs the main block of the file. ShowMessage lines go to `out`; a compile
// error as "FILE:line:column: message" and a run-time error as "FILE:line: message" go to
// `err`. Returns one of the codes above.
int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace velkor
