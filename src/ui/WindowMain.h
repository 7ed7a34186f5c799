#pragma once
// The windowed program's entry, declared without Qt types so that main() stays free of
// Qt's macros: fixes the number and date formats, starts the log, creates the application
// and the main window (opening `project` when given) and runs the window loop. Returns the
// exit status.

#include <string>

namespace velkor {

int RunWindow(int& argc, char** argv, const std::string& project);

}  // namespace velkor
