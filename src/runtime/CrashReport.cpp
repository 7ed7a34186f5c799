#include "runtime/CrashReport.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "model/OleDate.h"
#include "runtime/Log.h"

namespace velkor {
namespace {

std::mutex g_reportLock;

std::string CurrentThreadName() {
  char name[32] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return "?";
  return name;
}

[[noreturn]] void OnTerminate() {
  const std::string message = std::current_exception()
                                  ? CurrentExceptionMessage()
                                  : std::string("terminate called without an exception");
  std::fprintf(stderr, "velkor: std::terminate: %s\n", message.c_str());
  ReportCrash(CurrentThreadName(), "std::terminate: " + message);
  std::abort();
}

}  // namespace

void ReportCrash(const std::string& thread, const std::string& message) {
  // Called on the way down: whatever fails here must not add a second fault.
  try {
    std::string dir = LogDirectory();
    if (dir.empty()) dir = DefaultLogDirectory().dir;
    const double now = LocalNowOle();
    const CivilTime t = DecodeOleDate(now);
    char name[40];
    std::snprintf(name, sizeof name, "/crash-%04d-%02d-%02d.txt", t.year, t.month, t.day);
    const std::string path = dir + name;
    const std::string text = FormatDateTime(now, true) + " [" + thread + "] " + message + "\n";

    std::lock_guard<std::mutex> lock(g_reportLock);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t written = 0;
    while (written < text.size()) {
      const ssize_t n = write(fd, text.data() + written, text.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += size_t(n);
    }
    close(fd);
  } catch (...) {
  }
}

std::string CurrentExceptionMessage() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return "unknown exception";
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

void InstallCrashHandler() {
  static std::once_flag once;
  std::call_once(once, [] { std::set_terminate(OnTerminate); });
}

}  // namespace velkor
