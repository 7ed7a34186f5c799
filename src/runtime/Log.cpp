#include "runtime/Log.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <system_error>

#include "model/OleDate.h"
#include "model/TextUtil.h"
#include "runtime/AuxilThread.h"
#include "runtime/ThreadSafeLog.h"

namespace velkor {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(100);
constexpr uint64_t kRollOverChars = 1048576;

bool MakeDirectories(const std::string& dir, int& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!ec && !std::filesystem::is_directory(dir, ec))
    ec = make_error_code(std::errc::not_a_directory);
  error = ec.value();
  return !ec;
}

// Permission bits do not tell (root, read-only mounts, ACLs): only creating a file does.
bool CanCreateFiles(const std::string& dir, int& error) {
  std::string probe = dir + "/.velkor-probe-XXXXXX";
  const int fd = mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::string ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

size_t CodePoints(const std::string& text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// Writes all of data or stops at the first error; `written` tells how far it got.
bool WriteAll(int fd, const std::string& data, size_t& written, int& error) {
  written = 0;
  while (written < data.size()) {
    const ssize_t n = write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    written += size_t(n);
  }
  return true;
}

class LogWriter final : public TAuxilThread {
 public:
  explicit LogWriter(LogPlace place) : TAuxilThread("Log"), m_place(std::move(place)) {}
  ~LogWriter() override {
    StopThread();
    CloseFile();  // the thread has ended: its file is ours now
  }

  void StopThread() override {
    Halt();
    WakeEvent.Set();
    WaitFor();
  }
  const std::string& Directory() const { return m_place.dir; }

  TThreadSafeLog Queue;

 protected:
  void Execute() override;

 private:
  bool OpenNext();
  bool WritePending();
  // After a failed write a file left empty goes too: one would pile up per pass while the
  // fault lasts.
  void CloseFile(bool faulted = false);

  const LogPlace m_place;
  // The rest belongs to the writer thread.
  int m_fd = -1;
  std::string m_path;
  uint64_t m_chars = 0;
  uint64_t m_bytes = 0;
  std::deque<std::string> m_pending;  // formatted lines not yet written, oldest first
  std::string m_faultNote;            // explains in the next file why the last one ended
};

void LogWriter::Execute() {
  LowerPriority();
  for (;;) {
    // Read before taking the queue: a stop request comes after the last line to write.
    const bool stopping = Terminated();
    if (m_fd < 0 && !OpenNext()) {
      if (stopping) return;
      WakeEvent.Wait(kPassInterval);
      continue;
    }
    for (TLogRecord& record : Queue.TakeAll())
      m_pending.push_back(FormatLogLine(record.Time, record.Text));
    const size_t before = m_pending.size();
    if (!WritePending()) {
      CloseFile(true);
      // A stop keeps trying in new files only while each attempt gets lines out.
      if (stopping && m_pending.size() == before) return;
    }
    if (stopping && m_pending.empty()) return;
    if (m_fd >= 0 && m_chars >= kRollOverChars) CloseFile();
    if (!stopping) WakeEvent.Wait(kPassInterval);
  }
}

bool LogWriter::OpenNext() {
  m_chars = 0;
  m_bytes = 0;
  const CivilTime today = DecodeOleDate(LocalNowOle());
  char date[32];
  std::snprintf(date, sizeof date, "%02d.%02d.%04d", today.day, today.month, today.year);
  bool madeDirectory = false;
  for (int n = 1;;) {
    m_path = m_place.dir + "/" + date + "_" + std::to_string(n) + ".txt";
    m_fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd >= 0) break;
    if (errno == EEXIST) {
      ++n;
    } else if (errno == ENOENT && !madeDirectory) {
      // The directory was removed under us: making it again mends that.
      int ignored;
      MakeDirectories(m_place.dir, ignored);
      madeDirectory = true;
    } else {
      return false;
    }
  }
  std::string opening;
  if (!m_place.note.empty()) opening += FormatLogLine(LocalNowOle(), m_place.note) + "\n";
  opening += m_faultNote;
  if (opening.empty()) return true;
  size_t written;
  int error;
  if (!WriteAll(m_fd, opening, written, error)) {
    m_bytes += written;
    CloseFile(true);
    return false;
  }
  m_faultNote.clear();
  m_bytes += written;
  m_chars += CodePoints(opening) - std::count(opening.begin(), opening.end(), '\n');
  return true;
}

bool LogWriter::WritePending() {
  if (m_pending.empty()) return true;
  std::string batch;
  for (const std::string& line : m_pending) (batch += line) += '\n';
  size_t written;
  int error = 0;
  const bool ok = WriteAll(m_fd, batch, written, error);
  m_bytes += written;
  // Only whole lines count as written; a line cut short is written again, whole, next time.
  size_t end = 0;
  while (!m_pending.empty() && end + m_pending.front().size() + 1 <= written) {
    end += m_pending.front().size() + 1;
    m_chars += CodePoints(m_pending.front());
    m_pending.pop_front();
  }
  if (!ok)
    m_faultNote = FormatLogLine(LocalNowOle(), "Запись в " + m_path + " не удалась (" +
                                                   SystemErrorText(error) +
                                                   "), журнал продолжен в новом файле") +
                  "\n";
  return ok;
}

void LogWriter::CloseFile(bool faulted) {
  if (m_fd < 0) return;
  close(m_fd);
  m_fd = -1;
  if (faulted && m_bytes == 0) unlink(m_path.c_str());
}

// LogMessage takes the shared side, so loggers never wait for each other here, only for a
// start or stop.
std::shared_mutex g_logLock;
std::unique_ptr<LogWriter> g_writer;

}  // namespace

LogPlace ResolveLogDirectory(const std::string& exeDir, const std::string& xdgStateHome,
                             const std::string& home) {
  const std::string primary = (exeDir.empty() ? std::string(".") : exeDir) + "/logs";
  int error = 0;
  if (MakeDirectories(primary, error) && CanCreateFiles(primary, error)) return {primary, ""};
  // XDG base directories must be absolute; a relative value is ignored.
  const std::string base = xdgStateHome.starts_with('/') ? xdgStateHome
                           : home.empty()                ? std::string("/tmp")
                                                         : home + "/.local/state";
  LogPlace place{base + "/velkor/logs", ""};
  int ignored;
  MakeDirectories(place.dir, ignored);
  place.note = "Журнал ведётся в " + place.dir + ": каталог " + primary + " недоступен (" +
               SystemErrorText(error) + ")";
  return place;
}

LogPlace DefaultLogDirectory() {
  return ResolveLogDirectory(ExecutableDir(), Getenv("XDG_STATE_HOME"), Getenv("HOME"));
}

std::string FormatLogLine(double localOle, const std::string& text) {
  const CivilTime t = DecodeOleDate(localOle);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%d - ", t.day, t.month,
                t.year, t.hour, t.minute, t.second, t.millisecond);
  return prefix + text;
}

void LogStartIn(const LogPlace& place) {
  std::unique_lock<std::shared_mutex> lock(g_logLock);
  if (g_writer) return;
  g_writer = std::make_unique<LogWriter>(place);
  g_writer->Activate();
}

void LogStart(const std::string& dir) {
  {
    std::shared_lock<std::shared_mutex> lock(g_logLock);
    if (g_writer) return;  // before resolving: that touches the disk
  }
  if (!dir.empty()) {
    int ignored;
    MakeDirectories(dir, ignored);
    LogStartIn({dir, ""});
  } else {
    LogStartIn(DefaultLogDirectory());
  }
}

void LogMessage(const std::string& text) {
  std::shared_lock<std::shared_mutex> lock(g_logLock);
  if (g_writer) g_writer->Queue.Add(text);
}

void LogStop() {
  std::unique_ptr<LogWriter> writer;
  {
    std::unique_lock<std::shared_mutex> lock(g_logLock);
    writer = std::move(g_writer);
  }
  // Outside the lock: the writer's last pass may itself log (a crash in Execute).
  if (writer) writer->StopThread();
}

std::string LogDirectory() {
  std::shared_lock<std::shared_mutex> lock(g_logLock);
  return g_writer ? g_writer->Directory() : std::string();
}

}  // namespace velkor
