#include "runtime/Event.h"

namespace velkor {

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
  }
  // An auto-reset event lets exactly one waiter through, so waking the others is wasted.
  if (m_auto)
    m_cv.notify_one();
  else
    m_cv.notify_all();
}

void Event::ResetEvent() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_set = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_set;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_cv.wait_for(lock, timeout, [this] { return m_set; })) return false;
  if (m_auto) m_set = false;
  return true;
}

}  // namespace velkor
