#pragma once
// A locked queue of time-stamped lines: the program log's queue, and each server's
// protocol of messages for the user. A protocol must not grow without bound (a busy port
// adds an entry about every 110 ms for as long as the project runs), so a log may keep only
// its newest entries; TotalAdded counts every entry ever added, so a viewer can tell that
// new ones arrived even when the count stays at the cap.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "model/Locks.h"

namespace velkor {

struct TLogRecord {
  double Time;  // local date-time as an OLE date (LocalNowOle)
  std::string Text;
};

class TThreadSafeLog {
 public:
  // capacity 0: unbounded.
  explicit TThreadSafeLog(size_t capacity = 0) : m_capacity(capacity) {}

  void Add(std::string text);
  void Clear();
  size_t Count() const;
  // A copy of the record at index, or false when out of range.
  bool Items(size_t index, TLogRecord& out) const;
  uint64_t TotalAdded() const;
  // Moves every record out (the log writer's pass).
  std::vector<TLogRecord> TakeAll();
  // The records added since `cursor` (a TotalAdded value), oldest first, and the new cursor;
  // records dropped by the cap in between are skipped.
  std::vector<TLogRecord> Since(uint64_t& cursor) const;
  TCritSection& Lock() const { return m_lock; }

 private:
  const size_t m_capacity;
  mutable TCritSection m_lock;
  std::deque<TLogRecord> m_records;
  uint64_t m_total = 0;
};

// The newest entries a server's protocol keeps.
inline constexpr size_t kProtocolCapacity = 1000;

}  // namespace velkor
