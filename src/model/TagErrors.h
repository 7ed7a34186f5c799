#pragma once
// Tag errors as events. The update pass, a script or OPC sets a tag's error state while
// holding locks; instead of a front end scanning every tag for it, the tag pushes one event
// onto this bounded queue the first time its error is set after a reset (a tag reports at
// most one error between two starts). The queue drops its oldest events when full and
// counts them, so a storm of failing tags can neither grow memory nor block the pass.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace velkor {

struct TagErrorEvent {
  int64_t TimeMs = 0;  // NowMs() when the error was set
  std::string FullName;
  std::string Text;
};

class TagErrorQueue {
 public:
  static constexpr size_t kDefaultCapacity = 4096;
  explicit TagErrorQueue(size_t capacity = kDefaultCapacity) : m_capacity(capacity) {}

  void Push(TagErrorEvent event);
  // Everything queued, oldest first; the dropped count is added to `dropped` and reset.
  std::vector<TagErrorEvent> Drain(uint64_t* dropped = nullptr);
  // Cheap check for the thread that dispatches wake-ups.
  bool Pending() const { return m_pending.load(std::memory_order_acquire); }
  void Clear();

 private:
  const size_t m_capacity;
  mutable std::mutex m_lock;  // a leaf lock: taken under device and tag locks, takes none
  std::deque<TagErrorEvent> m_events;
  uint64_t m_dropped = 0;
  std::atomic<bool> m_pending{false};
};

// The process's queue (the tag registry is process-wide too).
TagErrorQueue& TagErrors();

}  // namespace velkor
