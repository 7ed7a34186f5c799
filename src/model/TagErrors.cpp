#include "model/TagErrors.h"

namespace velkor {

void TagErrorQueue::Push(TagErrorEvent event) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_capacity == 0) return;
  if (m_events.size() >= m_capacity) {
    m_events.pop_front();
    ++m_dropped;
  }
  m_events.push_back(std::move(event));
  m_pending.store(true, std::memory_order_release);
}

std::vector<TagErrorEvent> TagErrorQueue::Drain(uint64_t* dropped) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<TagErrorEvent> out(std::make_move_iterator(m_events.begin()),
                                 std::make_move_iterator(m_events.end()));
  m_events.clear();
  if (dropped) *dropped += m_dropped;
  m_dropped = 0;
  m_pending.store(false, std::memory_order_release);
  return out;
}

void TagErrorQueue::Clear() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_events.clear();
  m_dropped = 0;
  m_pending.store(false, std::memory_order_release);
}

TagErrorQueue& TagErrors() {
  static TagErrorQueue queue;
  return queue;
}

}  // namespace velkor
