#include "runtime/TracePcap.h"

#include <algorithm>
#include <cstring>

namespace velkor {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint16_t kLinkEthernet = 1;
constexpr size_t kHeaders = 14 + 20 + 20;  // Ethernet, IPv4, TCP (no options)

// Documentation addresses (RFC 5737) stand in for what the tracer does not know: the
// master at 192.0.2.1, a server at 192.0.2.(2 + its number).
constexpr uint32_t kTestNet = 0xC0000200;

void Put16(uint8_t* at, uint16_t value) {
  at[0] = uint8_t(value >> 8);
  at[1] = uint8_t(value);
}
void Put32(uint8_t* at, uint32_t value) {
  Put16(at, uint16_t(value >> 16));
  Put16(at + 2, uint16_t(value));
}

uint32_t SumWords(const uint8_t* bytes, size_t size, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < size; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
  if (size % 2) sum += uint32_t(bytes[size - 1]) << 8;
  return sum;
}
uint16_t Fold(uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

// A MAC address made of the IPv4 address, locally administered.
void PutMac(uint8_t* at, uint32_t address) {
  at[0] = 0x02;
  at[1] = 0x00;
  Put32(at + 2, address);
}

// Blocks are written in the host's byte order; the section header's magic tells readers.
template <typename T>
void Append(std::vector<uint8_t>& out, T value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

}  // namespace

bool TracePcapWriter::Open(const std::string& path) {
  Close();
  m_failed = false;
  m_packets = 0;
  m_flows.clear();
  m_servers.clear();
  m_file = std::fopen(path.c_str(), "wb");
  if (!m_file) return false;
  std::vector<uint8_t> head;
  Append(head, kSectionHeader);
  Append(head, uint32_t(28));
  Append(head, uint32_t(0x1A2B3C4D));
  Append(head, uint16_t(1));  // version 1.0
  Append(head, uint16_t(0));
  Append(head, int64_t(-1));  // section length not given
  Append(head, uint32_t(28));
  // Interface: Ethernet, no snap length, microsecond timestamps (the default resolution).
  Append(head, kInterfaceDescription);
  Append(head, uint32_t(20));
  Append(head, kLinkEthernet);
  Append(head, uint16_t(0));
  Append(head, uint32_t(0));
  Append(head, uint32_t(20));
  return Put(head.data(), head.size());
}

std::vector<uint8_t> TracePcapWriter::Packet(const TTraceUnit& unit) {
  const TraceSource& source = unit.Connection;
  const bool rtu = source.kind == TraceSource::Kind::Rtu;
  auto [server, added] = m_servers.try_emplace(source.server, uint32_t(m_servers.size()));
  (void)added;
  const uint32_t number = server->second;
  uint32_t master = source.peerAddress, slave = source.localAddress;
  uint16_t masterPort = source.peerPort;
  if (rtu || master == 0) master = kTestNet + 1;
  if (rtu || slave == 0) slave = kTestNet + 2 + (number % 250);
  if (rtu || masterPort == 0) masterPort = uint16_t(49152 + number % 16384);
  const uint16_t slavePort = rtu ? kRtuPort : kTcpPort;
  Flow& flow = m_flows[FlowKey{source.server, master, slave, masterPort, slavePort}];

  const bool request = unit.Direction == kTraceReceived;
  const size_t kept = std::min<size_t>(unit.Length, TTraceUnit::kKeep);
  std::vector<uint8_t> packet(kHeaders + kept);
  uint8_t* eth = packet.data();
  uint8_t* ip = eth + 14;
  uint8_t* tcp = ip + 20;
  PutMac(eth, request ? slave : master);
  PutMac(eth + 6, request ? master : slave);
  Put16(eth + 12, 0x0800);

  ip[0] = 0x45;
  Put16(ip + 2, uint16_t(20 + 20 + kept));
  Put16(ip + 4, uint16_t(m_packets));
  Put16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = 6;  // TCP
  Put32(ip + 12, request ? master : slave);
  Put32(ip + 16, request ? slave : master);
  Put16(ip + 10, Fold(SumWords(ip, 20)));

  uint32_t& seq = request ? flow.masterSeq : flow.serverSeq;
  const uint32_t ack = request ? flow.serverSeq : flow.masterSeq;
  Put16(tcp, request ? masterPort : slavePort);
  Put16(tcp + 2, request ? slavePort : masterPort);
  Put32(tcp + 4, seq);
  Put32(tcp + 8, ack);
  tcp[12] = 5 << 4;
  tcp[13] = 0x18;  // PSH, ACK
  Put16(tcp + 14, 0xFFFF);
  std::memcpy(tcp + 20, unit.Data, kept);
  // The pseudo-header, then the segment.
  uint32_t sum = SumWords(ip + 12, 8);
  sum += 6 + uint32_t(20 + kept);
  Put16(tcp + 16, Fold(SumWords(tcp, 20 + kept, sum)));
  seq += uint32_t(kept);
  return packet;
}

bool TracePcapWriter::Write(const TTraceUnit& unit) {
  if (!m_file) return false;
  const std::vector<uint8_t> packet = Packet(unit);
  const uint32_t padded = uint32_t((packet.size() + 3) & ~size_t(3));
  // The listening port, when it is not the one the packet shows, as the packet's comment.
  std::string comment;
  const TraceSource& source = unit.Connection;
  if (source.kind == TraceSource::Kind::Tcp && source.localPort != 0 &&
      source.localPort != kTcpPort)
    comment = "server port " + std::to_string(source.localPort);
  const uint32_t commentPadded = uint32_t((comment.size() + 3) & ~size_t(3));
  const uint32_t options = comment.empty() ? 0 : 4 + commentPadded + 4;
  const uint32_t total = 32 + padded + options;
  const uint64_t us = uint64_t(unit.TimeUs);
  std::vector<uint8_t> block;
  block.reserve(total);
  Append(block, kEnhancedPacket);
  Append(block, total);
  Append(block, uint32_t(0));  // interface 0
  Append(block, uint32_t(us >> 32));
  Append(block, uint32_t(us));
  Append(block, uint32_t(packet.size()));
  // The frame's real length, of which at most TTraceUnit::kKeep bytes were kept.
  Append(block, uint32_t(kHeaders + unit.Length));
  block.insert(block.end(), packet.begin(), packet.end());
  block.resize(block.size() + (padded - packet.size()), 0);
  if (!comment.empty()) {
    Append(block, uint16_t(1));  // opt_comment
    Append(block, uint16_t(comment.size()));
    block.insert(block.end(), comment.begin(), comment.end());
    block.resize(block.size() + (commentPadded - comment.size()), 0);
    Append(block, uint32_t(0));  // opt_endofopt
  }
  Append(block, total);
  ++m_packets;
  return Put(block.data(), block.size());
}

bool TracePcapWriter::Put(const void* bytes, size_t size) {
  if (m_file && std::fwrite(bytes, 1, size, m_file) != size) {
    m_failed = true;
    std::fclose(m_file);
    m_file = nullptr;
  }
  return m_file != nullptr;
}

void TracePcapWriter::Flush() {
  if (m_file && std::fflush(m_file) != 0) m_failed = true;
}

bool TracePcapWriter::Close() {
  if (m_file) {
    if (std::fclose(m_file) != 0) m_failed = true;
    m_file = nullptr;
  }
  return !m_failed;
}

bool SaveTracePcap(const std::string& path,
                   const std::vector<std::shared_ptr<const TTraceUnit>>& records) {
  TracePcapWriter writer;
  if (!writer.Open(path)) return false;
  for (const auto& unit : records)
    if (unit && !writer.Write(*unit)) break;
  return writer.Close();
}

}  // namespace velkor
