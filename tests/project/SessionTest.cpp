#include "project/Session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "model/TagErrors.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// A device with one script tag that fails on every pass (70000 does not fit a Word) and
// greets through ShowMessage on every run.
const char* kProject = R"(<Servers><Server><Name>S</Name><Port>0</Port><Mode>true</Mode>
<Device><Name>D</Name><Number>1</Number>
<Register><Name>Bad</Name><vType>18</vType><WorkType>5</WorkType><Period>10</Period>
<Script><Line>begin</Line><Line>ShowMessage('hi'); self := 70000;</Line><Line>end;</Line></Script>
</Register>
<Register><Name>Good</Name><Addr>1</Addr><vType>18</vType><WorkType>2</WorkType></Register>
</Device></Server></Servers>)";

// Records what the core reports, and checks the promise every callback makes: no device
// lock is held by the calling thread (another thread can take it at once).
class Recorder : public HostEvents {
 public:
  explicit Recorder(TDeviceClass* device = nullptr) : m_device(device) {}
  void RunStateChanged(RunState state) override { Record([&] { states.push_back(state); }); }
  void ProtocolChanged(const TModbusTCPServer*) override { Record([&] { ++protocolWakeups; }); }
  void TagErrorsReady() override { Record([&] { ++errorWakeups; }); }
  void ShowMessage(const std::string& text) override { Record([&] { messages.push_back(text); }); }

  template <typename Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5s) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, limit, [&] { return pred(); });
  }

  std::vector<RunState> states;
  int protocolWakeups = 0, errorWakeups = 0;
  std::vector<std::string> messages;
  bool calledUnderDeviceLock = false;

 private:
  template <typename F>
  void Record(F f) {
    if (m_device) {
      TCritSection& lock = m_device->DeviceLock();
      const bool free = std::async(std::launch::async, [&lock] {
                          if (!lock.try_lock()) return false;
                          lock.unlock();
                          return true;
                        }).get();
      if (!free) calledUnderDeviceLock = true;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    f();
    m_changed.notify_all();
  }
  TDeviceClass* m_device;
  std::mutex m_lock;
  std::condition_variable m_changed;
};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    LoadProjectText(session.GetProject(), kProject);
    device = session.Servers().FindDevice("S.D");
  }
  Session session;
  TDeviceClass* device = nullptr;
};

TEST_F(SessionTest, ReportsRunStatesErrorsOnceAndMessagesOutsideDeviceLocks) {
  ASSERT_NE(device, nullptr);
  Recorder host(device);
  auto subscription = session.Subscribe(host);
  session.Start(false);
  EXPECT_EQ(session.State(), RunState::Running);
  EXPECT_NE(session.Servers().Items(0)->ListeningPort(), 0);
  ASSERT_TRUE(host.WaitFor([&] { return host.errorWakeups > 0 && host.messages.size() >= 3; }));
  // The tag fails on every pass but is reported once.
  std::this_thread::sleep_for(50ms);
  auto errors = session.TakeTagErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].FullName, "S.D.Bad");
  EXPECT_NE(errors[0].Text.find("70000"), std::string::npos) << errors[0].Text;
  EXPECT_GT(errors[0].Time, 40000.0);  // a date in this century
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(session.TakeTagErrors().empty());
  session.Stop();  // joins the update thread: the recorder is ours alone from here
  EXPECT_EQ(host.messages[0], "hi");
  EXPECT_EQ(session.State(), RunState::Stopped);
  const std::vector<RunState> expected{RunState::Starting, RunState::Running, RunState::Stopping,
                                       RunState::Stopped};
  EXPECT_EQ(host.states, expected);
  EXPECT_FALSE(host.calledUnderDeviceLock);

  // A new start reports the same error again.
  session.Start(false);
  ASSERT_TRUE(host.WaitFor([&] { return host.errorWakeups > 1; }));
  EXPECT_EQ(session.TakeTagErrors().size(), 1u);
  session.Stop();
}

TEST_F(SessionTest, AnEndedSubscriptionHearsNothing) {
  Recorder kept, dropped;
  auto keep = session.Subscribe(kept);
  {
    auto gone = session.Subscribe(dropped);
    session.Start(false);
  }
  session.Stop();
  EXPECT_EQ(dropped.states.size(), 2u);  // Starting, Running
  EXPECT_EQ(kept.states.size(), 4u);
}

TEST_F(SessionTest, ProjectCannotBeReplacedWhileRunning) {
  session.Start(false);
  EXPECT_THROW(session.New(), VelkorError);
  EXPECT_NE(session.Servers().Count(), 0);
  session.Stop();
  session.New();
  EXPECT_EQ(session.Servers().Count(), 0);
  EXPECT_TRUE(session.Path().empty());
}

TEST_F(SessionTest, ALoadThatFailsLeavesNoPath) {
  EXPECT_THROW(session.Load("/nonexistent/velkor.xml"), VelkorError);
  EXPECT_TRUE(session.Path().empty());
}

TEST(TagErrorQueue, DropsOldestWhenFullAndCountsDrops) {
  TagErrorQueue queue(2);
  for (int i = 0; i < 5; ++i) queue.Push({i, "T" + std::to_string(i), "e"});
  EXPECT_TRUE(queue.Pending());
  uint64_t dropped = 0;
  const auto events = queue.Drain(&dropped);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].FullName, "T3");
  EXPECT_EQ(events[1].FullName, "T4");
  EXPECT_EQ(dropped, 3u);
  EXPECT_FALSE(queue.Pending());
}

}  // namespace
}  // namespace velkor
