#pragma once
// The base of every long-running worker. A worker starts paused; Activate sets its run
// event, Pause clears it, Halt pauses and asks it to terminate. Its loop waits for the run
// event with a short time-out, so pausing takes effect within one time-out. Blocking calls
// inside a step (accept, receive, a reply delay) are cut short by the subclass's
// StopThread (closing a socket, setting the wake event).
//
// The OS thread is started by the first Activate, not by the constructor: a virtual
// Execute cannot run before the derived object exists. A worker never activated has no
// thread at all, so Halt and WaitFor end it at once.

#include <atomic>
#include <string>
#include <thread>

#include "model/Locks.h"
#include "runtime/Event.h"

namespace velkor {

class TAuxilThread {
 public:
  // name: the thread's name in crash reports and debuggers (at most 15 characters show).
  explicit TAuxilThread(std::string name);
  virtual ~TAuxilThread();  // joins the thread if the subclass did not
  TAuxilThread(const TAuxilThread&) = delete;
  TAuxilThread& operator=(const TAuxilThread&) = delete;

  void Activate();
  void Pause();
  void Halt();
  void Terminate() { m_terminated.store(true); }
  bool Terminated() const { return m_terminated.load(std::memory_order_relaxed); }
  bool Paused() const { return m_paused.load(std::memory_order_relaxed); }
  // Joins the thread (no-op if it never started or already ended; never from itself).
  void WaitFor();
  // Each subclass ends its work here: at least Halt and WaitFor.
  virtual void StopThread() = 0;

  Event RunEvent{Event::Reset::Manual};
  Event WakeEvent{Event::Reset::Auto};
  TCritSection& ThreadLock() const { return m_lock; }
  const std::string& Name() const { return m_name; }

 protected:
  virtual void Execute() = 0;
  // Lowers the calling thread's priority one step (nice + 1), as workers other than the
  // update thread run.
  static void LowerPriority();

 private:
  void Run();

  std::string m_name;
  mutable TCritSection m_lock;
  std::atomic<bool> m_paused{true};
  std::atomic<bool> m_terminated{false};
  std::mutex m_startLock;
  std::thread m_thread;
};

}  // namespace velkor
