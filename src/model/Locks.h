#pragma once
// The locks of the device model and the one order every thread follows.
//
// Lock order: a device lock is always taken before the lock of any tag of that device.
// A thread that holds a tag lock never takes a device lock it does not already hold.
// So code that sets a tag's value from outside the update pass (value dialog, OPC thread,
// scripts at start and stop) takes the device lock, then the tag lock, then SetValue
// (TModbusRegister::SetValueLocked does exactly that). Only the update thread ever holds
// two device locks at once (its pass over one device, and a script writing a bound tag
// of another device), so device locks cannot form a cycle among themselves.
// Request processing takes device locks only, one at a time, never a tag lock.

#include <mutex>

namespace velkor {

// Re-entrant: the update pass holds a device lock for the pass and takes it again when a
// tag writes itself into the space.
using TCritSection = std::recursive_mutex;

// Scoped guard: takes the lock on construction, releases it on every exit path.
class LockGuard {
 public:
  explicit LockGuard(TCritSection& lock) : m_lock(lock) { m_lock.lock(); }
  ~LockGuard() { m_lock.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  TCritSection& m_lock;
};

// Try-only guard for threads that must not block; test Owns() before touching the data.
class TryLockGuard {
 public:
  explicit TryLockGuard(TCritSection& lock) : m_lock(lock), m_owns(lock.try_lock()) {}
  ~TryLockGuard() {
    if (m_owns) m_lock.unlock();
  }
  TryLockGuard(const TryLockGuard&) = delete;
  TryLockGuard& operator=(const TryLockGuard&) = delete;
  bool Owns() const { return m_owns; }

 private:
  TCritSection& m_lock;
  bool m_owns;
};

}  // namespace velkor
