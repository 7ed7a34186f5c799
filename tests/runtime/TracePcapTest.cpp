// The pcapng capture as Wireshark reads it: tshark (Wireshark's reader) must take every TCP
// frame as Modbus/TCP and every RTU frame as Modbus/RTU (with the RTU port set), with the
// right unit and function code, nothing malformed, and the records' own microseconds.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../TestUtil.h"
#include "runtime/TracePcap.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

int kTcpServer, kRtuServer;  // identities only

uint16_t Crc(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::shared_ptr<TTraceUnit> Unit(std::vector<uint8_t> bytes, uint8_t direction, bool rtu,
                                 int64_t us, uint16_t peerPort = 40001) {
  if (rtu) {
    const uint16_t crc = Crc(bytes);
    bytes.push_back(uint8_t(crc));
    bytes.push_back(uint8_t(crc >> 8));
  }
  auto unit = std::make_shared<TTraceUnit>();
  unit->Length = uint32_t(bytes.size());
  std::copy(bytes.begin(), bytes.end(), unit->Data);
  unit->Direction = direction;
  unit->TimeUs = us;
  unit->Connection.kind = rtu ? TraceSource::Kind::Rtu : TraceSource::Kind::Tcp;
  unit->Connection.server = rtu ? &kRtuServer : &kTcpServer;
  if (!rtu) {
    unit->Connection.peerAddress = 0x7F000001;
    unit->Connection.localAddress = 0x7F000001;
    unit->Connection.peerPort = peerPort;
    unit->Connection.localPort = 1502;
  }
  return unit;
}

class TracePcapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_tshark = testing::FindProgram("tshark");
    m_dir = fs::temp_directory_path() / ("velkor-pcap-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Tshark(const std::string& args) {
    return testing::RunCommand(m_tshark + " " + args + " 2>/dev/null").out;
  }
  std::string m_tshark;
  fs::path m_dir;
};

TEST_F(TracePcapTest, WiresharkDissectsEveryFrame) {
  if (m_tshark.empty()) GTEST_SKIP() << "tshark is not installed (velkor.sh installs it)";
  const int64_t t0 = 1765440000123456;  // a moment with microseconds
  std::vector<std::shared_ptr<const TTraceUnit>> records = {
      // Two masters on their own ports, each a read and its reply.
      Unit({0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2}, kTraceReceived, false, t0),
      Unit({0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 5, 0, 6}, kTraceSent, false, t0 + 1),
      Unit({0, 9, 0, 0, 0, 6, 7, 4, 0, 1, 0, 1}, kTraceReceived, false, t0 + 2, 40002),
      Unit({0, 9, 0, 0, 0, 5, 7, 4, 2, 0, 42}, kTraceSent, false, t0 + 3, 40002),
      // A write of several registers and its exception reply.
      Unit({0, 2, 0, 0, 0, 11, 1, 16, 0, 0, 0, 2, 4, 0, 1, 0, 2}, kTraceReceived, false, t0 + 4),
      Unit({0, 2, 0, 0, 0, 3, 1, 0x90, 2}, kTraceSent, false, t0 + 5),
      // RTU: a coil read and its reply.
      Unit({3, 1, 0, 0, 0, 8}, kTraceReceived, true, t0 + 6),
      Unit({3, 1, 1, 0x55}, kTraceSent, true, t0 + 7),
  };
  const std::string path = (m_dir / "trace.pcapng").string();
  ASSERT_TRUE(SaveTracePcap(path, records));

  const std::string rtuPort = std::to_string(TracePcapWriter::kRtuPort);
  const std::string fields = Tshark(
      "-r " + path + " -d tcp.port==" + rtuPort +
      ",mbrtu -T fields -E separator=, -e frame.time_epoch -e mbtcp.unit_id -e mbrtu.unit_id "
      "-e modbus.func_code -e tcp.srcport -e tcp.dstport -e _ws.malformed "
      "-e frame.comment -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE");
  const char* expected[] = {
      "1765440000.123456000,1,,3,40001,502,,server port 1502",
      "1765440000.123457000,1,,3,502,40001,,server port 1502",
      "1765440000.123458000,7,,4,40002,502,,server port 1502",
      "1765440000.123459000,7,,4,502,40002,,server port 1502",
      "1765440000.123460000,1,,16,40001,502,,server port 1502",
      "1765440000.123461000,1,,16,502,40001,,server port 1502",
      "1765440000.123462000,,3,1,49153,5028,,",
      "1765440000.123463000,,3,1,5028,49153,,",
  };
  std::istringstream lines(fields);
  std::string line;
  for (const char* want : expected) {
    ASSERT_TRUE(std::getline(lines, line)) << fields;
    EXPECT_EQ(line, want) << fields;
  }
  EXPECT_FALSE(std::getline(lines, line)) << fields;
  // Without the RTU port set, every TCP frame is still Modbus/TCP with no settings.
  EXPECT_EQ(Tshark("-r " + path + " -Y mbtcp -T fields -e frame.number"), "1\n2\n3\n4\n5\n6\n");
  // Nothing malformed, no warnings or errors (TCP analysis included).
  EXPECT_EQ(Tshark("-r " + path + " -d tcp.port==" + rtuPort +
                   ",mbrtu -Y \"_ws.malformed || _ws.expert.severity >= 0x00600000\" "
                   "-T fields -e frame.number"),
            "");
}

TEST_F(TracePcapTest, HeadersCarryTheConnectionAndRunOnSequenceNumbers) {
  TracePcapWriter writer;
  const auto request = Unit({0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2}, kTraceReceived, false, 0);
  const auto reply = Unit({0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 5, 0, 6}, kTraceSent, false, 0);
  const std::vector<uint8_t> a = writer.Packet(*request), b = writer.Packet(*reply),
                             c = writer.Packet(*request);
  ASSERT_EQ(a.size(), 54u + 12u);
  auto u32 = [](const std::vector<uint8_t>& p, size_t at) {
    return uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
  };
  EXPECT_EQ(u32(a, 26), 0x7F000001u);  // source address: the master
  EXPECT_EQ(u32(a, 38), 1u);           // master's sequence starts at 1
  EXPECT_EQ(u32(b, 38), 1u);           // server's too
  EXPECT_EQ(u32(b, 42), 13u);          // and acknowledges the 12 request bytes
  EXPECT_EQ(u32(c, 38), 13u);
  EXPECT_EQ(u32(c, 42), 14u);
}

TEST_F(TracePcapTest, UnwritablePathFails) {
  EXPECT_FALSE(SaveTracePcap((m_dir / "missing" / "x.pcapng").string(), {}));
}

}  // namespace
}  // namespace velkor
