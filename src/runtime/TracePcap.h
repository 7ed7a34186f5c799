#pragma once
// Trace records as a pcapng capture that Wireshark opens with no settings. Each frame is
// wrapped in synthetic Ethernet, IPv4 and TCP headers: a Modbus TCP frame travels between
// the master's real address and port and the server's address on the Modbus TCP port, so
// the Modbus/TCP dissector takes it; a Modbus RTU frame (with its CRC) travels on a port of
// its own, which the Modbus/RTU dissector takes once its "RTU over TCP" port preference is
// set to it. Sequence numbers run on per connection, so Wireshark sees one clean stream.
// The headers are made here, not captured: nothing reaches the serving threads but the
// addresses the connection already copied into its TraceSource.

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/Tracer.h"

namespace velkor {

class TracePcapWriter {
 public:
  // Wireshark's port for Modbus/TCP, so it needs no settings; a server listening elsewhere
  // is named in the packet's comment ("server port N").
  static constexpr uint16_t kTcpPort = 502;
  // The port RTU frames travel on (Wireshark: Modbus/RTU, "Modbus/RTU port").
  static constexpr uint16_t kRtuPort = 5028;

  TracePcapWriter() = default;
  ~TracePcapWriter() { Close(); }
  TracePcapWriter(const TracePcapWriter&) = delete;
  TracePcapWriter& operator=(const TracePcapWriter&) = delete;

  // Creates (or empties) the file and writes the section and interface headers.
  bool Open(const std::string& path);
  bool IsOpen() const { return m_file != nullptr; }
  // One packet per record; false after a write error (the file is closed then).
  bool Write(const TTraceUnit& unit);
  void Flush();
  // Flushes and closes; false when anything failed to reach the file.
  bool Close();
  uint64_t Packets() const { return m_packets; }

  // The packet bytes of one record (Ethernet frame), advancing its connection's sequence
  // numbers; public for the tests that check the headers.
  std::vector<uint8_t> Packet(const TTraceUnit& unit);

 private:
  struct Flow {
    uint32_t masterSeq = 1;
    uint32_t serverSeq = 1;
  };
  using FlowKey = std::tuple<const void*, uint32_t, uint32_t, uint16_t, uint16_t>;
  bool Put(const void* bytes, size_t size);

  std::FILE* m_file = nullptr;
  bool m_failed = false;
  uint64_t m_packets = 0;
  std::map<FlowKey, Flow> m_flows;
  std::map<const void*, uint32_t> m_servers;  // a number per server for unknown addresses
};

// Writes the records to a new capture file; false when it cannot be written.
bool SaveTracePcap(const std::string& path,
                   const std::vector<std::shared_ptr<const TTraceUnit>>& records);

}  // namespace velkor
