#pragma once
// Serving one Modbus request against the devices of a server: bytes in, bytes out. The
// function-code logic (checks, limits, table access, reply content) lives in ServePdu,
// shared by the TCP and RTU framings; ProcessRequest adds the MBAP layout, device choice,
// broadcast, silent devices and the reply delay. Nothing here knows sockets: a connection
// is the small interface below, so the logic is tested with plain byte tables.
//
// Every length is checked before it is used: a PDU too short for the fields its function
// needs is dropped without a reply; nothing is ever read past the received bytes.

#include <cstddef>
#include <cstdint>

#include "model/DeviceClass.h"
#include "runtime/Tracer.h"

namespace velkor {

// What the processor needs of the connection that received a request.
class RequestConnection {
 public:
  virtual ~RequestConnection() = default;
  // The devices this connection serves (its server's).
  virtual const TDevicesList& Devices() const = 0;
  // Sends one reply and traces it once it has gone out; false when the connection failed
  // (it then stops and closes itself).
  virtual bool Send(const uint8_t* bytes, size_t length) = 0;
  // The reply delay: waits `ms`, returning early when the connection is being stopped.
  virtual void Delay(uint32_t ms) = 0;
  virtual bool Terminated() const = 0;
  virtual TraceSource Source() const = 0;
};

inline constexpr uint8_t kIllegalDataValue = 0x03;
// The largest reply PDU: function code, byte count and 250 bytes of 2000 coils or 125 regs.
inline constexpr size_t kMaxReplyPdu = 253;

enum class PduReply {
  None,       // dropped: unsupported function, or too short to serve
  Read,       // reply PDU built in `reply`
  Echo,       // the request itself is the reply (5, 6, 22)
  Write,      // start and quantity of the request are the reply (15, 16)
  Exception,  // reply PDU (function | 0x80, 03) built in `reply`
};

// Serves one PDU (function code first) on a device, taking the device lock for the table
// access. `reply` must hold kMaxReplyPdu bytes.
PduReply ServePdu(TDeviceClass& device, const uint8_t* pdu, size_t length, uint8_t* reply,
                  size_t& replyLength);
// Only checks the request (for broadcasts: a failed check stops the whole broadcast).
bool PduChecksPass(const uint8_t* pdu, size_t length);

// Serves one Modbus TCP ADU on behalf of a connection.
void ProcessRequest(RequestConnection& connection, const uint8_t* adu, size_t length);

// The reply delay of a device for one request: uniform in [min, max) of the two bounds,
// exactly the bound when both are equal; 0 when both are 0.
uint32_t DrawReplyDelay(uint32_t replyTimeout, uint32_t replyTimeoutTo);

}  // namespace velkor
