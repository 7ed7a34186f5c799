#include "serving/ModbusProcessor.h"

#include <algorithm>
#include <cstring>

#include "runtime/Random.h"

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
Check CheckPdu(const uint8_t* pdu, size_t length) {
  const uint8_t function = pdu[0];
  if (length < 1 + HeaderBytes(function)) return Check::TooShort;
  const uint8_t* d = pdu + 1;
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

}  // namespace

bool PduChecksPass(const uint8_t* pdu, size_t length) {
  return length >= 1 && IsServed(pdu[0]) && CheckPdu(pdu, length) == Check::Pass;
}

PduReply ServePdu(TDeviceClass& device, const uint8_t* pdu, size_t length, uint8_t* reply,
                  size_t& replyLength) {
  replyLength = 0;
  if (length < 1 || !IsServed(pdu[0])) return PduReply::None;
  const uint8_t function = pdu[0];
  switch (CheckPdu(pdu, length)) {
    case Check::TooShort:
      return PduReply::None;
    case Check::Fail:
      reply[0] = uint8_t(function | 0x80);
      reply[1] = kIllegalDataValue;
      replyLength = 2;
      return PduReply::Exception;
    case Check::Pass:
      break;
  }
  const uint8_t* d = pdu + 1;
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
      std::memset(reply + 2, 0, byteCount);
      {
        LockGuard lock(device.DeviceLock());
        space.ReadBlock(start, quantity, spaceCode, reply + 2);
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

void ProcessRequest(RequestConnection& connection, const uint8_t* adu, size_t length) {
  const TraceSource source = connection.Source();
  AddTrace(adu, length, source, kTraceReceived);
  // MBAP header, unit and function code; the length field must match what arrived.
  if (length < 8 || Be16(adu + 4) != length - 6) return;
  const uint8_t unit = adu[6];
  const uint8_t* pdu = adu + 7;
  const size_t pduLength = length - 7;
  uint8_t reply[7 + kMaxReplyPdu];
  size_t replyPdu = 0;

  if (unit == 0) {
    // Broadcast: every device in list order, no delay, no reply; the checks do not depend
    // on the device, so a failing one stops before any device is changed.
    if (!PduChecksPass(pdu, pduLength)) return;
    for (const auto& device : connection.Devices()) {
      if (connection.Terminated()) return;
      ServePdu(*device, pdu, pduLength, reply + 7, replyPdu);
    }
    return;
  }

  TDeviceClass* device = connection.Devices().FindByNumber(unit);
  if (!device || device->NoReply.load(std::memory_order_relaxed)) return;
  if (const uint32_t delay =
          DrawReplyDelay(device->ReplyTimeout.load(), device->ReplyTimeoutTo.load()))
    connection.Delay(delay);
  if (connection.Terminated()) return;

  switch (ServePdu(*device, pdu, pduLength, reply + 7, replyPdu)) {
    case PduReply::None:
      return;
    case PduReply::Echo:
      connection.Send(adu, length);
      return;
    case PduReply::Write:
      std::memcpy(reply, adu, 12);
      PutBe16(reply + 4, 6);
      connection.Send(reply, 12);
      return;
    case PduReply::Read:
      std::memcpy(reply, adu, 2);
      PutBe16(reply + 2, 0);
      PutBe16(reply + 4, uint16_t(replyPdu + 1));
      reply[6] = unit;
      connection.Send(reply, 7 + replyPdu);
      return;
    case PduReply::Exception:
      std::memcpy(reply, adu, 4);
      PutBe16(reply + 4, 3);
      reply[6] = unit;
      connection.Send(reply, 9);
      return;
  }
}

}  // namespace velkor
