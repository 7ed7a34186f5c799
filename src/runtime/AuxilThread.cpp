#include "runtime/AuxilThread.h"

#include <cxxabi.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/CrashReport.h"
#include "runtime/Log.h"

namespace velkor {
namespace {

// The worker whose Execute runs on this thread: it must neither join nor start itself.
thread_local const TAuxilThread* t_current = nullptr;

void SetThreadName(const std::string& name) {
  // The kernel keeps 15 bytes; cut at a character boundary so the name stays valid UTF-8.
  size_t length = name.size() < 15 ? name.size() : 15;
  while (length > 0 && length < name.size() &&
         (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
    --length;
  pthread_setname_np(pthread_self(), name.substr(0, length).c_str());
}

}  // namespace

TAuxilThread::TAuxilThread(std::string name) : m_name(std::move(name)) {}

TAuxilThread::~TAuxilThread() {
  if (t_current == this) {
    // Destroyed by its own Execute: nobody can join it, so let it finish alone.
    std::lock_guard<std::mutex> lock(m_startLock);
    m_thread.detach();
    return;
  }
  bool running;
  {
    std::lock_guard<std::mutex> lock(m_startLock);
    running = m_thread.joinable();
  }
  if (running) {
    Halt();
    WakeEvent.Set();
    WaitFor();
  }
}

void TAuxilThread::Activate() {
  m_paused.store(false);
  RunEvent.Set();
  if (t_current == this) return;
  std::lock_guard<std::mutex> lock(m_startLock);
  if (!m_thread.joinable() && !Terminated()) m_thread = std::thread(&TAuxilThread::Run, this);
}

void TAuxilThread::Pause() {
  m_paused.store(true);
  RunEvent.ResetEvent();
}

void TAuxilThread::Halt() {
  Pause();
  Terminate();
}

void TAuxilThread::WaitFor() {
  if (t_current == this) return;
  // Joining under the lock makes a second caller wait for the first one's join to end.
  std::lock_guard<std::mutex> lock(m_startLock);
  if (m_thread.joinable()) m_thread.join();
}

void TAuxilThread::LowerPriority() {
  const pid_t tid = gettid();
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, tid);
  if (nice == -1 && errno != 0) return;
  setpriority(PRIO_PROCESS, tid, nice + 1);  // at the bottom already: nothing to lower
}

void TAuxilThread::Run() {
  t_current = this;
  SetThreadName(m_name);
  try {
    Execute();
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must unwind through
  } catch (...) {
    const std::string message = CurrentExceptionMessage();
    LogMessage(m_name + ".Execute - " + message);
    ReportCrash(m_name, message);
  }
  t_current = nullptr;
}

}  // namespace velkor
