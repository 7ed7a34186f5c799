#pragma once
// The program log: LogMessage appends to a queue from any thread without touching the
// disk; one writer thread moves the queue into text files every 100 ms.
//
// Files: "<dd.MM.yyyy>_<n>.txt" with the smallest free n, in "logs" beside the executable,
// or, where that cannot be created or written (a program installed under /usr/bin), in
// $XDG_STATE_HOME/velkor/logs (default ~/.local/state/velkor/logs); the first line of a
// file written there says so. A file rolls over after 1,048,576 characters. A write error
// closes the file and the next pass starts a new one, keeping the unwritten lines.
// Lines: "dd.MM.yyyy hh:mm:ss.z - text", the milliseconds not padded.

#include <string>

namespace velkor {

// dir empty: the default directory above. Callers log the start and stop lines.
void LogStart(const std::string& dir = "");
void LogMessage(const std::string& text);
// Writes everything logged so far, then stops the writer.
void LogStop();
// The directory the log writes to (empty before LogStart).
std::string LogDirectory();
// "dd.MM.yyyy hh:mm:ss.z - text" for a local OLE date-time.
std::string FormatLogLine(double localOle, const std::string& text);

// Where the log goes, and the line that opens each file when it is not the first choice
// (empty otherwise).
struct LogPlace {
  std::string dir;
  std::string note;
};
// The choice described above, for an executable in exeDir and the given environment values
// (empty when unset); creates the directory it picks.
LogPlace ResolveLogDirectory(const std::string& exeDir, const std::string& xdgStateHome,
                             const std::string& home);
// ResolveLogDirectory for this executable and environment (the crash reporter's place
// before LogStart).
LogPlace DefaultLogDirectory();
// LogStart with the place already chosen.
void LogStartIn(const LogPlace& place);

}  // namespace velkor
