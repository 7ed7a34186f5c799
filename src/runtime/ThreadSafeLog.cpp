#include "runtime/ThreadSafeLog.h"

#include "model/OleDate.h"

namespace velkor {

void TThreadSafeLog::Add(std::string text) {
  TLogRecord record{LocalNowOle(), std::move(text)};
  LockGuard guard(m_lock);
  m_records.push_back(std::move(record));
  ++m_total;
  if (m_capacity > 0 && m_records.size() > m_capacity) m_records.pop_front();
}

void TThreadSafeLog::Clear() {
  LockGuard guard(m_lock);
  m_records.clear();
}

size_t TThreadSafeLog::Count() const {
  LockGuard guard(m_lock);
  return m_records.size();
}

bool TThreadSafeLog::Items(size_t index, TLogRecord& out) const {
  LockGuard guard(m_lock);
  if (index >= m_records.size()) return false;
  out = m_records[index];
  return true;
}

uint64_t TThreadSafeLog::TotalAdded() const {
  LockGuard guard(m_lock);
  return m_total;
}

std::vector<TLogRecord> TThreadSafeLog::TakeAll() {
  LockGuard guard(m_lock);
  std::vector<TLogRecord> out(std::make_move_iterator(m_records.begin()),
                              std::make_move_iterator(m_records.end()));
  m_records.clear();
  return out;
}

std::vector<TLogRecord> TThreadSafeLog::Since(uint64_t& cursor) const {
  LockGuard guard(m_lock);
  // The records held are numbered [m_total - size, m_total); older ones were dropped or
  // cleared, so a stale cursor starts at the oldest one still held.
  const uint64_t oldestHeld = m_total - m_records.size();
  const uint64_t from = cursor < oldestHeld ? oldestHeld : cursor;
  std::vector<TLogRecord> out;
  if (from < m_total) out.assign(m_records.begin() + ptrdiff_t(from - oldestHeld), m_records.end());
  cursor = m_total;
  return out;
}

}  // namespace velkor
