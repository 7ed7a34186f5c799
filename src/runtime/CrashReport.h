#pragma once
// A minimal crash reporter: worker loops hand it the exceptions they catch (after logging
// them) and go on; it appends a report (time, thread, message) to crash-<yyyy-mm-dd>.txt in
// the log directory. std::terminate writes one too, then aborts.

#include <exception>
#include <string>

namespace velkor {

void ReportCrash(const std::string& thread, const std::string& message);
// The message of the exception in flight (what() or a placeholder for a foreign type).
std::string CurrentExceptionMessage();
// Installs the terminate handler (once per process).
void InstallCrashHandler();

}  // namespace velkor
