// The server over real sockets on 127.0.0.1, with a port the system chooses. Every wait
// has a deadline; every server is stopped (threads joined) in teardown.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "ServingFixture.h"
#include "model/TextUtil.h"
#include "runtime/Log.h"
#include "serving/ModbusServerList.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testing::WaitUntil;

// A master's socket.
class Master {
 public:
  explicit Master(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Master() { ::close(m_fd); }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  // Exactly n bytes, or what arrived before the deadline or the peer's close.
  Bytes Read(size_t n, std::chrono::milliseconds limit = 3000ms) {
    Bytes out;
    const auto deadline = Clock::now() + limit;
    while (out.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{m_fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
      uint8_t buf[512];
      const ssize_t got = ::recv(m_fd, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) {
        closedByPeer = got == 0;
        break;
      }
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  // True when the server closed the connection within the limit.
  bool SeesClose(std::chrono::milliseconds limit = 3000ms) {
    Read(1, limit);
    return closedByPeer;
  }
  bool connected = false;
  bool closedByPeer = false;

 private:
  int m_fd;
};

const Bytes kRead10 = Hex("00 01 00 00 00 06 01 03 00 00 00 0A");
const std::string kRead10Reply =
    "00 01 00 00 00 17 01 03 14 01 00 01 01 01 02 01 03 01 04 01 05 01 06 01 07 01 08 01 09";

// --- cutting the stream into ADUs, without a socket ---

// The ADUs a stream yields when it arrives in the given receives.
std::vector<std::string> Cut(const std::vector<Bytes>& receives, bool* whole = nullptr) {
  MbapStream stream;
  std::vector<std::string> adus;
  bool allWhole = true;
  for (const Bytes& receive : receives)
    allWhole &= stream.Feed(receive, [&](std::span<const uint8_t> adu) {
      adus.push_back(HexText(Bytes(adu.begin(), adu.end())));
      return true;
    });
  if (whole) *whole = allWhole;
  return adus;
}

TEST(MbapStream, YieldsTheSameAdusWhereverTheStreamIsCut) {
  const Bytes write = Hex("00 07 00 00 00 06 01 06 00 00 12 34");
  Bytes stream = write;
  stream.insert(stream.end(), kRead10.begin(), kRead10.end());
  const std::vector<std::string> expected = {HexText(write), HexText(kRead10)};
  for (size_t a = 0; a <= stream.size(); ++a) {
    for (size_t b = a; b <= stream.size(); ++b) {
      const std::vector<Bytes> receives = {Bytes(stream.begin(), stream.begin() + a),
                                           Bytes(stream.begin() + a, stream.begin() + b),
                                           Bytes(stream.begin() + b, stream.end())};
      ASSERT_EQ(Cut(receives), expected) << "cut at " << a << " and " << b;
    }
  }
}

TEST(MbapStream, DropsAReceiveWhoseTailCanBeNoAdu) {
  Bytes garbage = Hex("00 01 00 00 03 E8 01 10");  // announces 1000 bytes
  garbage.resize(40, 0);
  bool whole = true;
  EXPECT_EQ(Cut({garbage, kRead10}, &whole), std::vector<std::string>{HexText(kRead10)});
  EXPECT_FALSE(whole);
  // Complete in one receive it is garbage all the same: were it served only then, what a
  // master gets would depend on how the network cut its stream.
  Bytes complete = Hex("00 01 00 00 01 2E 01 06 00 00 12 34");  // announces 302 bytes
  complete.resize(6 + 302, 0);
  EXPECT_EQ(Cut({complete, kRead10}, &whole), std::vector<std::string>{HexText(kRead10)});
  EXPECT_FALSE(whole);
  // 260 bytes is the longest ADU: announced, it is waited for.
  Bytes longest = Hex("00 01 00 00 00 FE 01 10");
  EXPECT_TRUE(Cut({longest, kRead10}, &whole).empty());
  EXPECT_TRUE(whole);
}

TEST(MbapStream, KeepsTheRestWhenServingStops) {
  MbapStream stream;
  Bytes both = kRead10;
  both.insert(both.end(), kRead10.begin(), kRead10.end());
  int served = 0;
  // The second ADU is refused (the connection stopped): it stays in the tail, unserved.
  stream.Feed(both, [&](std::span<const uint8_t>) { return ++served < 2; });
  EXPECT_EQ(served, 2);
  EXPECT_EQ(stream.TailSize(), kRead10.size());
}

class TcpServer : public ServingTest {
 protected:
  void SetUp() override {
    server.Port = 0;
    server.Start();
    port = server.ListeningPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override { server.Stop(); }
  uint16_t port = 0;
};

TEST_F(TcpServer, ServesARead) {
  Master m(port);
  ASSERT_TRUE(m.connected);
  m.Write(kRead10);
  EXPECT_EQ(HexText(m.Read(29)), kRead10Reply);
}

TEST_F(TcpServer, CompletesAnAduSplitOverTwoReceives) {
  Master m(port);
  m.Write(Bytes(kRead10.begin(), kRead10.begin() + 5));
  std::this_thread::sleep_for(50ms);
  m.Write(Bytes(kRead10.begin() + 5, kRead10.end()));
  EXPECT_EQ(HexText(m.Read(29)), kRead10Reply);
}

TEST_F(TcpServer, AnswersTwoAdusOfOneSendInOrder) {
  Master m(port);
  Bytes both = Hex("00 07 00 00 00 06 01 06 00 00 12 34");
  both.insert(both.end(), kRead10.begin(), kRead10.end());
  m.Write(both);
  EXPECT_EQ(HexText(m.Read(12)), "00 07 00 00 00 06 01 06 00 00 12 34");
  EXPECT_EQ(HexText(m.Read(11)), "00 01 00 00 00 17 01 03 14 12 34");
}

TEST_F(TcpServer, DropsATailThatCanBeNoAduAndGoesOn) {
  Master m(port);
  Bytes garbage = Hex("00 01 00 00 03 E8 01 10");  // announces 1000 bytes
  garbage.resize(40, 0);
  m.Write(garbage);
  EXPECT_TRUE(m.Read(1, 200ms).empty());
  m.Write(kRead10);
  EXPECT_EQ(HexText(m.Read(29)), kRead10Reply);
}

TEST_F(TcpServer, ServesSeveralMastersAndCountsOpenConnections) {
  auto a = std::make_unique<Master>(port);
  Master b(port);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 2; }));
  a->Write(kRead10);
  b.Write(kRead10);
  EXPECT_EQ(HexText(a->Read(29)), kRead10Reply);
  EXPECT_EQ(HexText(b.Read(29)), kRead10Reply);
  a.reset();
  EXPECT_TRUE(WaitUntil([&] { return server.ClientCount() == 1; }));
  b.Write(kRead10);
  EXPECT_EQ(HexText(b.Read(29)), kRead10Reply);
}

TEST_F(TcpServer, StopClosesEveryConnection) {
  Master a(port), b(port);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 2; }));
  server.Stop();
  EXPECT_TRUE(a.SeesClose());
  EXPECT_TRUE(b.SeesClose());
  EXPECT_EQ(server.ClientCount(), 0);
}

TEST_F(TcpServer, StopEndsAReplyDelayAtOnce) {
  TraceRecorder trace;
  devices[0]->ReplyTimeout = devices[0]->ReplyTimeoutTo = 60000;
  Master m(port);
  m.Write(kRead10);
  ASSERT_TRUE(trace.WaitReceived(1));  // taken: in its delay, or about to begin it
  const auto begin = Clock::now();
  server.Stop();
  EXPECT_LT(Clock::now() - begin, 2s);
  EXPECT_TRUE(m.SeesClose());
}

TEST_F(TcpServer, RefusesConnectionsBeyondTheCap) {
  server.MaxConnections = 2;
  Master a(port), b(port);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 2; }));
  Master c(port);
  EXPECT_TRUE(c.SeesClose());
  EXPECT_EQ(server.Protocol.Count(), 1u);
  a.Write(kRead10);
  EXPECT_EQ(HexText(a.Read(29)), kRead10Reply);
}

TEST_F(TcpServer, DeadConnectionsDoNotPileUp) {
  for (int i = 0; i < 50; ++i) {
    Master m(port);
    m.Write(kRead10);
    ASSERT_EQ(m.Read(29).size(), 29u);
  }
  Master last(port);
  last.Write(kRead10);
  ASSERT_EQ(last.Read(29).size(), 29u);  // accepted and served: it is the live one below
  // Once every closed connection has noticed its peer left, the next connect frees them
  // all: only the two live ones remain.
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 1; }));
  Master probe(port);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 2; }));
  EXPECT_LE(server.ConnectionObjects(), 2u);
}

TEST(TcpPort, InUseIsReportedAndRetriedUntilItFrees) {
  TModbusTCPServer first;
  first.Port = 0;
  first.Start();
  ASSERT_NE(first.ListeningPort(), 0);
  TModbusTCPServer second;
  second.Port = first.ListeningPort();
  second.Start();
  ASSERT_TRUE(WaitUntil([&] {
    second.Poll();
    return second.Protocol.Count() >= 2;  // one entry per failed attempt
  }));
  TLogRecord record;
  ASSERT_TRUE(second.Protocol.Items(0, record));
  EXPECT_EQ(record.Text, SystemErrorText(EADDRINUSE));
  first.Stop();
  EXPECT_TRUE(WaitUntil([&] { return second.ListeningPort() == second.Port; }));
  Master m(second.Port);
  EXPECT_TRUE(m.connected);
  second.Stop();
}

TEST(TcpServerList, StartsAndStopsEveryServerAndFindsDevices) {
  TModbusServerList list;
  for (const char* name : {"S1", "S2"}) {
    auto server = std::make_unique<TModbusTCPServer>();
    server->SetName(name);
    server->Port = 0;
    auto device = std::make_unique<TDeviceClass>();
    device->SetName("D1");
    server->Devices().Add(std::move(device));
    list.Add(std::move(server));
  }
  EXPECT_EQ(list.FindDevice("S2.D1"), list.Items(1)->Devices().Items(0));
  EXPECT_EQ(list.FindDevice("S1"), nullptr);
  EXPECT_EQ(list.FindDevice("S1.D1.x"), nullptr);
  EXPECT_EQ(list.Items(0)->UniqueDeviceName("D1"), "D1_1");
  EXPECT_EQ(list.Items(0)->UniqueDeviceName("D2"), "D2");
  list.Start(false);
  EXPECT_NE(list.Items(0)->ListeningPort(), 0);
  EXPECT_NE(list.Items(1)->ListeningPort(), 0);
  int passes = 0;
  list.Poll([&](TDeviceClass&) { ++passes; });
  EXPECT_EQ(passes, 2);
  list.Stop();
  EXPECT_FALSE(list.Items(0)->Running());
}

TEST(TcpServerNames, DisplayName) {
  TModbusTCPServer s;
  s.SetName("PLC");
  s.Port = 502;
  EXPECT_EQ(s.DisplayName(), "PLC (502)");
  s.Mode = false;
  s.COMMPORT = "COM3";
  EXPECT_EQ(s.DisplayName(), "PLC (COM3)");
}

TEST(TcpServerLog, WritesTheTransportLines) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("velkor-log-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  LogStart(dir.string());
  {
    TModbusTCPServer server;
    server.Port = 0;
    server.Start();
    Master m(server.ListeningPort());
    ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 1; }));
    server.Stop();
  }
  LogStop();
  std::string all;
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(file.path());
    std::stringstream text;
    text << in.rdbuf();
    all += text.str();
  }
  for (const char* line :
       {"TModbusTCPServer.Create - ", "TTCPAccept.Create IN, Port = 0", "TTCPAccept.Execute IN",
        "TTCPAccept.InitSocket - OUT", "TModbusTCPServer.ClientConnectEvent - ",
        "TModbusTCPServer.AddClient - ", "TModbusTCPClient.Start", "TModbusTCPServer.Stop - ",
        "TTCPAccept.StopThread IN", "TTCPAccept.StopThread OUT", "TTCPAccept.Destroy OUT",
        "TModbusTCPServer.Destroy - "})
    EXPECT_NE(all.find(line), std::string::npos) << line;
  // A stop that wakes the accept is logged as such; one found between waits ends the loop.
  const bool woken = all.find("TTCPAccept.Execute - Terminating thread") != std::string::npos;
  const bool ended = all.find("TTCPAccept.Execute OUT") != std::string::npos;
  EXPECT_NE(woken, ended) << all;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velkor
