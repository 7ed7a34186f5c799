#include "ui/TagEditorLogic.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "model/DeviceClass.h"
#include "model/Error.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/ModbusSpace.h"
#include "ui/MainLogic.h"

namespace velkor {

namespace {

const std::vector<std::string> kFormats16 = {"0_1", "1_0"};
const std::vector<std::string> kFormats32 = {"0_1_2_3", "1_0_3_2", "2_3_0_1", "3_2_1_0"};
const std::vector<std::string> kFormats64 = {
    "0_1_2_3_4_5_6_7", "1_0_3_2_5_4_7_6", "2_3_0_1_6_7_4_5", "3_2_1_0_7_6_5_4",
    "4_5_6_7_0_1_2_3", "5_4_7_6_1_0_3_2", "6_7_4_5_2_3_0_1", "7_6_5_4_3_2_1_0"};

FormatList ListOf(uint16_t typeCode) {
  const int index = TypeIndexOf(typeCode);
  return index < 0 ? FormatList::Bits16 : TypeItems()[size_t(index)].Formats;
}
uint8_t FirstCode(FormatList list) {
  return list == FormatList::Bits16 ? 1 : list == FormatList::Bits32 ? 3 : 7;
}
const std::vector<std::string>& FormatNames(FormatList list) {
  return list == FormatList::Bits16   ? kFormats16
         : list == FormatList::Bits32 ? kFormats32
                                      : kFormats64;
}

constexpr uint8_t kBoolSpaces[] = {kCoils, kDiscreteInputs, kHoldingRegs, kInputRegs};

unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The root group has no parent; a tag with no group at all counts as a root tag too.
bool IsRootTag(const TModbusRegister& tag) { return !tag.Group() || !tag.Group()->Parent(); }

}  // namespace

const std::array<TypeItem, kTypeItems>& TypeItems() {
  static const std::array<TypeItem, kTypeItems> items = {{
      {"Word", 18, 1, FormatList::Bits16},
      {"Float", 4, 2, FormatList::Bits32},
      {"ShortInt", 2, 1, FormatList::Bits16},
      {"Integer", 3, 2, FormatList::Bits32},
      {"DWord", 19, 2, FormatList::Bits32},
      {"Int64", 20, 4, FormatList::Bits64},
      {"Bool", 11, 0, FormatList::Bits16},
      {"DateTime", 7, 4, FormatList::Bits64},
      {"Double", 5, 4, FormatList::Bits64},
      {"String", 256, 0, FormatList::Bits16},
  }};
  return items;
}

int TypeIndexOf(uint16_t code) {
  for (int i = 0; i < kTypeItems; ++i)
    if (TypeItems()[size_t(i)].Code == code) return i;
  return -1;
}

std::vector<std::string> FormatItems(uint16_t typeCode) { return FormatNames(ListOf(typeCode)); }

uint8_t FormatCodeAt(uint16_t typeCode, int index) {
  const FormatList list = ListOf(typeCode);
  const int count = int(FormatNames(list).size());
  return uint8_t(FirstCode(list) + std::clamp(index, 0, count - 1));
}

int FormatIndexOf(uint16_t typeCode, uint8_t formatCode) {
  const FormatList list = ListOf(typeCode);
  const int index = int(formatCode) - FirstCode(list);
  return index >= 0 && index < int(FormatNames(list).size()) ? index : 1;
}

std::vector<std::string> SpaceItems(bool boolType) {
  if (boolType)
    return {"READ COIL (0x01)", "READ DISCR INPUT (0x02)", "READ HOLDING REGS (0x03)",
            "READ INPUT REGS (0x04)"};
  return {"READ HOLDING REGS (0x03)", "READ INPUT REGS (0x04)"};
}

uint8_t SpaceCodeAt(bool boolType, int index) {
  if (boolType) return kBoolSpaces[std::clamp(index, 0, 3)];
  return index <= 0 ? kHoldingRegs : kInputRegs;
}

int SpaceIndexOf(bool boolType, uint8_t space) {
  if (boolType) {
    for (int i = 0; i < 4; ++i)
      if (kBoolSpaces[i] == space) return i;
    return 0;
  }
  return space == kHoldingRegs ? 0 : 1;
}

const char* BehaviourPageCaption(int page) {
  static const char* const captions[kBehaviourPages] = {
      "Ручной ввод", "Скрипт", "OPC", "Инкремент", "Случайное число", "Sin", "Пила"};
  return captions[std::clamp(page, 0, kBehaviourPages - 1)];
}

uint8_t WorkTypeOfPage(int page) {
  static constexpr uint8_t codes[kBehaviourPages] = {
      kWorkManual, kWorkScript, kWorkOPC, kWorkIncrement, kWorkRandom, kWorkSine, kWorkSaw};
  return codes[std::clamp(page, 0, kBehaviourPages - 1)];
}

int PageOfWorkType(uint8_t workType) {
  for (int page = 0; page < kBehaviourPages; ++page)
    if (WorkTypeOfPage(page) == workType) return page;
  return PageManual;
}

std::array<bool, kBehaviourPages> PagesShown(uint16_t typeCode) {
  const bool limited = typeCode == uint16_t(VarType::Bool) || typeCode == uint16_t(VarType::String);
  return {true, true, true, !limited, !limited, !limited, !limited};
}

const std::array<const char*, 3>& OpcUseItems() {
  static const std::array<const char*, 3> items = {"Значение", "Качество", "Метка времени"};
  return items;
}

const std::array<const char*, 4>& SawTypeItems() {
  static const std::array<const char*, 4> items = {
      "Равнобедренный треугольник", "Прямоугольный треугольник", "Прямоугольный левый треугольник",
      "Прямоугольный правый треугольник"};
  return items;
}

RegsCountField RegsCountFor(uint16_t typeCode, const TModbusRegister& tag) {
  if (typeCode == uint16_t(VarType::String)) return {true, std::to_string(tag.RegsCount())};
  const int index = TypeIndexOf(typeCode);
  return {false, std::to_string(index < 0 ? 0 : TypeItems()[size_t(index)].Regs)};
}

std::vector<TModbusRegister*> TagListRows(TDeviceClass& device, const TGroupClass* group,
                                          bool allTags) {
  std::vector<TModbusRegister*> rows;
  for (const auto& tag : device.Tags()) {
    const bool take = group ? tag->IsInGroup(group, allTags) : allTags || IsRootTag(*tag);
    if (take) rows.push_back(tag.get());
  }
  return rows;
}

int CompareTagRows(const TModbusRegister& a, const TModbusRegister& b, int column) {
  if (column == ListColName) {
    const std::string& x = a.Name();
    const std::string& y = b.Name();
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
      const unsigned char cx = AsciiLower(static_cast<unsigned char>(x[i]));
      const unsigned char cy = AsciiLower(static_cast<unsigned char>(y[i]));
      if (cx != cy) return cx < cy ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : x.size() < y.size() ? -1 : 1;
  }
  if (column == ListColAddress) {
    if (a.Addr != b.Addr) return a.Addr < b.Addr ? -1 : 1;
    if (a.BitAddr != b.BitAddr) return a.BitAddr < b.BitAddr ? -1 : 1;
  }
  return 0;
}

void SortTagRows(std::vector<TModbusRegister*>& rows, int column, bool descending) {
  if (column != ListColName && column != ListColAddress) return;  // every row equal
  std::stable_sort(rows.begin(), rows.end(),
                   [column, descending](const TModbusRegister* a, const TModbusRegister* b) {
                     const int c = CompareTagRows(*a, *b, column);
                     return descending ? c > 0 : c < 0;
                   });
}

bool ParseIntText(const std::string& text, int64_t& value) {
  const std::string t = Trimmed(text);
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last && first != last;
}

bool ParseDecimalText(const std::string& text, double& value) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return ec == std::errc() && ptr == t.data() + t.size();
}

TagEditorInput ReadTagFields(TModbusRegister& tag) {
  TagEditorInput in;
  in.FullName = tag.FullName();
  in.Name = tag.Name();
  in.Description = tag.Description;
  in.Address = tag.AddressText();
  in.TypeIndex = std::max(0, TypeIndexOf(tag.vType()));
  in.Period = std::to_string(tag.Period);
  in.Percent = PercentText(tag.Percent);
  in.ConstGroup = tag.ConstGroupName;
  const bool isBool = tag.Type() == VarType::Bool;
  in.SpaceIndex = SpaceIndexOf(isBool, tag.mSpace);
  in.FormatIndex = FormatIndexOf(tag.vType(), tag.DataFormat);
  in.RegsCount = RegsCountFor(tag.vType(), tag).Text;
  in.Page = PageOfWorkType(tag.WorkType);
  if (isBool) {
    try {
      in.DefBool = tag.DefValue.ToBool();
    } catch (const VelkorError&) {
      tag.DefValue = false;
      in.DefBool = false;
    }
  } else {
    in.DefText = tag.DefValue.ToString();
  }
  in.IncDec = tag.IncDec.ToString();
  in.Min = tag.Min.ToString();
  in.Max = tag.Max.ToString();
  in.OpcServer = tag.ProgID;
  in.OpcItem = tag.OPCItem;
  in.OpcUse = std::clamp(int(tag.OPCUse), 0, 2);
  in.SinAmplitude = tag.Sin.Amplitude.ToString();
  in.SinPeriod = std::to_string(tag.Sin.Period);
  in.SinOffset = tag.Sin.Offset.ToString();
  in.SawAmplitude = tag.Pila.Amplitude.ToString();
  in.SawPeriod = std::to_string(tag.Pila.Period);
  in.SawOffset = tag.Pila.Offset.ToString();
  in.SawType = std::clamp(int(tag.Pila.pType), 0, 3);
  return in;
}

bool TagNameTaken(const TModbusRegister& tag, const std::string& fullName) {
  const TDeviceClass* device = tag.Device();
  if (!device) return false;
  for (const auto& other : device->Tags())
    if (other.get() != &tag && other->FullName() == fullName) return true;
  return false;
}

ApplyOutcome ApplyTagFields(TModbusRegister& tag, const TagEditorInput& in) {
  ApplyOutcome out;
  // 1. The name check compares full names under the tag's present path.
  if (TagNameTaken(tag, tag.GroupFullName() + "." + in.Name)) {
    out.NameTaken = true;
    return out;
  }
  // 2.
  if (in.Name != tag.Name()) tag.SetName(in.Name);
  tag.Description = in.Description;
  // 3.
  int64_t number = 0;
  if (ParseIntText(in.Period, number))
    tag.Period = number;
  else
    out.PeriodReset = true;
  // 4. Leaving the script behaviour frees the tags its script used.
  tag.DefValue = 0;
  if (tag.WorkType == kWorkScript && in.Page != PageScript && tag.HasScript())
    tag.Script().ClearVariables();
  // 5. Parameters are stored as the entered text; the type below converts them.
  switch (in.Page) {
    case PageManual:
      tag.WorkType = kWorkManual;
      if (tag.Type() == VarType::Bool)
        tag.DefValue = in.DefBool;
      else
        tag.DefValue = in.DefText;
      break;
    case PageScript:
      tag.WorkType = kWorkScript;
      break;
    case PageOPC:
      // The OPC links of the project come with the OPC value source; until then the tag
      // keeps the server's name as entered.
      tag.WorkType = kWorkOPC;
      tag.ProgID = in.OpcServer;
      tag.OPCItem = in.OpcItem;
      tag.OPCUse = uint8_t(std::clamp(in.OpcUse, 0, 2));
      break;
    case PageIncrement:
      tag.WorkType = kWorkIncrement;
      tag.IncDec = in.IncDec;
      break;
    case PageRandom:
      tag.WorkType = kWorkRandom;
      tag.Min = in.Min;
      tag.Max = in.Max;
      break;
    case PageSine:
      tag.WorkType = kWorkSine;
      tag.Sin.Amplitude = in.SinAmplitude;
      if (ParseIntText(in.SinPeriod, number)) {
        tag.Sin.Period = uint32_t(number);
        tag.Sin.Offset = in.SinOffset;
      } else {
        out.SinPeriodReset = true;
      }
      break;
    case PageSaw:
      tag.WorkType = kWorkSaw;
      tag.Pila.Amplitude = in.SawAmplitude;
      tag.Pila.Offset = in.SawOffset;
      if (ParseIntText(in.SawPeriod, number)) {
        tag.Pila.Period = uint32_t(number);
        tag.Pila.pType = uint8_t(std::clamp(in.SawType, 0, 3));
      } else {
        out.SawPeriodReset = true;
      }
      break;
    default:
      break;
  }
  // 6.
  tag.ConstGroupName = in.ConstGroup;
  // 7.
  double percent = 0;
  if (ParseDecimalText(in.Percent, percent))
    tag.Percent = float(percent);
  else
    out.PercentReset = true;
  // 8. Any conversion failure (an overflow, or a text where a number is needed) ends the
  // block with one message; what was done before it stays.
  const int typeIndex = std::clamp(in.TypeIndex, 0, kTypeItems - 1);
  const uint16_t typeCode = TypeItems()[size_t(typeIndex)].Code;
  try {
    tag.SetType(typeCode);
    bool formatOk = true;
    if (typeCode == uint16_t(VarType::String)) {
      if (ParseIntText(in.RegsCount, number) && number >= 0 &&
          number <= TModbusRegister::kMaxStringRegs)
        tag.SetRegsCount(uint32_t(number));
      else
        formatOk = false;
      out.RegsCountRejected = !formatOk;
    }
    if (formatOk) tag.DataFormat = FormatCodeAt(typeCode, in.FormatIndex);
    tag.mSpace = SpaceCodeAt(typeCode == uint16_t(VarType::Bool), in.SpaceIndex);
    try {
      tag.ParseAddress(Trimmed(in.Address));
    } catch (const VelkorError&) {
      out.AddressReset = true;
    }
  } catch (const VelkorError& e) {
    out.RangeError = e.what();
  }
  return out;
}

}  // namespace velkor
