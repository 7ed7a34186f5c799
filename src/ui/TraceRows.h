#pragma once
// The trace window's rules apart from its widgets: which records a filter lets through,
// the texts of a row, the function-code entries, the depth a user may enter and which
// commands are enabled. Plain inputs and outputs, so the tests walk them as tables.
//
// Choices the window makes where users would otherwise be surprised:
// - the unit and function-code filters apply only while a device is chosen, and the
//   function-code box is disabled otherwise, so a chosen code never seems to be ignored;
// - an exception reply counts as its request's function code (0x83 as 0x03), so a filtered
//   read shows its failures too;
// - a depth is a whole number from 1 to kMaxTraceDepth: zero or less would keep records
//   without bound while showing none, so it is refused like any other bad entry.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/Tracer.h"

namespace velkor {

struct TraceFilter {
  const void* Server = nullptr;  // frames of other servers are hidden; null: all servers
  bool HasDevice = false;        // a device is chosen: the next two apply
  uint8_t Unit = 0;              // the device's Number
  uint8_t Function = 0;          // the chosen function code; 0: all
};

// Whether the window shows the record under the filter (records of an unknown kind never).
bool TraceRecordShown(const TTraceUnit& unit, const TraceFilter& filter);

struct TraceRow {
  std::string Time;       // "dd.MM.yyyy h:mm:ss"
  std::string Direction;  // "Rec" or "Send"
  std::string Header;     // a complete TCP frame's 6 MBAP bytes before the unit, else empty
  std::string Data;       // the rest; "(CRC Error!) <bytes>" for an RTU frame failing its CRC
};
TraceRow BuildTraceRow(const TTraceUnit& unit);

// Bytes as two upper-case hexadecimal digits each, separated by single blanks.
std::string HexBytes(const uint8_t* bytes, size_t length);
// Length equals the MBAP length field + 6.
bool IsCompleteTcpFrame(const TTraceUnit& unit);

struct CmdFilterEntry {
  const char* Text;
  uint8_t Function;  // 0: no filter
};
extern const std::array<CmdFilterEntry, 10> kCmdFilterEntries;

inline constexpr int32_t kMaxTraceDepth = 1000000;
// The depth an entry of the depth box sets, or none when it is to be ignored.
std::optional<int32_t> ParseTraceDepth(std::string_view text);

// Enabled states of the window's commands.
struct TraceCommands {
  bool TraceOn = true;    // "Включить"
  bool TraceOff = true;   // "Выключить"
  bool Clear = true;      // ClearButton, "Очистить"
  bool Depth = true;      // DepthButton, "Глубина"
  bool SaveOn = true;     // "Включить сохранение в файл"
  bool SaveOff = true;    // "Выключить сохранение в файл"
  bool CmdFilter = true;  // CmdFilterBox
  bool operator==(const TraceCommands&) const = default;
};
TraceCommands TraceCommandsFor(bool tracing, bool saving, bool deviceChosen);

}  // namespace velkor
