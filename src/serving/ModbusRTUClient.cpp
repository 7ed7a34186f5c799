#include "serving/ModbusRTUClient.h"

#include "serving/ModbusTCPServer.h"

namespace velkor {

TModbusRTUClient::TModbusRTUClient(TModbusTCPServer& server) : m_server(server) {}

TModbusRTUClient::~TModbusRTUClient() { StopThread(); }

const TDevicesList& TModbusRTUClient::Devices() const { return m_server.Devices(); }

TraceSource TModbusRTUClient::Source() const {
  return TraceSource{TraceSource::Kind::Rtu, &m_server};
}

bool TModbusRTUClient::Send(const uint8_t* bytes, size_t length) {
  Write(bytes, length);
  AddTrace(bytes, length, Source(), kTraceSent);
  return true;
}

void TModbusRTUClient::Delay(uint32_t ms) {
  WakeEvent.Wait(std::chrono::milliseconds(ms));
  WakeEvent.ResetEvent();
}

void TModbusRTUClient::DataReceived(const uint8_t* bytes, size_t count) {
  ProcessRtuFrame(*this, {bytes, count});
}

}  // namespace velkor
