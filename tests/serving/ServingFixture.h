#pragma once
// Helpers shared by the serving tests: hex texts for frames, a recorder of the trace (how a
// test sees that a server took a frame), and a server with three devices (unit 1
// answering, unit 2 silent, unit 3 answering) with known table contents.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../TestUtil.h"
#include "model/DeviceClass.h"
#include "runtime/Tracer.h"
#include "serving/ModbusProcessor.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

inline std::string HexText(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
    out += buf;
  }
  return out;
}

// A connection without a socket or line: it records the replies and the delays asked for.
class RecordingConnection : public RequestConnection {
 public:
  explicit RecordingConnection(const TDevicesList& devices,
                               TraceSource::Kind kind = TraceSource::Kind::Tcp)
      : m_devices(devices), m_kind(kind) {}
  const TDevicesList& Devices() const override { return m_devices; }
  bool Send(const uint8_t* bytes, size_t length) override {
    sent.emplace_back(bytes, bytes + length);
    return true;
  }
  void Delay(uint32_t ms) override { delays.push_back(ms); }
  bool Terminated() const override { return terminated; }
  TraceSource Source() const override { return {m_kind, nullptr}; }

  std::vector<Bytes> sent;
  std::vector<uint32_t> delays;
  bool terminated = false;

 private:
  const TDevicesList& m_devices;
  TraceSource::Kind m_kind;
};

// Installs a tracer for its lifetime and keeps every record it delivers.
class TraceRecorder {
 public:
  TraceRecorder() {
    SetTracer(&m_tracer);
    m_tracer.SetOnTrace([this](const std::shared_ptr<const TTraceUnit>& unit) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_units.push_back(unit);
    });
    m_tracer.SetEnabled(true);
  }
  ~TraceRecorder() { Stop(); }
  // Ends delivery (joins the tracer's thread); what was delivered stays readable.
  void Stop() {
    if (m_stopped) return;
    m_stopped = true;
    SetTracer(nullptr);
    m_tracer.StopThread();
  }
  std::vector<std::shared_ptr<const TTraceUnit>> Units() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_units;
  }
  size_t Count(uint8_t direction) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const auto& unit : m_units) n += unit->Direction == direction;
    return n;
  }
  // Waits until the server has taken n frames (requests, before any check).
  bool WaitReceived(size_t n) {
    return testing::WaitUntil([&] { return Count(kTraceReceived) >= n; });
  }

 private:
  mutable std::mutex m_lock;  // declared before the tracer, whose thread uses it
  std::vector<std::shared_ptr<const TTraceUnit>> m_units;
  bool m_stopped = false;
  TTracer m_tracer;
};

class ServingTest : public ::testing::Test {
 protected:
  ServingTest() {
    server.SetName("S");
    for (int unit : {1, 2, 3}) {
      auto device = std::make_unique<TDeviceClass>();
      device->SetName("D" + std::to_string(unit));
      device->Number = uint8_t(unit);
      devices.push_back(server.Devices().Add(std::move(device)));
    }
    devices[1]->NoReply = true;
    for (TDeviceClass* d : devices) {
      TModbusSpace& s = d->Space();
      for (uint16_t r = 0; r < 10; ++r) s.WriteWord(r, kHoldingRegs, 2, uint16_t(0x0100 + r));
      s.WriteWord(0, kInputRegs, 2, 0xBEEF);
      s.WriteBit(0, 0, kCoils, true);
      s.WriteBit(2, 0, kCoils, true);
      s.WriteBit(1, 0, kDiscreteInputs, true);
    }
  }

  uint16_t Reg(int device, uint16_t addr) {
    return devices[size_t(device)]->Space().ReadWord(addr, kHoldingRegs, 2);
  }
  bool Coil(int device, uint16_t addr) {
    return devices[size_t(device)]->Space().ReadBit(addr, 0, kCoils);
  }
  // The one reply a request got, or "" when nothing was sent.
  static std::string OnlyReply(const RecordingConnection& connection) {
    EXPECT_LE(connection.sent.size(), 1u);
    return connection.sent.empty() ? "" : HexText(connection.sent[0]);
  }

  TModbusTCPServer server;
  std::vector<TDeviceClass*> devices;
};

}  // namespace velkor
