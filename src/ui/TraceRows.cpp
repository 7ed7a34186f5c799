#include "ui/TraceRows.h"

#include <algorithm>
#include <charconv>

#include "model/OleDate.h"
#include "serving/Crc16.h"

namespace velkor {
namespace {

size_t Kept(const TTraceUnit& unit) { return std::min<size_t>(unit.Length, TTraceUnit::kKeep); }

bool RtuCrcOk(const TTraceUnit& unit) { return CheckCrc16(unit.Data, Kept(unit)); }

// The unit (or address) and function code of a frame, when it has them.
bool FunctionMatches(const TTraceUnit& unit, size_t at, uint8_t function) {
  if (function == 0) return true;
  return Kept(unit) > at && (unit.Data[at] & 0x7F) == function;
}

}  // namespace

const std::array<CmdFilterEntry, 10> kCmdFilterEntries = {{
    {"Все команды", 0},
    {"READ COIL (0x01)", 0x01},
    {"READ DISCR INPUT (0x02)", 0x02},
    {"READ HOLDING REGS (0x03)", 0x03},
    {"READ INPUT REGS (0x04)", 0x04},
    {"WRITE SINGLE COIL (0x05)", 0x05},
    {"WRITE SINGLE REG (0x06)", 0x06},
    {"WRITE MULTI COILS (0x0F)", 0x0F},
    {"WRITE MULTI REGS (0x10)", 0x10},
    {"WRITE MASK REG (0x16)", 0x16},
}};

std::string HexBytes(const uint8_t* bytes, size_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0xF];
  }
  return text;
}

bool IsCompleteTcpFrame(const TTraceUnit& unit) {
  if (Kept(unit) < 6) return false;
  const uint32_t length = uint32_t(unit.Data[4]) << 8 | unit.Data[5];
  return unit.Length == length + 6;
}

bool TraceRecordShown(const TTraceUnit& unit, const TraceFilter& filter) {
  const TraceSource& source = unit.Connection;
  if (source.kind != TraceSource::Kind::Tcp && source.kind != TraceSource::Kind::Rtu) return false;
  if (filter.Server && source.server != filter.Server) return false;
  if (!filter.HasDevice) return true;
  if (source.kind == TraceSource::Kind::Tcp) {
    if (!IsCompleteTcpFrame(unit)) return true;
    return unit.Data[6] == filter.Unit && FunctionMatches(unit, 7, filter.Function);
  }
  // A frame failing its CRC is always shown: its address and code cannot be trusted.
  if (!RtuCrcOk(unit)) return true;
  return unit.Data[0] == filter.Unit && FunctionMatches(unit, 1, filter.Function);
}

TraceRow BuildTraceRow(const TTraceUnit& unit) {
  TraceRow row;
  row.Time = FormatDateTime(unit.Time, true);
  row.Direction = unit.Direction == kTraceReceived ? "Rec" : "Send";
  const size_t kept = Kept(unit);
  if (unit.Connection.kind == TraceSource::Kind::Tcp && IsCompleteTcpFrame(unit)) {
    row.Header = HexBytes(unit.Data, 6);
    row.Data = HexBytes(unit.Data + 6, kept - 6);
  } else if (unit.Connection.kind == TraceSource::Kind::Rtu && !RtuCrcOk(unit)) {
    row.Data = "(CRC Error!) " + HexBytes(unit.Data, kept);
  } else {
    row.Data = HexBytes(unit.Data, kept);
  }
  return row;
}

std::optional<int32_t> ParseTraceDepth(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (value < 1 || value > kMaxTraceDepth) return {};
  return int32_t(value);
}

TraceCommands TraceCommandsFor(bool tracing, bool saving, bool deviceChosen) {
  TraceCommands c;
  c.TraceOn = !tracing;
  c.TraceOff = tracing;
  c.Clear = !tracing;
  c.Depth = !tracing;
  c.SaveOn = !saving;
  c.SaveOff = saving;
  c.CmdFilter = deviceChosen;
  return c;
}

}  // namespace velkor
