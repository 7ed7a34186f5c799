#pragma once
// Modbus RTU on a serial line: the serial handler a server runs. It is the port driver,
// whose frames go to ProcessRtuFrame (the request path of TCP with the RTU framing: address
// and CRC) and whose Write carries the replies.

#include <cstddef>
#include <cstdint>

#include "serving/ComPort.h"
#include "serving/ModbusProcessor.h"

namespace velkor {

class TModbusTCPServer;

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
