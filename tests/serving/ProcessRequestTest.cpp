#include <gtest/gtest.h>

#include "ServingFixture.h"
#include "serving/ModbusProcessor.h"

namespace velkor {
namespace {

class Processor : public ServingTest {
 protected:
  // The reply to one request, or "" when nothing was sent.
  std::string Serve(const std::string& request) {
    RecordingConnection connection(server.Devices());
    const Bytes adu = Hex(request);
    ProcessRequest(connection, adu.data(), adu.size());
    return OnlyReply(connection);
  }
};

struct ReplyCase {
  const char* name;
  const char* request;
  const char* reply;  // "" for no reply
};

class Replies : public Processor, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(Replies, AreExact) { EXPECT_EQ(Serve(GetParam().request), GetParam().reply); }

INSTANTIATE_TEST_SUITE_P(
    Functions, Replies,
    ::testing::Values(
        ReplyCase{"ReadHolding10", "00 01 00 00 00 06 01 03 00 00 00 0A",
                  "00 01 00 00 00 17 01 03 14 01 00 01 01 01 02 01 03 01 04 01 05 01 06 01 07 "
                  "01 08 01 09"},
        ReplyCase{"ReadHoldingQuantity0", "00 01 00 00 00 06 01 03 00 00 00 00",
                  "00 01 00 00 00 03 01 83 03"},
        ReplyCase{"ReadHoldingQuantity126", "00 01 00 00 00 06 01 03 00 00 00 7E",
                  "00 01 00 00 00 03 01 83 03"},
        ReplyCase{"ReadInput", "00 02 00 00 00 06 01 04 00 00 00 01",
                  "00 02 00 00 00 05 01 04 02 BE EF"},
        ReplyCase{"ReadCoils3", "00 03 00 00 00 06 01 01 00 00 00 03",
                  "00 03 00 00 00 04 01 01 01 05"},
        ReplyCase{"ReadDiscrete", "00 03 00 00 00 06 01 02 00 00 00 09",
                  "00 03 00 00 00 05 01 02 02 02 00"},
        ReplyCase{"ReadCoils2001", "00 03 00 00 00 06 01 01 00 00 07 D1",
                  "00 03 00 00 00 03 01 81 03"},
        ReplyCase{"ReadAtTopRunsIntoReserve", "00 04 00 00 00 06 01 03 FF FF 00 02",
                  "00 04 00 00 00 07 01 03 04 00 00 00 00"},
        ReplyCase{"WriteCoilBadValue", "00 05 00 00 00 06 01 05 00 01 12 34",
                  "00 05 00 00 00 03 01 85 03"},
        ReplyCase{"WriteCoilEcho", "00 05 00 07 00 06 01 05 00 01 FF 00",
                  "00 05 00 07 00 06 01 05 00 01 FF 00"},
        ReplyCase{"WriteRegisterEchoKeepsProtocolId", "00 06 00 05 00 06 01 06 00 01 12 34",
                  "00 06 00 05 00 06 01 06 00 01 12 34"},
        ReplyCase{"ReadReplyHasProtocolIdZero", "00 06 00 05 00 06 01 03 00 00 00 01",
                  "00 06 00 00 00 05 01 03 02 01 00"},
        ReplyCase{"WriteCoils10", "00 07 00 05 00 09 01 0F 00 00 00 0A 02 FF 03",
                  "00 07 00 05 00 06 01 0F 00 00 00 0A"},
        ReplyCase{"WriteCoilsWrongByteCount", "00 07 00 00 00 08 01 0F 00 00 00 0A 01 FF",
                  "00 07 00 00 00 03 01 8F 03"},
        ReplyCase{"WriteCoils1969", "00 07 00 00 00 08 01 0F 00 00 07 B1 F7 FF",
                  "00 07 00 00 00 03 01 8F 03"},
        ReplyCase{"WriteRegisters2", "00 08 00 00 00 0B 01 10 00 00 00 02 04 00 0A 00 0B",
                  "00 08 00 00 00 06 01 10 00 00 00 02"},
        ReplyCase{"WriteRegisters124", "00 08 00 00 00 07 01 10 00 00 00 7C F8",
                  "00 08 00 00 00 03 01 90 03"},
        ReplyCase{"MaskWriteEcho", "00 09 00 00 00 08 01 16 00 00 00 F2 00 25",
                  "00 09 00 00 00 08 01 16 00 00 00 F2 00 25"},
        ReplyCase{"UnsupportedFunction7", "00 0A 00 00 00 02 01 07", ""},
        ReplyCase{"UnsupportedFunction8", "00 0A 00 00 00 06 01 08 00 00 00 00", ""},
        ReplyCase{"UnsupportedFunction17", "00 0A 00 00 00 02 01 11", ""},
        ReplyCase{"UnsupportedFunction23", "00 0A 00 00 00 06 01 17 00 00 00 01", ""},
        ReplyCase{"UnsupportedFunction43", "00 0A 00 00 00 03 01 2B 0E", ""},
        ReplyCase{"UnknownUnit", "00 0B 00 00 00 06 09 03 00 00 00 01", ""},
        ReplyCase{"SilentDevice", "00 0B 00 00 00 06 02 03 00 00 00 01", ""},
        ReplyCase{"BroadcastRead", "00 0B 00 00 00 06 00 03 00 00 00 01", ""},
        ReplyCase{"LengthFieldMismatch", "00 0C 00 00 00 07 01 03 00 00 00 01", ""},
        ReplyCase{"TooShortForItsFields", "00 0C 00 00 00 04 01 03 00 00", ""},
        ReplyCase{"WriteRegistersDataMissing", "00 0C 00 00 00 09 01 10 00 00 00 02 04 00 0A", ""},
        ReplyCase{"NoFunctionCode", "00 0C 00 00 00 01 01", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Processor, ReadOf2000CoilsReturns250Bytes) {
  RecordingConnection connection(server.Devices());
  const Bytes adu = Hex("00 01 00 00 00 06 01 01 00 00 07 D0");
  ProcessRequest(connection, adu.data(), adu.size());
  ASSERT_EQ(connection.sent.size(), 1u);
  EXPECT_EQ(connection.sent[0].size(), 9u + 250u);
  EXPECT_EQ(connection.sent[0][8], 250);
}

TEST_F(Processor, WritesReachTheTables) {
  Serve("00 01 00 00 00 06 01 05 00 01 FF 00");
  EXPECT_TRUE(Coil(0, 1));
  Serve("00 01 00 00 00 06 01 05 00 00 00 00");
  EXPECT_FALSE(Coil(0, 0));
  Serve("00 01 00 00 00 06 01 06 00 05 12 34");
  EXPECT_EQ(Reg(0, 5), 0x1234);
  Serve("00 01 00 00 00 0B 01 10 00 07 00 02 04 AA BB CC DD");
  EXPECT_EQ(Reg(0, 7), 0xAABB);
  EXPECT_EQ(Reg(0, 8), 0xCCDD);
  devices[0]->Space().WriteWord(20, kHoldingRegs, 2, 0x0012);
  Serve("00 01 00 00 00 08 01 16 00 14 00 F2 00 25");
  EXPECT_EQ(Reg(0, 20), 0x0017);
  EXPECT_EQ(Reg(2, 5), 0x0105) << "another unit is untouched";
}

TEST_F(Processor, WriteCoilsWrapsPastTheTop) {
  Serve("00 01 00 00 00 08 01 0F FF FF 00 02 01 03");
  EXPECT_TRUE(Coil(0, 65535));
  EXPECT_TRUE(Coil(0, 0));
  Serve("00 01 00 00 00 09 01 0F 00 00 00 0A 02 FF 03");
  for (uint16_t i = 0; i < 10; ++i) EXPECT_TRUE(Coil(0, i)) << i;
  EXPECT_FALSE(Coil(0, 10));
}

TEST_F(Processor, BroadcastWritesEveryDeviceAndAnswersNothing) {
  EXPECT_EQ(Serve("00 01 00 00 00 06 00 06 00 03 77 77"), "");
  for (int d = 0; d < 3; ++d) EXPECT_EQ(Reg(d, 3), 0x7777) << d;  // the silent one too
  // A broadcast that fails its check changes no device.
  EXPECT_EQ(Serve("00 01 00 00 00 07 00 10 00 00 00 7C F8"), "");
  EXPECT_EQ(Serve("00 01 00 00 00 06 00 05 00 09 12 34"), "");
  for (int d = 0; d < 3; ++d) EXPECT_FALSE(Coil(d, 9));
}

TEST_F(Processor, SilentOrUnknownUnitsAreNotWritten) {
  Serve("00 01 00 00 00 06 02 06 00 03 77 77");
  EXPECT_EQ(Reg(1, 3), 0x0103);
  devices[1]->NoReply = false;  // read afresh for every request
  EXPECT_NE(Serve("00 01 00 00 00 06 02 06 00 03 77 77"), "");
  EXPECT_EQ(Reg(1, 3), 0x7777);
}

TEST_F(Processor, FirstDeviceOfANumberAnswers) {
  devices[2]->Number = 1;
  Serve("00 01 00 00 00 06 01 06 00 03 55 55");
  EXPECT_EQ(Reg(0, 3), 0x5555);
  EXPECT_EQ(Reg(2, 3), 0x0103);
}

TEST_F(Processor, ReplyDelayIsDrawnWithinTheBounds) {
  struct {
    uint32_t lo, hi, min, max;
  } rows[] = {{100, 200, 100, 199}, {50, 50, 50, 50}, {300, 100, 100, 299}, {0, 10, 0, 9}};
  for (const auto& r : rows) {
    devices[0]->ReplyTimeout = r.lo;
    devices[0]->ReplyTimeoutTo = r.hi;
    RecordingConnection connection(server.Devices());
    const Bytes adu = Hex("00 01 00 00 00 06 01 03 00 00 00 01");
    for (int i = 0; i < 200; ++i) ProcessRequest(connection, adu.data(), adu.size());
    for (uint32_t d : connection.delays) {
      EXPECT_GE(d, r.min);
      EXPECT_LE(d, r.max);
    }
    EXPECT_EQ(connection.sent.size(), 200u);
  }
  devices[0]->ReplyTimeout = devices[0]->ReplyTimeoutTo = 0;
  RecordingConnection none(server.Devices());
  const Bytes adu = Hex("00 01 00 00 00 06 01 03 00 00 00 01");
  ProcessRequest(none, adu.data(), adu.size());
  EXPECT_TRUE(none.delays.empty());
}

TEST_F(Processor, TerminatedConnectionDoesNotTouchTheDevice) {
  RecordingConnection connection(server.Devices());
  connection.terminated = true;
  for (const char* request :
       {"00 01 00 00 00 06 01 06 00 03 77 77", "00 01 00 00 00 06 00 06 00 03 77 77"}) {
    const Bytes adu = Hex(request);
    ProcessRequest(connection, adu.data(), adu.size());
  }
  EXPECT_TRUE(connection.sent.empty());
  EXPECT_EQ(Reg(0, 3), 0x0103);
}

}  // namespace
}  // namespace velkor
