// Modbus RTU: the frame rules through ProcessRtuFrame with a recording connection, then the
// serial handler of a server on a real line, a pty pair made by socat (skipped with a
// message where socat is missing). Every wait has a deadline; teardown stops the server
// (joining its thread) before the pair's socat is ended by its PID.

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "PtyPair.h"
#include "ServingFixture.h"
#include "model/TextUtil.h"
#include "runtime/Tracer.h"
#include "serving/Crc16.h"
#include "serving/ModbusRTUClient.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::PtyPair;
using testing::WaitUntil;

Bytes WithCrc(Bytes bytes) {
  bytes.resize(bytes.size() + 2);
  AppendCrc16(bytes.data(), bytes.size() - 2);
  return bytes;
}

Bytes Frame(const std::string& hex) { return WithCrc(Hex(hex)); }

// Function 16 from register `start`, every register 0x4242, then `padding` bytes beyond
// the data; 9 + 2 × registers + padding bytes with the CRC.
Bytes WriteRegisters(uint16_t start, int registers, int padding = 0) {
  Bytes bytes = {0x01,
                 0x10,
                 uint8_t(start >> 8),
                 uint8_t(start),
                 0,
                 uint8_t(registers),
                 uint8_t(2 * registers)};
  bytes.insert(bytes.end(), size_t(2 * registers + padding), 0x42);
  return WithCrc(bytes);
}

// Function 15 from coil 0, every coil on.
Bytes WriteCoils(int coils) {
  const int byteCount = (coils + 7) / 8;
  Bytes bytes = {0x01, 0x0F, 0, 0, uint8_t(coils >> 8), uint8_t(coils), uint8_t(byteCount)};
  bytes.insert(bytes.end(), size_t(byteCount), 0xFF);
  return WithCrc(bytes);
}

class RtuFrames : public ServingTest {
 protected:
  // The reply to one frame, or "" when nothing was sent.
  std::string Serve(const Bytes& frame) {
    RecordingConnection connection(server.Devices(), TraceSource::Kind::Rtu);
    ProcessRtuFrame(connection, frame);
    return OnlyReply(connection);
  }
};

// The bytes as a master puts them on the line, CRCs included, independent of AppendCrc16.
TEST_F(RtuFrames, LiteralFrames) {
  const std::string read = Serve(Hex("01 03 00 00 00 02 C4 0B"));
  EXPECT_EQ(read.substr(0, 20), "01 03 04 01 00 01 01");
  EXPECT_EQ(Hex(read).size(), 9u);
  EXPECT_TRUE(CheckCrc16(Hex(read).data(), 9));
  EXPECT_EQ(Serve(Hex("01 03 00 00 00 00 45 CA")), "01 83 03 01 31");
}

// What only RTU has: frames the CRC refuses get no reply and change nothing.
struct CrcCase {
  const char* name;
  Bytes frame;
};

Bytes LastBitFlipped(Bytes frame) {
  frame.back() ^= 1;
  return frame;
}

Bytes CrcSwapped(Bytes frame) {
  std::swap(frame[frame.size() - 2], frame[frame.size() - 1]);
  return frame;
}

class RtuCrcErrors : public RtuFrames, public ::testing::WithParamInterface<CrcCase> {};

TEST_P(RtuCrcErrors, AreDroppedUnanswered) {
  EXPECT_EQ(Serve(GetParam().frame), "");
  for (int d = 0; d < 3; ++d) EXPECT_EQ(Reg(d, 6), 0x0106) << "device " << d;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RtuCrcErrors,
    ::testing::Values(CrcCase{"LiteralWrongLastByte", Hex("01 03 00 00 00 02 C4 0C")},
                      CrcCase{"WriteWrongCrc", LastBitFlipped(Frame("01 06 00 06 12 34"))},
                      CrcCase{"BroadcastWrongCrc", LastBitFlipped(Frame("00 06 00 06 12 34"))},
                      CrcCase{"CrcBytesSwapped", CrcSwapped(Frame("01 06 00 06 12 34"))},
                      CrcCase{"TwoBytes", Hex("01 06")},
                      // FF FF is the CRC of nothing: only the length rule refuses it.
                      CrcCase{"CrcOfNothing", Hex("FF FF")}, CrcCase{"Empty", Bytes{}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
  const char* name;
  Bytes frame;
  size_t replyLength;  // 0: dropped
};

class RtuFrameSizes : public RtuFrames, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RtuFrameSizes, EveryRequestThatFitsIsServed) {
  const Bytes& frame = GetParam().frame;
  const Bytes reply = Hex(Serve(frame));
  ASSERT_EQ(reply.size(), GetParam().replyLength);
  if (reply.empty()) return;
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), Bytes(frame.begin(), frame.begin() + 6));
  EXPECT_TRUE(CheckCrc16(reply.data(), reply.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RtuFrameSizes,
    ::testing::Values(SizeCase{"Registers123In255Bytes", WriteRegisters(0, 123), 8},
                      SizeCase{"Coils1968In255Bytes", WriteCoils(1968), 8},
                      SizeCase{"ExtraByteMakes256", WriteRegisters(0, 123, 1), 8},
                      SizeCase{"Over256Dropped", WriteRegisters(0, 123, 2), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RtuFrames, LongestWritesReachTheirLastItem) {
  ASSERT_NE(Serve(WriteRegisters(0, 123)), "");
  EXPECT_EQ(Reg(0, 122), 0x4242);
  EXPECT_EQ(Reg(0, 123), 0x0000);
  ASSERT_NE(Serve(WriteCoils(1968)), "");
  EXPECT_TRUE(Coil(0, 1967));
  EXPECT_FALSE(Coil(0, 1968));
  EXPECT_EQ(Serve(WriteRegisters(200, 123, 2)), "");
  EXPECT_EQ(Reg(0, 200), 0x0000) << "an overlong frame writes nothing";
}

// --- line settings ---

struct LineCase {
  const char* name;
  int32_t baud;
  uint8_t bits, parity, stops;
  int error;  // 0, or the errno of the refusal
  speed_t speed;
  tcflag_t size;
  bool parityOn, odd, twoStops;
};

class LineSettings : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineSettings, AreAppliedAsTheDialogShowsThem) {
  const LineCase& c = GetParam();
  termios t{};
  t.c_lflag = ICANON | ECHO | ISIG;
  t.c_iflag = ICRNL | IXON;
  t.c_cflag = PARENB | PARODD | CSTOPB | CS5;
  ASSERT_EQ(ConfigureLine(t, c.baud, c.bits, c.parity, c.stops), c.error);
  if (c.error) return;
  EXPECT_EQ(cfgetispeed(&t), c.speed);
  EXPECT_EQ(cfgetospeed(&t), c.speed);
  EXPECT_EQ(t.c_cflag & CSIZE, c.size);
  EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parityOn);
  EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
  EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parityOn);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u) << "binary bytes pass unchanged";
  EXPECT_EQ(t.c_cc[VMIN], 1);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineSettings,
    ::testing::Values(
        LineCase{"Default8N1", 9600, 8, 0, 0, 0, B9600, CS8, false, false, false},
        LineCase{"SevenEven", 19200, 7, 1, 0, 0, B19200, CS7, true, false, false},
        LineCase{"OddTwoStops", 115200, 8, 2, 2, 0, B115200, CS8, true, true, true},
        LineCase{"Slowest", 1200, 8, 0, 0, 0, B1200, CS8, false, false, false},
        LineCase{"BeyondTheDialog", 230400, 8, 0, 0, 0, B230400, CS8, false, false, false},
        LineCase{"OtherBitsAreEight", 9600, 0, 0, 0, 0, B9600, CS8, false, false, false},
        LineCase{"NonZeroStopsAreTwo", 9600, 8, 0, 1, 0, B9600, CS8, false, false, true},
        LineCase{"RateWithoutCode", 12345, 8, 0, 0, EINVAL, 0, 0, false, false, false},
        // B0 would mean "hang up": a rate of 0 must be refused, not mapped to it.
        LineCase{"RateZero", 0, 8, 0, 0, EINVAL, 0, 0, false, false, false},
        LineCase{"MarkParity", 9600, 8, 3, 0, EINVAL, 0, 0, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- ports that cannot be opened ---

struct OpenFailure {
  const char* name;
  const char* port;
  int error;
};

class RtuOpenFailures : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(RtuOpenFailures, GiveOneProtocolEntry) {
  TModbusTCPServer server;
  server.Mode = false;
  server.COMMPORT = GetParam().port;
  server.Start();
  EXPECT_TRUE(server.Running()) << "an RTU server counts as running all the same";
  EXPECT_TRUE(server.Poll());
  server.Poll();
  ASSERT_EQ(server.Protocol.Count(), 1u);
  TLogRecord record;
  ASSERT_TRUE(server.Protocol.Items(0, record));
  EXPECT_EQ(record.Text, SystemErrorText(GetParam().error));
  server.Stop();
  EXPECT_FALSE(server.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Ports, RtuOpenFailures,
    ::testing::Values(OpenFailure{"MissingPath", "/dev/velkor-no-such-port", ENOENT},
                      OpenFailure{"MissingBareName", "velkor-no-such-port", ENOENT},
                      OpenFailure{"NotATerminal", "/dev/null", ENOTTY}),
    [](const auto& info) { return std::string(info.param.name); });

// --- on a line ---

const Bytes kProbe = Frame("01 03 00 05 00 01");  // register 5 of unit 1 (0x0105 at start)

std::string ProbeReply(uint16_t value) {
  return HexText(WithCrc({0x01, 0x03, 0x02, uint8_t(value >> 8), uint8_t(value)}));
}

class RtuLine : public ServingTest {
 protected:
  void SetUp() override {
    if (!pty.Ok()) GTEST_SKIP() << pty.Error();
  }
  void TearDown() override { server.Stop(); }

  void StartServer(int32_t interval = 20) {
    server.Mode = false;
    server.COMMPORT = pty.A();
    server.INTERVAL = interval;
    server.Start();
  }
  // The reply expected for a frame, read as soon as it is complete.
  std::string Exchange(const Bytes& request, size_t replyLength) {
    pty.Write(request);
    return HexText(pty.Read(replyLength));
  }
  // Frames the server must not answer (written before, `frames` of them in all): once it
  // has taken them, the next request is a frame of its own, and its reply must be the
  // first thing to come back (the server serves frames in order, on one thread).
  void ExpectSilenceThenProbe(size_t frames, uint16_t probeValue) {
    ASSERT_TRUE(trace.WaitReceived(frames));
    EXPECT_EQ(Exchange(kProbe, 7), ProbeReply(probeValue));
    ASSERT_TRUE(trace.WaitReceived(frames + 1));
    EXPECT_EQ(trace.Count(kTraceReceived), frames + 1) << "no frame was split or joined";
  }
  void ExpectSilenceThenProbe(const Bytes& frame, uint16_t probeValue) {
    pty.Write(frame);
    ExpectSilenceThenProbe(1, probeValue);
  }

  TraceRecorder trace;  // before the pair and the server's start, gone after its stop

  PtyPair pty;
};

TEST_F(RtuLine, ServesAReadAndAnException) {
  StartServer();
  EXPECT_EQ(Exchange(Hex("01 03 00 00 00 02 C4 0B"), 9), HexText(Frame("01 03 04 01 00 01 01")));
  EXPECT_EQ(Exchange(Hex("01 03 00 00 00 00 45 CA"), 5), "01 83 03 01 31");
  EXPECT_EQ(Exchange(Frame("03 06 00 01 AB CD"), 8), HexText(Frame("03 06 00 01 AB CD")));
}

struct SilentCase {
  const char* name;
  Bytes frame;
  uint16_t probeValue;  // what register 5 of unit 1 holds afterwards
};

class RtuSilences : public RtuLine, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(RtuSilences, AreKeptAndTheNextFrameIsServed) {
  StartServer();
  ExpectSilenceThenProbe(GetParam().frame, GetParam().probeValue);
}

Bytes Damaged(Bytes frame) {
  frame[2] ^= 0x10;
  return frame;
}

Bytes Twice(const Bytes& frame) {
  Bytes both = frame;
  both.insert(both.end(), frame.begin(), frame.end());
  return both;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RtuSilences,
    ::testing::Values(SilentCase{"BadCrc", Damaged(Frame("01 06 00 05 42 42")), 0x0105},
                      SilentCase{"AnotherSlave", Frame("07 06 00 05 42 42"), 0x0105},
                      SilentCase{"SilentDevice", Frame("02 06 00 05 42 42"), 0x0105},
                      SilentCase{"BroadcastServedUnanswered", Frame("00 06 00 05 42 42"), 0x4242},
                      // Two requests with no pause between them are one frame, which fails its CRC.
                      SilentCase{"TwoRequestsInOneRun", Twice(Frame("01 06 00 05 42 42")), 0x0105},
                      SilentCase{"OverlongRun", WriteRegisters(0, 123, 5), 0x0105}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RtuLine, FramesApartByMoreThanTheIntervalAreBothAnswered) {
  StartServer(20);
  pty.Write(Frame("01 06 00 05 00 07"));
  ASSERT_TRUE(trace.WaitReceived(1));  // a frame: the line was quiet for the interval
  pty.Write(kProbe);
  EXPECT_EQ(HexText(pty.Read(15)), HexText(Frame("01 06 00 05 00 07")) + " " + ProbeReply(7));
}

TEST_F(RtuLine, APauseShorterThanTheIntervalJoinsTwoRequests) {
  StartServer(150);
  const Bytes write = Frame("01 06 00 05 42 42");
  pty.Write(write);
  std::this_thread::sleep_for(5ms);
  pty.Write(write);
  ExpectSilenceThenProbe(1, 0x0105);
}

TEST_F(RtuLine, ARequestTrickledByteByByteIsOneFrame) {
  StartServer(200);
  for (uint8_t b : kProbe) {
    pty.Write({b});
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(HexText(pty.Read(7)), ProbeReply(0x0105));
}

TEST_F(RtuLine, LongestFramesArriveWholeAndAreServed) {
  StartServer();
  const Bytes registers = WriteRegisters(0, 123, 1);  // 256 bytes
  EXPECT_EQ(Exchange(registers, 8),
            HexText(WithCrc(Bytes(registers.begin(), registers.begin() + 6))));
  const Bytes coils = WriteCoils(1968);
  EXPECT_EQ(Exchange(coils, 8), HexText(WithCrc(Bytes(coils.begin(), coils.begin() + 6))));
  auto lock = devices[0]->Lock();
  EXPECT_EQ(devices[0]->Space().ReadWord(122, kHoldingRegs, 2), 0x4242);
  EXPECT_TRUE(devices[0]->Space().ReadBit(1967, 0, kCoils));
}

TEST_F(RtuLine, ABareNameOpensTheDeviceUnderDev) {
  char target[PATH_MAX] = {};
  ASSERT_GT(::readlink(pty.A().c_str(), target, sizeof target - 1), 5);
  ASSERT_EQ(std::string(target).rfind("/dev/", 0), 0u) << target;
  server.Mode = false;
  server.INTERVAL = 20;
  server.COMMPORT = std::string(target).substr(5);  // "pts/N"
  server.Start();
  EXPECT_EQ(Exchange(kProbe, 7), ProbeReply(0x0105));
}

TEST_F(RtuLine, APortInUseIsBusyForASecondServer) {
  StartServer();
  TModbusTCPServer second;
  second.Mode = false;
  second.COMMPORT = pty.A();
  second.Start();
  second.Poll();
  TLogRecord record;
  ASSERT_TRUE(second.Protocol.Items(0, record));
  EXPECT_EQ(record.Text, SystemErrorText(EBUSY));
  second.Stop();
  EXPECT_EQ(Exchange(kProbe, 7), ProbeReply(0x0105)) << "the first one still serves";
}

TEST_F(RtuLine, ARateWithoutCodeFailsTheOpen) {
  server.BAUD = 12345;
  StartServer();
  server.Poll();
  TLogRecord record;
  ASSERT_TRUE(server.Protocol.Items(0, record));
  EXPECT_EQ(record.Text, SystemErrorText(EINVAL));
  pty.Write(kProbe);
  EXPECT_EQ(pty.Read(1, 300ms).size(), 0u);
}

TEST_F(RtuLine, ALineThatGoesAwayIsReportedOnce) {
  StartServer();
  EXPECT_EQ(Exchange(kProbe, 7), ProbeReply(0x0105));
  pty.End();
  ASSERT_TRUE(WaitUntil([&] {
    server.Poll();
    return server.Protocol.Count() > 0;
  }));
  std::this_thread::sleep_for(100ms);  // the loop keeps finding the hang-up meanwhile
  server.Poll();
  ASSERT_EQ(server.Protocol.Count(), 1u);
  TLogRecord record;
  ASSERT_TRUE(server.Protocol.Items(0, record));
  EXPECT_EQ(record.Text, SystemErrorText(EIO));
}

enum class Busy { MidFrame, InReplyDelay, Idle };

class RtuStop : public RtuLine, public ::testing::WithParamInterface<Busy> {};

TEST_P(RtuStop, ReturnsPromptly) {
  devices[0]->ReplyTimeout = devices[0]->ReplyTimeoutTo =
      GetParam() == Busy::InReplyDelay ? 60000 : 0;
  StartServer(GetParam() == Busy::MidFrame ? 60000 : 20);
  if (GetParam() != Busy::Idle) pty.Write(kProbe);
  if (GetParam() == Busy::InReplyDelay) {
    ASSERT_TRUE(trace.WaitReceived(1));
  }
  // Mid-frame shows nothing to wait for (no frame is complete): give the bytes time to
  // reach the driver, which then waits out a 60 s interval.
  if (GetParam() == Busy::MidFrame) std::this_thread::sleep_for(100ms);
  const auto begin = Clock::now();
  server.Stop();
  EXPECT_LT(Clock::now() - begin, 2s);
  EXPECT_FALSE(server.Running());
}

INSTANTIATE_TEST_SUITE_P(States, RtuStop,
                         ::testing::Values(Busy::MidFrame, Busy::InReplyDelay, Busy::Idle),
                         [](const auto& info) {
                           return info.param == Busy::MidFrame       ? std::string("MidFrame")
                                  : info.param == Busy::InReplyDelay ? std::string("InReplyDelay")
                                                                     : std::string("Idle");
                         });

TEST_F(RtuLine, TracesFramesReceivedAndRepliesSent) {
  StartServer();
  Bytes bad = kProbe;
  bad.back() ^= 1;
  ExpectSilenceThenProbe(bad, 0x0105);
  ASSERT_TRUE(WaitUntil([&] { return trace.Units().size() >= 3; }));
  server.Stop();
  trace.Stop();
  const auto seen = trace.Units();
  ASSERT_EQ(seen.size(), 3u);
  const std::pair<Bytes, uint8_t> expected[] = {
      {bad, kTraceReceived}, {kProbe, kTraceReceived}, {Hex(ProbeReply(0x0105)), kTraceSent}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(HexText(Bytes(seen[i]->Data, seen[i]->Data + seen[i]->Length)),
              HexText(expected[i].first))
        << i;
    EXPECT_EQ(seen[i]->Direction, expected[i].second) << i;
    EXPECT_EQ(seen[i]->Connection.kind, TraceSource::Kind::Rtu) << i;
    EXPECT_EQ(seen[i]->Connection.server, &server) << i;
  }
}

}  // namespace
}  // namespace velkor
