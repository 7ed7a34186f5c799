#pragma once
// Serving one Modbus request against the devices of a server: bytes in, bytes out. The
// function-code logic (checks, limits, table access, reply content) lives in ServePdu; one
// dispatch, ServeFrame, adds what both framings share: device choice by unit, broadcast,
// silent devices, the reply delay and the reply layouts. A framing is only data: how many
// bytes precede the function code, which of them a fresh reply keeps, and whether a reply
// is finished by the MBAP length field or by a CRC. Nothing here knows sockets: a
// connection is the small interface below, so the logic is tested with plain byte tables.
//
// Every length is checked before it is used: a PDU too short for the fields its function
// needs is dropped without a reply; nothing is ever read past the received bytes.

#include <cstddef>
#include <cstdint>
#include <span>

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
// The longest RTU frame served: address, a PDU of up to 253 bytes, CRC. Every request a
// master may send fits, up to function 16 with 123 registers and function 15 with 1968
// coils (255 bytes each); a longer run of bytes is no Modbus frame and is dropped.
inline constexpr size_t kMaxRtuFrame = 256;

// How a request frame wraps its PDU and how a reply is finished.
struct Framing {
  enum class Finish {
    LengthField,  // MBAP: the 16-bit length at offset 4 counts the bytes after it
    Crc,          // RTU: CRC-16 after the PDU, low byte first
  };
  size_t header;  // bytes before the function code; the last of them is the unit
  size_t kept;    // header bytes a freshly built (read) reply copies: the transaction id
  Finish finish;
};

inline constexpr Framing kMbapFraming{7, 2, Framing::Finish::LengthField};
inline constexpr Framing kRtuFraming{1, 0, Framing::Finish::Crc};

enum class PduReply {
  None,       // dropped: unsupported function, or too short to serve
  Read,       // reply PDU built in `reply`
  Echo,       // the request itself is the reply (5, 6, 22)
  Write,      // start and quantity of the request are the reply (15, 16)
  Exception,  // a check failed: exception 03, built over the request by the framing
};

// Serves one PDU (function code first) on a device, taking the device lock for the table
// access. `reply` must hold kMaxReplyPdu bytes; `replyLength` is set for Read.
PduReply ServePdu(TDeviceClass& device, std::span<const uint8_t> pdu, std::span<uint8_t> reply,
                  size_t& replyLength);
// Only checks the request (for broadcasts: a failed check stops the whole broadcast).
bool PduChecksPass(std::span<const uint8_t> pdu);

// Serves one request frame on behalf of a connection: traces it, drops it when the framing
// refuses it (MBAP length field, CRC, size), chooses the devices by unit (0 is broadcast to
// all, unanswered), applies NoReply and the reply delay, and sends the reply.
void ServeFrame(RequestConnection& connection, const Framing& framing,
                std::span<const uint8_t> frame);
// One Modbus TCP ADU.
inline void ProcessRequest(RequestConnection& connection, std::span<const uint8_t> adu) {
  ServeFrame(connection, kMbapFraming, adu);
}
// One Modbus RTU frame (address, PDU, CRC).
inline void ProcessRtuFrame(RequestConnection& connection, std::span<const uint8_t> frame) {
  ServeFrame(connection, kRtuFraming, frame);
}

// Turns a request into its exception reply in place (from the unit identifier or address
// on): function code | 0x80, then the code. Returns 3, or 5 with the CRC appended.
size_t BuildExceptionReply(uint8_t* frame, uint8_t exceptionCode, bool withCrc);

// The reply delay of a device for one request: uniform in [min, max) of the two bounds,
// exactly the bound when both are equal; 0 when both are 0.
uint32_t DrawReplyDelay(uint32_t replyTimeout, uint32_t replyTimeoutTo);

}  // namespace velkor
