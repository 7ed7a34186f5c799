// The request path under both framings. One table of {unit, request PDU, reply PDU} cases
// runs as Modbus TCP ADUs and as RTU frames, since the function-code logic, the device
// choice and the reply layouts are one code path; what only one framing has (the MBAP
// length field and protocol identifier here, the CRC in RtuTest) has small tables of its own.

#include <gtest/gtest.h>

#include <span>

#include "ServingFixture.h"
#include "serving/Crc16.h"
#include "serving/ModbusProcessor.h"

namespace velkor {
namespace {

struct FramingCase {
  const char* name;
  void (*serve)(RequestConnection&, std::span<const uint8_t>);
  Bytes (*wrap)(uint8_t unit, const Bytes& pdu);
  size_t header, trailer;
  TraceSource::Kind kind;
};

// Transaction id 12 34, so every reply shows that it copies it.
Bytes Mbap(uint8_t unit, const Bytes& pdu) {
  const size_t length = pdu.size() + 1;
  Bytes adu = {0x12, 0x34, 0x00, 0x00, uint8_t(length >> 8), uint8_t(length), unit};
  adu.insert(adu.end(), pdu.begin(), pdu.end());
  return adu;
}

Bytes Rtu(uint8_t unit, const Bytes& pdu) {
  Bytes frame = {unit};
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  frame.resize(frame.size() + 2);
  AppendCrc16(frame.data(), frame.size() - 2);
  return frame;
}

const FramingCase kTcp{"Tcp", ProcessRequest, Mbap, 7, 0, TraceSource::Kind::Tcp};
const FramingCase kRtu{"Rtu", ProcessRtuFrame, Rtu, 1, 2, TraceSource::Kind::Rtu};

class Framed : public ServingTest {
 protected:
  explicit Framed(const FramingCase& framing) : f(framing) {}

  RecordingConnection Connection() { return RecordingConnection(server.Devices(), f.kind); }
  // The replies a connection got to one request.
  void Send(RecordingConnection& connection, uint8_t unit, const std::string& pdu) {
    f.serve(connection, f.wrap(unit, Hex(pdu)));
  }
  // The reply to one request, or "" when nothing was sent.
  std::string Serve(uint8_t unit, const std::string& pdu) {
    RecordingConnection connection = Connection();
    Send(connection, unit, pdu);
    return OnlyReply(connection);
  }
  // The reply expected for a reply PDU: "" for none.
  std::string Expected(uint8_t unit, const std::string& pdu) const {
    return pdu.empty() ? "" : HexText(f.wrap(unit, Hex(pdu)));
  }
  // The PDU of a reply (its framing checked).
  Bytes PduOf(const Bytes& reply) const {
    EXPECT_GE(reply.size(), f.header + f.trailer);
    if (f.trailer) {
      EXPECT_TRUE(CheckCrc16(reply.data(), reply.size()));
    }
    return Bytes(reply.begin() + ptrdiff_t(f.header), reply.end() - ptrdiff_t(f.trailer));
  }

  const FramingCase& f;
};

// --- one table, both framings ---

struct ReplyCase {
  const char* name;
  uint8_t unit;
  const char* request;  // PDU
  const char* reply;    // PDU; "" for no reply
};

const ReplyCase kReplies[] = {
    {"ReadHolding10", 1, "03 00 00 00 0A",
     "03 14 01 00 01 01 01 02 01 03 01 04 01 05 01 06 01 07 01 08 01 09"},
    {"ReadHoldingQuantity0", 1, "03 00 00 00 00", "83 03"},
    {"ReadHoldingQuantity126", 1, "03 00 00 00 7E", "83 03"},
    {"ReadInputQuantity126", 1, "04 00 00 00 7E", "84 03"},
    {"ReadInputOfUnit3", 3, "04 00 00 00 01", "04 02 BE EF"},
    {"ReadCoils3", 1, "01 00 00 00 03", "01 01 05"},
    {"ReadDiscrete", 1, "02 00 00 00 09", "02 02 02 00"},
    {"ReadCoils2001", 1, "01 00 00 07 D1", "81 03"},
    {"ReadAtTopRunsIntoReserve", 1, "03 FF FF 00 02", "03 04 00 00 00 00"},
    {"WriteCoilBadValue", 1, "05 00 01 12 34", "85 03"},
    {"WriteCoilEcho", 1, "05 00 01 FF 00", "05 00 01 FF 00"},
    {"WriteRegisterEcho", 1, "06 00 01 12 34", "06 00 01 12 34"},
    {"WriteCoils10", 1, "0F 00 00 00 0A 02 CD 01", "0F 00 00 00 0A"},
    {"WriteCoilsWrongByteCount", 1, "0F 00 00 00 0A 01 FF", "8F 03"},
    {"WriteCoils1969", 1, "0F 00 00 07 B1 F7 FF", "8F 03"},
    {"WriteRegisters2", 1, "10 00 00 00 02 04 00 0A 00 0B", "10 00 00 00 02"},
    {"WriteRegisters124", 1, "10 00 00 00 7C F8", "90 03"},
    {"MaskWriteEcho", 1, "16 00 00 00 F2 00 25", "16 00 00 00 F2 00 25"},
    {"UnsupportedFunction7", 1, "07", ""},
    {"UnsupportedFunction8", 1, "08 00 00 00 00", ""},
    {"UnsupportedFunction17", 1, "11", ""},
    {"UnsupportedFunction23", 1, "17 00 00 00 01", ""},
    {"UnsupportedFunction43", 1, "2B 0E", ""},
    {"UnknownUnit", 9, "03 00 00 00 01", ""},
    {"SilentDevice", 2, "03 00 00 00 01", ""},
    {"BroadcastRead", 0, "03 00 00 00 01", ""},
    {"TooShortForItsFields", 1, "03 00 00", ""},
    {"WriteRegistersDataMissing", 1, "10 00 00 00 02 04 00 0A", ""},
    {"NoFunctionCode", 1, "", ""},
};

class Replies : public Framed,
                public ::testing::WithParamInterface<std::tuple<ReplyCase, const FramingCase*>> {
 protected:
  Replies() : Framed(*std::get<1>(GetParam())) {}
};

TEST_P(Replies, AreExact) {
  const ReplyCase& c = std::get<0>(GetParam());
  EXPECT_EQ(Serve(c.unit, c.request), Expected(c.unit, c.reply));
}

INSTANTIATE_TEST_SUITE_P(Functions, Replies,
                         ::testing::Combine(::testing::ValuesIn(kReplies),
                                            ::testing::Values(&kTcp, &kRtu)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param)->name;
                         });

// --- behaviours, both framings ---

class BothFramings : public Framed, public ::testing::WithParamInterface<const FramingCase*> {
 protected:
  BothFramings() : Framed(*GetParam()) {}
};

TEST_P(BothFramings, ReadOf2000CoilsReturns250Bytes) {
  const Bytes pdu = PduOf(Hex(Serve(1, "01 00 00 07 D0")));
  ASSERT_EQ(pdu.size(), 2u + 250u);
  EXPECT_EQ(pdu[1], 250);
}

TEST_P(BothFramings, WritesReachTheTables) {
  Serve(1, "05 00 01 FF 00");
  EXPECT_TRUE(Coil(0, 1));
  Serve(1, "05 00 00 00 00");
  EXPECT_FALSE(Coil(0, 0));
  Serve(1, "06 00 05 12 34");
  EXPECT_EQ(Reg(0, 5), 0x1234);
  Serve(1, "10 00 07 00 02 04 AA BB CC DD");
  EXPECT_EQ(Reg(0, 7), 0xAABB);
  EXPECT_EQ(Reg(0, 8), 0xCCDD);
  devices[0]->Space().WriteWord(20, kHoldingRegs, 2, 0x0012);
  Serve(1, "16 00 14 00 F2 00 25");
  EXPECT_EQ(Reg(0, 20), 0x0017);
  EXPECT_EQ(Reg(2, 5), 0x0105) << "another unit is untouched";
}

TEST_P(BothFramings, WriteCoilsTakesBitsLowFirstAndWrapsPastTheTop) {
  ASSERT_NE(Serve(1, "0F 00 00 00 0A 02 CD 01"), "");
  const bool expected[11] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0};
  for (uint16_t c = 0; c < 11; ++c) EXPECT_EQ(Coil(0, c), expected[c]) << "coil " << c;
  Serve(1, "0F FF FF 00 02 01 03");
  EXPECT_TRUE(Coil(0, 65535));
  EXPECT_TRUE(Coil(0, 0));
}

TEST_P(BothFramings, BroadcastWritesEveryDeviceAndAnswersNothing) {
  EXPECT_EQ(Serve(0, "06 00 03 77 77"), "");
  for (int d = 0; d < 3; ++d) EXPECT_EQ(Reg(d, 3), 0x7777) << d;  // the silent one too
  // A broadcast that fails its check changes no device.
  EXPECT_EQ(Serve(0, "10 00 00 00 7C F8"), "");
  EXPECT_EQ(Serve(0, "05 00 09 12 34"), "");
  for (int d = 0; d < 3; ++d) EXPECT_FALSE(Coil(d, 9));
}

TEST_P(BothFramings, SilentOrUnknownUnitsAreNotWritten) {
  Serve(2, "06 00 03 77 77");
  Serve(7, "06 00 04 77 77");
  for (int d = 0; d < 3; ++d) EXPECT_EQ(Reg(d, 4), 0x0104) << d;
  EXPECT_EQ(Reg(1, 3), 0x0103);
  devices[1]->NoReply = false;  // read afresh for every request
  EXPECT_NE(Serve(2, "06 00 03 77 77"), "");
  EXPECT_EQ(Reg(1, 3), 0x7777);
}

TEST_P(BothFramings, FirstDeviceOfANumberAnswers) {
  devices[2]->Number = 1;
  Serve(1, "06 00 03 55 55");
  EXPECT_EQ(Reg(0, 3), 0x5555);
  EXPECT_EQ(Reg(2, 3), 0x0103);
}

TEST_P(BothFramings, ReplyDelayIsDrawnWithinTheBounds) {
  struct {
    uint32_t lo, hi, min, max;
  } rows[] = {{100, 200, 100, 199}, {50, 50, 50, 50}, {300, 100, 100, 299}, {0, 10, 0, 9}};
  for (const auto& r : rows) {
    devices[0]->ReplyTimeout = r.lo;
    devices[0]->ReplyTimeoutTo = r.hi;
    RecordingConnection connection = Connection();
    for (int i = 0; i < 200; ++i) Send(connection, 1, "03 00 00 00 01");
    for (uint32_t d : connection.delays) {
      EXPECT_GE(d, r.min);
      EXPECT_LE(d, r.max);
    }
    EXPECT_EQ(connection.sent.size(), 200u);
    // A broadcast is never delayed.
    const size_t delays = connection.delays.size();
    Send(connection, 0, "06 00 07 00 01");
    EXPECT_EQ(connection.delays.size(), delays);
  }
  devices[0]->ReplyTimeout = devices[0]->ReplyTimeoutTo = 0;
  RecordingConnection none = Connection();
  Send(none, 1, "03 00 00 00 01");
  EXPECT_TRUE(none.delays.empty());
}

// Stopped during the delay: the request is neither carried out nor answered.
TEST_P(BothFramings, TerminatedConnectionDoesNotTouchTheDevice) {
  RecordingConnection connection = Connection();
  connection.terminated = true;
  Send(connection, 1, "06 00 03 77 77");
  Send(connection, 0, "06 00 03 77 77");
  EXPECT_TRUE(connection.sent.empty());
  EXPECT_EQ(Reg(0, 3), 0x0103);
}

INSTANTIATE_TEST_SUITE_P(Framings, BothFramings, ::testing::Values(&kTcp, &kRtu),
                         [](const auto& info) { return std::string(info.param->name); });

// --- what only MBAP has: the length field and the protocol identifier ---

struct AduCase {
  const char* name;
  const char* request;
  const char* reply;  // "" for no reply
};

class MbapFrames : public ServingTest, public ::testing::WithParamInterface<AduCase> {};

TEST_P(MbapFrames, AreExact) {
  RecordingConnection connection(server.Devices());
  ProcessRequest(connection, Hex(GetParam().request));
  EXPECT_EQ(OnlyReply(connection), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Adus, MbapFrames,
    ::testing::Values(
        AduCase{"LengthFieldTooLong", "00 0C 00 00 00 07 01 03 00 00 00 01", ""},
        AduCase{"LengthFieldTooShort", "00 0C 00 00 00 05 01 03 00 00 00 01", ""},
        AduCase{"HeaderOnly", "00 0C 00 00 00 01 01", ""},
        AduCase{"ShorterThanTheHeader", "00 0C 00 00 00", ""}, AduCase{"Empty", "", ""},
        AduCase{"EchoKeepsProtocolId", "00 05 00 07 00 06 01 05 00 01 FF 00",
                "00 05 00 07 00 06 01 05 00 01 FF 00"},
        AduCase{"WriteReplyKeepsProtocolId", "00 07 00 05 00 09 01 0F 00 00 00 0A 02 FF 03",
                "00 07 00 05 00 06 01 0F 00 00 00 0A"},
        AduCase{"ExceptionKeepsProtocolId", "00 07 00 05 00 08 01 0F 00 00 00 0A 01 FF",
                "00 07 00 05 00 03 01 8F 03"},
        AduCase{"ReadReplyHasProtocolIdZero", "00 06 00 05 00 06 01 03 00 00 00 01",
                "00 06 00 00 00 05 01 03 02 01 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExceptionReply, IsBuiltOverTheRequest) {
  Bytes frame = Hex("01 03 00 00 00 00 45 CA");
  EXPECT_EQ(BuildExceptionReply(frame.data(), 0x03, true), 5u);
  EXPECT_EQ(HexText(Bytes(frame.begin(), frame.begin() + 5)), "01 83 03 01 31");
  Bytes unit = Hex("01 10 00 00");
  EXPECT_EQ(BuildExceptionReply(unit.data(), 0x03, false), 3u);
  EXPECT_EQ(HexText(unit), "01 90 03 00");
}

}  // namespace
}  // namespace velkor
