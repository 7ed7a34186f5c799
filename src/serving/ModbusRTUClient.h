#pragma once
// Modbus RTU on a serial line. ProcessRtuFrame is the RTU counterpart of ProcessRequest: it
// checks the CRC, chooses the devices by the address byte and serves the PDU with the very
// ServePdu of the TCP path, so the function-code logic exists once; only the framing and
// the reply layouts differ. TModbusRTUClient is the serial handler a server runs: the port
// driver, whose frames go to ProcessRtuFrame and whose Write carries the replies.
//
// A frame holds at most kMaxRtuFrame bytes (address, a PDU of up to 253, CRC), so every
// request a master may send fits, up to function 16 with 123 registers and function 15 with
// 1968 coils (255 bytes each). A longer run of bytes is no Modbus frame and is dropped.

#include <cstddef>
#include <cstdint>

#include "serving/ComPort.h"
#include "serving/ModbusProcessor.h"

namespace velkor {

class TModbusTCPServer;

inline constexpr size_t kMaxRtuFrame = 256;

// Serves one received frame on behalf of a connection: traces it, drops it silently when it
// is too long, fails its CRC, is meant for another slave or a silent device; address 0 is
// served by every device without a reply.
void ProcessRtuFrame(RequestConnection& connection, const uint8_t* frame, size_t length);

class TModbusRTUClient : public TComPortDriver, public RequestConnection {
 public:
  explicit TModbusRTUClient(TModbusTCPServer& server);
  ~TModbusRTUClient() override;

  TModbusTCPServer& Server() const { return m_server; }

  // RequestConnection
  const TDevicesList& Devices() const override;
  // Writes the reply and traces it as sent, whether or not the write went through.
  bool Send(const uint8_t* bytes, size_t length) override;
  void Delay(uint32_t ms) override;
  bool Terminated() const override { return TAuxilThread::Terminated(); }
  TraceSource Source() const override;

 protected:
  void DataReceived(const uint8_t* bytes, size_t count) override;

 private:
  TModbusTCPServer& m_server;
};

}  // namespace velkor
