#include "runtime/Tracer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <iterator>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "model/OleDate.h"

namespace velkor {

std::atomic<bool> g_tracing{false};

namespace {

constexpr auto kRunWait = std::chrono::milliseconds(50);
constexpr auto kPassPause = std::chrono::milliseconds(10);

// AddTraceSlow holds the shared side for its whole call, so a tracer that unregisters itself
// (its destructor) waits until no serving thread is inside it.
std::shared_mutex g_registryLock;
TTracer* g_tracer = nullptr;  // under g_registryLock

// The local date-time of a moment: one localtime_r per second and thread, because glibc's
// takes a process-wide lock that eight busy connections would queue on.
double LocalOleNow(int64_t unixMs) {
  constexpr double kMsPerDay = 86400000.0;
  thread_local int64_t cachedSecond = INT64_MIN;
  thread_local double cachedDays = 0, cachedMsOfDay = 0;
  const int64_t second = unixMs / 1000;
  if (second != cachedSecond) {
    const double ole = LocalOleOfUnixMs(second * 1000);
    cachedDays = std::floor(ole);
    cachedMsOfDay = std::round((ole - cachedDays) * kMsPerDay);
    cachedSecond = second;
  }
  return cachedDays + (cachedMsOfDay + double(unixMs % 1000)) / kMsPerDay;
}

}  // namespace

std::string TTraceUnit::ToText() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const size_t kept = std::min<size_t>(Length, kKeep);
  std::string hex;
  hex.reserve(kept * 3);
  for (size_t i = 0; i < kept; ++i) {
    if (i > 0) hex += ' ';
    hex += kHex[Data[i] >> 4];
    hex += kHex[Data[i] & 0xF];
  }
  return FormatDateTime(Time, true) + " - " + std::to_string(Length) + " - " + hex;
}

TTracer::TTracer() : TAuxilThread("Tracer") {}

TTracer::~TTracer() {
  {
    std::unique_lock<std::shared_mutex> lock(g_registryLock);
    if (g_tracer == this) {
      g_tracer = nullptr;
      g_tracing.store(false);
    }
  }
  StopThread();
  CloseTraceFile();
}

// A record waiting in the lock-free stack between AddTrace and the tracer's list.
struct TTracer::Pending {
  TTraceUnit Unit;
  bool ToFile = false;  // saving was on when the frame came
  Pending* Next = nullptr;
};

void TTracer::AddTrace(const uint8_t* bytes, size_t length, const TraceSource& source,
                       uint8_t direction) {
  if (!Enabled()) return;
  auto* pending = new Pending;  // owned by m_pending until drained
  TTraceUnit& unit = pending->Unit;
  unit.Length = uint32_t(std::min<size_t>(length, UINT32_MAX));
  std::copy_n(bytes, std::min(length, TTraceUnit::kKeep), unit.Data);
  unit.Direction = direction;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  unit.TimeUs = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  unit.Time = LocalOleNow(unit.TimeUs / 1000);
  unit.Connection = source;
  pending->ToFile = SaveToFile();
  pending->Next = m_pending.load(std::memory_order_relaxed);
  while (!m_pending.compare_exchange_weak(pending->Next, pending, std::memory_order_release,
                                          std::memory_order_relaxed)) {
  }
}

void TTracer::DrainPending(bool trim) {
  Pending* top = m_pending.exchange(nullptr, std::memory_order_acquire);
  // The stack holds the newest first; reversed, it is in arrival order.
  Pending* oldest = nullptr;
  size_t count = 0;
  while (top) {
    Pending* next = top->Next;
    top->Next = oldest;
    oldest = top;
    top = next;
    ++count;
  }
  // In a pass, frames the depth would trim at once never become records (on a busy line
  // that is most of them): only their file lines are written.
  const int32_t depth = Depth();
  size_t skip = trim && depth > 0 && count > size_t(depth) ? count - size_t(depth) : 0;
  bool wrote = false;
  while (oldest) {
    Pending* next = oldest->Next;
    if (oldest->ToFile && m_file) {
      const std::string line = oldest->Unit.ToText() + "\n";
      std::fputs(line.c_str(), m_file);
      wrote = true;
    }
    if (skip > 0) {
      --skip;
      delete oldest;
    } else {
      std::shared_ptr<Pending> owner(oldest);
      m_records.push_back(std::shared_ptr<TTraceUnit>(owner, &owner->Unit));
    }
    oldest = next;
  }
  if (wrote) std::fflush(m_file);
}

void TTracer::Clear() {
  LockGuard guard(ThreadLock());
  DrainPending();
  m_records.clear();
}

void TTracer::SetEnabled(bool on) {
  m_enabled.store(on);
  {
    std::unique_lock<std::shared_mutex> lock(g_registryLock);
    if (g_tracer == this) g_tracing.store(Enabled());  // the latest value, whoever set it
  }
  if (on)
    Activate();
  else
    Pause();
}

void TTracer::SetOnTrace(Viewer viewer) {
  LockGuard guard(ThreadLock());
  m_onTrace = std::move(viewer);
}

size_t TTracer::RecordCount() const {
  LockGuard guard(ThreadLock());
  const_cast<TTracer*>(this)->DrainPending();
  return m_records.size();
}

std::vector<std::shared_ptr<const TTraceUnit>> TTracer::Records() const {
  LockGuard guard(ThreadLock());
  const_cast<TTracer*>(this)->DrainPending();
  return {m_records.begin(), m_records.end()};
}

void TTracer::SetSaveToFile(bool on) {
  if (on) {
    LockGuard guard(ThreadLock());
    m_saveToFile.store(OpenTraceFile());
  } else {
    m_saveToFile.store(false);
    CloseTraceFile();
  }
}

bool TTracer::OpenTraceFile() {
  LockGuard guard(ThreadLock());
  if (!m_file) m_file = std::fopen(FileName.c_str(), "a");
  return m_file != nullptr;
}

void TTracer::CloseTraceFile() {
  LockGuard guard(ThreadLock());
  DrainPending();  // lines of frames that came while saving was on
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
}

void TTracer::StopThread() {
  Halt();
  WaitFor();
}

void TTracer::Execute() {
  LowerPriority();
  std::vector<std::shared_ptr<const TTraceUnit>> fresh;
  std::vector<std::shared_ptr<TTraceUnit>> trimmed;
  while (!Terminated()) {
    if (!RunEvent.Wait(kRunWait) || !Enabled()) continue;
    Viewer viewer;
    {
      // The window holding the lock (Clear, Records) means: try again next pass.
      TryLockGuard guard(ThreadLock());
      if (!guard.Owns()) {
        std::this_thread::sleep_for(kPassPause);
        continue;
      }
      DrainPending(true);
      // Trimmed records are freed after the lock is released: on a busy line thousands
      // go per pass, and the serving threads must not wait for their deallocation.
      const int32_t depth = Depth();
      if (depth > 0 && m_records.size() > size_t(depth)) {
        const auto end = m_records.end() - depth;
        trimmed.assign(std::make_move_iterator(m_records.begin()), std::make_move_iterator(end));
        m_records.erase(m_records.begin(), end);
      }
      // Shown records form a prefix: every pass shows all the unshown ones.
      auto first = m_records.end();
      while (first != m_records.begin() && !(*std::prev(first))->Shown) --first;
      for (auto it = first; it != m_records.end(); ++it) {
        (*it)->Shown = true;
        fresh.push_back(*it);
      }
      viewer = m_onTrace;
    }
    trimmed.clear();
    if (viewer)
      for (const auto& unit : fresh) viewer(unit);
    fresh.clear();
    std::this_thread::sleep_for(kPassPause);
  }
}

TTracer* Tracer() {
  std::shared_lock<std::shared_mutex> lock(g_registryLock);
  return g_tracer;
}

void SetTracer(TTracer* tracer) {
  std::unique_lock<std::shared_mutex> lock(g_registryLock);
  g_tracer = tracer;
  g_tracing.store(tracer != nullptr && tracer->Enabled());
}

void AddTraceSlow(const uint8_t* bytes, size_t length, const TraceSource& source,
                  uint8_t direction) {
  std::shared_lock<std::shared_mutex> lock(g_registryLock);
  if (g_tracer) g_tracer->AddTrace(bytes, length, source, direction);
}

}  // namespace velkor
