#include "serving/ModbusRTUClient.h"

#include <cstring>

#include "serving/Crc16.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {

void ProcessRtuFrame(RequestConnection& connection, const uint8_t* frame, size_t length) {
  AddTrace(frame, length, connection.Source(), kTraceReceived);
  if (length > kMaxRtuFrame || !CheckCrc16(frame, length)) return;
  const uint8_t address = frame[0];
  const uint8_t* pdu = frame + 1;
  const size_t pduLength = length - 3;  // without the address and the CRC
  uint8_t reply[1 + kMaxReplyPdu + 2];
  size_t replyPdu = 0;

  if (address == 0) {
    // As over TCP: a failing check stops the broadcast before any device is changed.
    if (!PduChecksPass(pdu, pduLength)) return;
    for (const auto& device : connection.Devices()) {
      if (connection.Terminated()) return;
      ServePdu(*device, pdu, pduLength, reply + 1, replyPdu);
    }
    return;
  }

  TDeviceClass* device = connection.Devices().FindByNumber(address);
  if (!device || device->NoReply.load(std::memory_order_relaxed)) return;
  if (const uint32_t delay =
          DrawReplyDelay(device->ReplyTimeout.load(), device->ReplyTimeoutTo.load()))
    connection.Delay(delay);
  if (connection.Terminated()) return;

  switch (ServePdu(*device, pdu, pduLength, reply + 1, replyPdu)) {
    case PduReply::None:
      return;
    case PduReply::Echo:
      connection.Send(frame, length);
      return;
    case PduReply::Write:
      std::memcpy(reply, frame, 6);
      connection.Send(reply, AppendCrc16(reply, 6));
      return;
    case PduReply::Read:
      reply[0] = address;
      connection.Send(reply, AppendCrc16(reply, 1 + replyPdu));
      return;
    case PduReply::Exception: {
      const uint8_t code = reply[2];  // ServePdu left (function | 0x80, code) after the address
      std::memcpy(reply, frame, 2);
      connection.Send(reply, BuildExceptionReply(reply, code, true));
      return;
    }
  }
}

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
  ProcessRtuFrame(*this, bytes, count);
}

}  // namespace velkor
