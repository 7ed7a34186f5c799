#pragma once
// The frame tracer. Serving threads hand it every request they take and every reply they
// send; while tracing is off that costs one relaxed atomic load. While it is on, a frame
// costs one allocation and one compare-and-swap onto a lock-free stack: busy connections
// never queue on a lock, nor wait for another's file write. The tracer thread moves the
// stack into the record list (writing the file lines), and hands new records to a viewer
// without blocking anyone: it only try-locks the list, collects the unshown records, and
// calls the viewer after releasing it.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/AuxilThread.h"

namespace velkor {

// Who took or sent a frame: the viewer filters by server and tells TCP from RTU.
// The addresses let a capture file show each TCP frame on its own connection; they are
// copied from the connection once, so tracing a frame costs no system call. Zero: unknown.
struct TraceSource {
  enum class Kind : uint8_t { Tcp, Rtu };
  Kind kind = Kind::Tcp;
  const void* server = nullptr;  // identity only; never dereferenced by the tracer
  uint32_t peerAddress = 0;      // the master's IPv4 address, host byte order
  uint32_t localAddress = 0;     // the address the master reached, host byte order
  uint16_t peerPort = 0;         // the master's port
  uint16_t localPort = 0;        // the server's port
};

struct TTraceUnit {
  static constexpr size_t kKeep = 300;
  uint32_t Length = 0;
  uint8_t Data[kKeep] = {};
  uint8_t Direction = 0;  // 1 received (request), 0 sent (reply)
  bool Shown = false;
  double Time = 0;     // local OLE date-time
  int64_t TimeUs = 0;  // the same moment in microseconds since 1970-01-01 UTC (captures)
  TraceSource Connection;

  // "dd.MM.yyyy h:mm:ss - <Length> - <kept bytes as hex>"
  std::string ToText() const;
};

inline constexpr uint8_t kTraceReceived = 1;
inline constexpr uint8_t kTraceSent = 0;

class TTracer : public TAuxilThread {
 public:
  using Viewer = std::function<void(const std::shared_ptr<const TTraceUnit>&)>;

  TTracer();
  ~TTracer() override;

  void AddTrace(const uint8_t* bytes, size_t length, const TraceSource& source, uint8_t direction);
  void Clear();
  bool Enabled() const { return m_enabled.load(std::memory_order_relaxed); }
  // On activates the thread, off pauses it.
  void SetEnabled(bool on);
  void SetOnTrace(Viewer viewer);
  int32_t Depth() const { return m_depth.load(); }
  void SetDepth(int32_t depth) { m_depth.store(depth); }
  size_t RecordCount() const;
  // The records held now, oldest first (a brief lock: pointers are copied, not frames).
  std::vector<std::shared_ptr<const TTraceUnit>> Records() const;

  std::string FileName;
  bool SaveToFile() const { return m_saveToFile.load(); }
  void SetSaveToFile(bool on);
  bool OpenTraceFile();
  void CloseTraceFile();

  void StopThread() override;

 protected:
  void Execute() override;

 private:
  struct Pending;
  // Moves the waiting frames into m_records, oldest first; under ThreadLock(). With `trim`
  // (the thread's pass) frames beyond the depth are not kept.
  void DrainPending(bool trim = false);

  std::atomic<Pending*> m_pending{nullptr};  // newest first
  std::atomic<bool> m_enabled{false};
  std::atomic<bool> m_saveToFile{false};
  std::atomic<int32_t> m_depth{100};
  std::deque<std::shared_ptr<TTraceUnit>> m_records;  // oldest first, under ThreadLock()
  Viewer m_onTrace;                                   // under ThreadLock()
  std::FILE* m_file = nullptr;                        // under ThreadLock()
};

// The program's tracer, if one exists (the trace window or the runner creates it).
TTracer* Tracer();
void SetTracer(TTracer* tracer);

// True while the registered tracer is enabled; kept in step by TTracer::SetEnabled and
// SetTracer so that the serving threads pay one relaxed load while tracing is off.
extern std::atomic<bool> g_tracing;
void AddTraceSlow(const uint8_t* bytes, size_t length, const TraceSource& source,
                  uint8_t direction);
// What serving threads call.
inline void AddTrace(const uint8_t* bytes, size_t length, const TraceSource& source,
                     uint8_t direction) {
  if (g_tracing.load(std::memory_order_relaxed)) AddTraceSlow(bytes, length, source, direction);
}

}  // namespace velkor
