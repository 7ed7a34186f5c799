#include "serving/ModbusProcessor.h"

#include <algorithm>
#include <cstring>

#include "runtime/Random.h"
#include "serving/Crc16.h"

namespace velkor {
namespace {

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

// What a function needs before its checks can run: the bytes after the function code.
size_t HeaderBytes(uint8_t function) {
  switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      return 4;
    case 15:
    case 16:
      return 5;
    case 22:
      return 6;
    default:
      return 0;
  }
}

bool IsServed(uint8_t function) { return HeaderBytes(function) != 0; }

enum class Check { Pass, Fail, TooShort };

// The checks of a request whose function is served; TooShort when the PDU lacks the
// fields the checks (or, for 15 and 16, the data they announce) need.
Check CheckPdu(std::span<const uint8_t> pdu) {
  const size_t length = pdu.size();
  const uint8_t function = pdu[0];
  if (length < 1 + HeaderBytes(function)) return Check::TooShort;
  const uint8_t* d = pdu.data() + 1;
  const uint16_t quantity = Be16(d + 2);
  switch (function) {
    case 1:
    case 2:
      return quantity >= 1 && quantity <= 2000 ? Check::Pass : Check::Fail;
    case 3:
    case 4:
      return quantity >= 1 && quantity <= 125 ? Check::Pass : Check::Fail;
    case 5:
      return quantity == 0x0000 || quantity == 0xFF00 ? Check::Pass : Check::Fail;
    case 15:
    case 16: {
      const uint8_t byteCount = d[4];
      const bool ok = function == 15
                          ? quantity >= 1 && quantity <= 1968 && byteCount == (quantity + 7) / 8
                          : quantity >= 1 && quantity <= 123 && byteCount == 2 * quantity;
      if (!ok) return Check::Fail;
      return length < 6u + byteCount ? Check::TooShort : Check::Pass;
    }
    default:
      return Check::Pass;  // 6, 22
  }
}

// The framing's own check of a received frame, before anything in it is read.
bool FramingAccepts(const Framing& framing, std::span<const uint8_t> frame) {
  switch (framing.finish) {
    case Framing::Finish::LengthField:
      // Header and function code at least; the length field must match what arrived.
      return frame.size() > framing.header && Be16(frame.data() + 4) == frame.size() - 6;
    case Framing::Finish::Crc:
      return frame.size() <= kMaxRtuFrame && CheckCrc16(frame.data(), frame.size());
  }
  return false;
}

size_t Trailer(const Framing& framing) { return framing.finish == Framing::Finish::Crc ? 2 : 0; }

// Completes a reply whose header and PDU are in place; returns its whole length.
size_t FinishReply(const Framing& framing, uint8_t* reply, size_t pduLength) {
  switch (framing.finish) {
    case Framing::Finish::LengthField:
      PutBe16(reply + 4, uint16_t(pduLength + 1));  // the unit and the PDU
      return framing.header + pduLength;
    case Framing::Finish::Crc:
      return AppendCrc16(reply, framing.header + pduLength);
  }
  return 0;
}

// The longest header of a framing (MBAP).
constexpr size_t kMaxHeader = 7;

}  // namespace

bool PduChecksPass(std::span<const uint8_t> pdu) {
  return !pdu.empty() && IsServed(pdu[0]) && CheckPdu(pdu) == Check::Pass;
}

PduReply ServePdu(TDeviceClass& device, std::span<const uint8_t> pdu, std::span<uint8_t> reply,
                  size_t& replyLength) {
  replyLength = 0;
  if (pdu.empty() || !IsServed(pdu[0])) return PduReply::None;
  const uint8_t function = pdu[0];
  switch (CheckPdu(pdu)) {
    case Check::TooShort:
      return PduReply::None;
    case Check::Fail:
      return PduReply::Exception;
    case Check::Pass:
      break;
  }
  const uint8_t* d = pdu.data() + 1;
  const uint16_t start = Be16(d);
  const uint16_t quantity = Be16(d + 2);
  TModbusSpace& space = device.Space();
  switch (function) {
    case 1:
    case 2:
    case 3:
    case 4: {
      const bool bits = function <= 2;
      const uint8_t spaceCode = function == 1   ? kCoils
                                : function == 2 ? kDiscreteInputs
                                : function == 3 ? kHoldingRegs
                                                : kInputRegs;
      const size_t byteCount = bits ? (quantity + 7u) / 8u : 2u * quantity;
      reply[0] = function;
      reply[1] = uint8_t(byteCount);
      std::memset(reply.data() + 2, 0, byteCount);
      {
        LockGuard lock(device.DeviceLock());
        space.ReadBlock(start, quantity, spaceCode, reply.data() + 2);
      }
      replyLength = 2 + byteCount;
      return PduReply::Read;
    }
    case 5: {
      LockGuard lock(device.DeviceLock());
      space.WriteBit(start, 0, kCoils, quantity == 0xFF00);
      return PduReply::Echo;
    }
    case 6: {
      LockGuard lock(device.DeviceLock());
      space.WriteBlock(start, 1, kHoldingRegs, d + 2);
      return PduReply::Echo;
    }
    case 15: {
      const uint8_t* data = d + 5;
      // One hold for the whole request, so an update pass never sees half of it.
      LockGuard lock(device.DeviceLock());
      for (uint32_t k = 0; k < quantity; ++k)
        space.WriteBit(uint16_t(start + k), 0, kCoils, ((data[k >> 3] >> (k & 7)) & 1) != 0);
      return PduReply::Write;
    }
    case 16: {
      LockGuard lock(device.DeviceLock());
      space.WriteBlock(start, quantity, kHoldingRegs, d + 5);
      return PduReply::Write;
    }
    case 22: {
      const uint16_t andMask = Be16(d + 2);
      const uint16_t orMask = Be16(d + 4);
      LockGuard lock(device.DeviceLock());
      uint8_t reg[2];
      space.ReadBlock(start, 1, kHoldingRegs, reg);
      uint8_t result[2];
      PutBe16(result, uint16_t((orMask & ~andMask) | (andMask & Be16(reg))));
      space.WriteBlock(start, 1, kHoldingRegs, result);
      return PduReply::Echo;
    }
    default:
      return PduReply::None;
  }
}

uint32_t DrawReplyDelay(uint32_t replyTimeout, uint32_t replyTimeoutTo) {
  const uint32_t lo = std::min(replyTimeout, replyTimeoutTo);
  const uint32_t hi = std::max(replyTimeout, replyTimeoutTo);
  return lo + RandomBelow(hi - lo);
}

size_t BuildExceptionReply(uint8_t* frame, uint8_t exceptionCode, bool withCrc) {
  frame[1] = uint8_t(frame[1] | 0x80);
  frame[2] = exceptionCode;
  return withCrc ? AppendCrc16(frame, 3) : 3;
}

void ServeFrame(RequestConnection& connection, const Framing& framing,
                std::span<const uint8_t> frame) {
  AddTrace(frame.data(), frame.size(), connection.Source(), kTraceReceived);
  const size_t header = framing.header;
  if (header == 0 || header > kMaxHeader || frame.size() < header + Trailer(framing)) return;
  if (!FramingAccepts(framing, frame)) return;
  const uint8_t unit = frame[header - 1];
  const std::span<const uint8_t> pdu =
      frame.subspan(header, frame.size() - header - Trailer(framing));
  uint8_t reply[kMaxHeader + kMaxReplyPdu + 2];
  const std::span<uint8_t> replyPdu(reply + header, kMaxReplyPdu);
  size_t replyLength = 0;

  if (unit == 0) {
    // Broadcast: every device in list order, no delay, no reply; the checks do not depend
    // on the device, so a failing one stops before any device is changed.
    if (!PduChecksPass(pdu)) return;
    for (const auto& device : connection.Devices()) {
      if (connection.Terminated()) return;
      ServePdu(*device, pdu, replyPdu, replyLength);
    }
    return;
  }

  TDeviceClass* device = connection.Devices().FindByNumber(unit);
  if (!device || device->NoReply.load(std::memory_order_relaxed)) return;
  if (const uint32_t delay =
          DrawReplyDelay(device->ReplyTimeout.load(), device->ReplyTimeoutTo.load()))
    connection.Delay(delay);
  if (connection.Terminated()) return;

  switch (ServePdu(*device, pdu, replyPdu, replyLength)) {
    case PduReply::None:
      return;
    case PduReply::Echo:
      connection.Send(frame.data(), frame.size());
      return;
    case PduReply::Write:  // header, function code, start and quantity of the request
      std::memcpy(reply, frame.data(), header + 5);
      connection.Send(reply, FinishReply(framing, reply, 5));
      return;
    case PduReply::Read:  // built fresh: MBAP keeps the transaction id, protocol id 0
      std::memset(reply, 0, header);
      std::memcpy(reply, frame.data(), framing.kept);
      reply[header - 1] = unit;
      connection.Send(reply, FinishReply(framing, reply, replyLength));
      return;
    case PduReply::Exception: {  // over the request: its header as received
      std::memcpy(reply, frame.data(), header + 1);
      const size_t fromUnit = BuildExceptionReply(reply + header - 1, kIllegalDataValue, false);
      connection.Send(reply, FinishReply(framing, reply, fromUnit - 1));
      return;
    }
  }
}

}  // namespace velkor
