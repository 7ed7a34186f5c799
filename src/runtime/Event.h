#pragma once
// Auto- and manual-reset events with timed waits, the synchronisation the worker threads
// are built on (run event, wake event).

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velkor {

class Event {
 public:
  enum class Reset { Auto, Manual };
  explicit Event(Reset mode, bool initial = false) : m_auto(mode == Reset::Auto), m_set(initial) {}

  void Set();
  void ResetEvent();
  bool IsSet() const;
  // True when the event was set within the time-out; an auto-reset event is then cleared.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  const bool m_auto;
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_set;
};

}  // namespace velkor
