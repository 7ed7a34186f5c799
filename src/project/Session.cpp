#include "project/Session.h"

#include "model/Clock.h"
#include "model/Error.h"
#include "model/ModbusRegister.h"
#include "model/OleDate.h"

namespace velkor {
namespace {

constexpr size_t kMaxMessages = 256;
constexpr size_t kMaxTraces = 10000;

}  // namespace

const char* RunStateName(RunState state) {
  switch (state) {
    case RunState::Stopped: return "stopped";
    case RunState::Starting: return "starting";
    case RunState::Running: return "running";
    case RunState::Stopping: return "stopping";
  }
  return "?";
}

struct Session::Subscriber {
  HostEvents* host;
};

Session::Subscription& Session::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Reset();
    m_session = other.m_session;
    m_subscriber = other.m_subscriber;
    other.m_session = nullptr;
    other.m_subscriber = nullptr;
  }
  return *this;
}

void Session::Subscription::Reset() {
  if (m_session && m_subscriber) m_session->Unsubscribe(m_subscriber);
  m_session = nullptr;
  m_subscriber = nullptr;
}

Session::Session() {
  SetTracer(&m_tracer);
  m_tracer.SetOnTrace([this](const std::shared_ptr<const TTraceUnit>& unit) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(m_traceLock);
      if (m_traces.size() >= kMaxTraces) {
        m_traces.pop_front();
        ++m_tracesDropped;
      }
      m_traces.push_back(unit);
      wake = !m_traceWoken;
      m_traceWoken = true;
    }
    if (wake) Notify([](HostEvents& host) { host.TraceRecordsReady(); });
  });
  m_scripts.SetShowMessageHandler([this](const std::string& text) { QueueShowMessage(text); });
}

Session::~Session() {
  try {
    Stop();
  } catch (...) {
    // A failing stop event must not end the program from a destructor.
  }
  m_tracer.SetOnTrace(nullptr);
  m_tracer.StopThread();
  SetTracer(nullptr);
  m_project.Reset();
}

Session::Subscription Session::Subscribe(HostEvents& host) {
  auto* subscriber = new Subscriber{&host};  // owned by m_subscribers until unsubscribed
  std::unique_lock<std::shared_mutex> lock(m_subscribersLock);
  m_subscribers.push_back(subscriber);
  return Subscription(this, subscriber);
}

void Session::Unsubscribe(Subscriber* subscriber) {
  std::unique_lock<std::shared_mutex> lock(m_subscribersLock);
  std::erase(m_subscribers, subscriber);
  delete subscriber;
}

template <typename F>
void Session::Notify(F&& call) {
  std::shared_lock<std::shared_mutex> lock(m_subscribersLock);
  for (Subscriber* subscriber : m_subscribers) call(*subscriber->host);
}

void Session::SetState(RunState state) {
  m_state.store(state);
  Notify([state](HostEvents& host) { host.RunStateChanged(state); });
}

void Session::QueueShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_messagesLock);
  if (m_messages.size() >= kMaxMessages) m_messages.pop_front();
  m_messages.push_back(text);
}

void Session::New() {
  if (State() != RunState::Stopped) throw VelkorError("the project cannot change while it runs");
  m_project.Reset();
  TagErrors().Clear();
  m_path.clear();
  std::lock_guard<std::mutex> lock(m_dispatchLock);
  m_protocolSeen.clear();
}

void Session::Load(const std::string& path) {
  New();
  LoadProject(m_project, path);
  m_path = path;
}

void Session::Save(const std::string& path) {
  SaveProject(m_project, path);
  m_path = path;
}

std::vector<Session::ScriptFailure> Session::CompileScripts() {
  const std::vector<std::string> functions = m_project.Functions.ScriptLines();
  std::vector<ScriptFailure> failures;
  for (const auto& server : m_project.Servers)
    for (const auto& device : server->Devices())
      for (const auto& tag : device->Tags()) {
        if (tag->WorkType != kWorkScript) continue;
        ScriptCompileResult result = m_scripts.Compile(*tag, functions);
        if (!result.Ok) failures.push_back({tag.get(), std::move(result)});
      }
  return failures;
}

void Session::Start(bool zeroRegs, bool /*automatic*/) {
  if (State() != RunState::Stopped) return;
  SetState(RunState::Starting);
  TagErrors().Clear();
  {
    std::lock_guard<std::mutex> lock(m_dispatchLock);
    m_protocolSeen.assign(size_t(m_project.Servers.Count()), 0);
  }
  m_runner = std::make_unique<ProjectRunner>(&m_scripts, m_project.Functions.ScriptLines());
  m_runner->SetAfterPoll([this] { DispatchPending(); });
  m_project.Servers.SetHooks(m_runner.get());
  try {
    m_project.Servers.Start(zeroRegs);
  } catch (...) {
    // The server list has stopped whatever it started.
    m_project.Servers.SetHooks(nullptr);
    m_runner.reset();
    DispatchPending();
    SetState(RunState::Stopped);
    throw;
  }
  DispatchPending();
  SetState(RunState::Running);
}

void Session::Stop() {
  if (State() != RunState::Running) return;
  SetState(RunState::Stopping);
  std::exception_ptr failure;
  try {
    m_project.Servers.Stop();
  } catch (...) {
    failure = std::current_exception();
  }
  m_project.Servers.SetHooks(nullptr);
  m_runner.reset();
  DispatchPending();
  SetState(RunState::Stopped);
  if (failure) std::rethrow_exception(failure);
}

std::vector<TagErrorReport> Session::TakeTagErrors(uint64_t* dropped) {
  m_tagErrorsWoken.store(false);
  std::vector<TagErrorEvent> events = TagErrors().Drain(dropped);
  std::vector<TagErrorReport> reports;
  reports.reserve(events.size());
  for (auto& event : events)
    reports.push_back(
        {LocalOleOfUnixMs(event.TimeMs - kEpoch1601To1970Ms), event.TimeMs, std::move(event.FullName), std::move(event.Text)});
  return reports;
}

std::vector<std::shared_ptr<const TTraceUnit>> Session::TakeTraceRecords(uint64_t* dropped) {
  std::lock_guard<std::mutex> lock(m_traceLock);
  std::vector<std::shared_ptr<const TTraceUnit>> out(m_traces.begin(), m_traces.end());
  m_traces.clear();
  if (dropped) *dropped += m_tracesDropped;
  m_tracesDropped = 0;
  m_traceWoken = false;
  return out;
}

void Session::DispatchPending() {
  std::lock_guard<std::mutex> dispatch(m_dispatchLock);
  // Protocols: a wake-up per server whose running total moved.
  const int count = m_project.Servers.Count();
  if (m_protocolSeen.size() != size_t(count)) m_protocolSeen.resize(size_t(count), 0);
  for (int i = 0; i < count; ++i) {
    const TModbusTCPServer* server = m_project.Servers.Items(i);
    const uint64_t total = server->Protocol.TotalAdded();
    if (total == m_protocolSeen[size_t(i)]) continue;
    m_protocolSeen[size_t(i)] = total;
    Notify([server](HostEvents& host) { host.ProtocolChanged(server); });
  }
  // One wake-up until the host takes the errors, not one per pass.
  if (TagErrors().Pending() && !m_tagErrorsWoken.exchange(true))
    Notify([](HostEvents& host) { host.TagErrorsReady(); });
  std::deque<std::string> messages;
  {
    std::lock_guard<std::mutex> lock(m_messagesLock);
    messages.swap(m_messages);
  }
  for (const std::string& text : messages)
    Notify([&text](HostEvents& host) { host.ShowMessage(text); });
}

}  // namespace velkor
