#pragma once
// The open project and everything that runs it, behind one object a front end drives: the
// window and `--headless` both use the core only through a Session and the HostEvents they
// subscribe. The core never knows a front end exists; it calls the subscribers from its own
// threads, and a subscriber's callbacks only post (a queued signal, a write to an eventfd)
// and return. Callbacks never run while a device or tag lock is held: events raised under
// those locks (tag errors, a script's ShowMessage) are queued and dispatched by the update
// thread after its pass, or by Start and Stop on the calling thread.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "model/TagErrors.h"
#include "project/ProjectFile.h"
#include "runtime/ThreadSafeLog.h"
#include "runtime/Tracer.h"
#include "simulation/ProjectRunner.h"
#include "simulation/TagScripts.h"

namespace velkor {

enum class RunState : uint8_t { Stopped, Starting, Running, Stopping };
const char* RunStateName(RunState state);

// What a front end implements. Every method may be called from any core thread; each must
// only post and return.
class HostEvents {
 public:
  virtual ~HostEvents() = default;
  virtual void RunStateChanged(RunState /*state*/) {}
  // The server's protocol has new entries; read them with Protocol.Since(cursor).
  virtual void ProtocolChanged(const TModbusTCPServer* /*server*/) {}
  // Tag errors are waiting: Session::TakeTagErrors.
  virtual void TagErrorsReady() {}
  // A script called ShowMessage.
  virtual void ShowMessage(const std::string& /*text*/) {}
  // Trace records are waiting: Session::TakeTraceRecords.
  virtual void TraceRecordsReady() {}
};

// A tag error as the front end shows it.
struct TagErrorReport {
  double Time = 0;     // local date-time as an OLE date, as protocol records carry
  int64_t TimeMs = 0;  // the same moment as NowMs() read it
  std::string FullName;
  std::string Text;
};

class Session {
 public:
  class Subscription;

  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Subscribers are called in subscription order until their Subscription is destroyed;
  // destroying it waits for a callback in flight to return, so the host may go right after.
  [[nodiscard]] Subscription Subscribe(HostEvents& host);

  // The project. Structure may be edited only while Stopped.
  Project& GetProject() { return m_project; }
  const Project& GetProject() const { return m_project; }
  TModbusServerList& Servers() { return m_project.Servers; }
  TagScripts& Scripts() { return m_scripts; }
  TTracer& Tracer() { return m_tracer; }
  const std::string& Path() const { return m_path; }

  // Empties the project. Throws when not stopped.
  void New();
  // Empties the project and reads the file; on failure throws with the reader's message and
  // keeps what was read before the failure (as the file loader does), with an empty path.
  void Load(const std::string& path);
  // Saves atomically and remembers the path.
  void Save(const std::string& path);

  // Compiles every script tag and returns each failure with its tag (errors only).
  struct ScriptFailure {
    const TModbusRegister* Tag;
    ScriptCompileResult Result;
  };
  std::vector<ScriptFailure> CompileScripts();

  // Starts the emulation. `automatic` marks a start the program made by itself (settings);
  // the core treats both alike. A failed start throws with everything stopped again.
  void Start(bool zeroRegs, bool automatic = false);
  // Stops the emulation. A spinning script is stopped rather than waited for.
  void Stop();
  RunState State() const { return m_state.load(); }
  bool Running() const { return State() == RunState::Running; }

  // Events waiting for the host (drained by the host after a wake-up).
  std::vector<TagErrorReport> TakeTagErrors(uint64_t* dropped = nullptr);
  std::vector<std::shared_ptr<const TTraceUnit>> TakeTraceRecords(uint64_t* dropped = nullptr);

  // Dispatches what is waiting: called by the update thread after every pass; a host may
  // call it too (tests, the headless loop while stopped).
  void DispatchPending();

 private:
  struct Subscriber;
  void Unsubscribe(Subscriber* subscriber);
  template <typename F>
  void Notify(F&& call);
  void SetState(RunState state);
  void QueueShowMessage(const std::string& text);

  Project m_project;
  TagScripts m_scripts;
  std::unique_ptr<ProjectRunner> m_runner;
  TTracer m_tracer;
  std::string m_path;
  std::atomic<RunState> m_state{RunState::Stopped};

  std::shared_mutex m_subscribersLock;  // shared while calling, exclusive to change
  std::vector<Subscriber*> m_subscribers;

  // Dispatch state: touched by the update thread and by Start/Stop, never concurrently
  // (the update thread only exists between them), but guarded to be safe for host calls.
  std::mutex m_dispatchLock;
  std::vector<uint64_t> m_protocolSeen;  // TotalAdded per server index at the last dispatch

  std::atomic<bool> m_tagErrorsWoken{false};

  std::mutex m_messagesLock;
  std::deque<std::string> m_messages;  // ShowMessage texts, bounded

  std::mutex m_traceLock;
  std::deque<std::shared_ptr<const TTraceUnit>> m_traces;  // bounded, drop-oldest
  uint64_t m_tracesDropped = 0;
  bool m_traceWoken = false;  // a wake-up was sent and not yet answered by a take
};

class Session::Subscription {
 public:
  Subscription() = default;
  Subscription(Subscription&& other) noexcept { *this = std::move(other); }
  Subscription& operator=(Subscription&& other) noexcept;
  ~Subscription() { Reset(); }
  void Reset();
  explicit operator bool() const { return m_subscriber != nullptr; }

 private:
  friend class Session;
  Subscription(Session* session, Subscriber* subscriber)
      : m_session(session), m_subscriber(subscriber) {}
  Session* m_session = nullptr;
  Subscriber* m_subscriber = nullptr;
};

}  // namespace velkor
