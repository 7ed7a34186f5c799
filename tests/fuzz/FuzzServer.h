#pragma once
// What the serving fuzzers share: one server for the whole run (its tables keep what
// earlier inputs wrote, which only widens what later reads see), and a connection that
// checks every reply against the request it answers and aborts on a malformed one.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "serving/Crc16.h"
#include "serving/ModbusProcessor.h"
#include "serving/ModbusTCPServer.h"

namespace velkor::fuzz {

// Unit 1 answers, unit 2 is silent, unit 3 answers after a (recorded, not waited) delay,
// and a second unit 1 must never be reached.
inline TModbusTCPServer& Server() {
  static TModbusTCPServer* server = [] {
    auto* s = new TModbusTCPServer;  // lives as long as the process
    for (int unit : {1, 2, 3, 1}) {
      auto device = std::make_unique<TDeviceClass>();
      device->Number = uint8_t(unit);
      s->Devices().Add(std::move(device));
    }
    s->Devices().Items(1)->NoReply = true;
    s->Devices().Items(2)->ReplyTimeout = 5;
    s->Devices().Items(2)->ReplyTimeoutTo = 50;
    return s;
  }();
  return *server;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "reply check failed: %s\n", what);
  std::abort();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

class CheckingConnection : public RequestConnection {
 public:
  explicit CheckingConnection(const Framing& framing) : m_framing(framing) {}

  // The request being served, for the checks of its reply.
  void Serving(std::span<const uint8_t> request) { m_request = request; }

  const TDevicesList& Devices() const override { return Server().Devices(); }
  bool Send(const uint8_t* bytes, size_t length) override {
    const size_t header = m_framing.header;
    const bool crc = m_framing.finish == Framing::Finish::Crc;
    Check(m_request.size() > header, "a reply to a request without a function code");
    Check(length >= header + 2 + (crc ? 2 : 0), "reply too short");
    // An echo is the request as received, whatever its length; anything else is built.
    const bool echo =
        length == m_request.size() && std::memcmp(bytes, m_request.data(), length) == 0;
    if (!echo) Check(length <= header + kMaxReplyPdu + (crc ? 2 : 0), "reply too long");
    Check(bytes[header - 1] == m_request[header - 1], "reply from another unit");
    Check(bytes[header - 1] == 1 || bytes[header - 1] == 3, "only units 1 and 3 answer");
    const uint8_t function = m_request[header];
    Check(bytes[header] == function || bytes[header] == (function | 0x80),
          "reply with another function code");
    if (crc) {
      Check(CheckCrc16(bytes, length), "reply CRC");
    } else {
      Check(bytes[0] == m_request[0] && bytes[1] == m_request[1], "transaction id not copied");
      Check(size_t(bytes[4] << 8 | bytes[5]) + 6 == length, "length field");
    }
    if (bytes[header] & 0x80) Check(bytes[header + 1] == kIllegalDataValue, "exception code");
    ++replies;
    return true;
  }
  void Delay(uint32_t ms) override { Check(ms >= 5 && ms < 50, "reply delay out of bounds"); }
  bool Terminated() const override { return false; }
  TraceSource Source() const override { return {}; }

  size_t replies = 0;

 private:
  const Framing& m_framing;
  std::span<const uint8_t> m_request;
};

}  // namespace velkor::fuzz
