#pragma once
// The rules of the tag editor ("Настройки" page), apart from its widgets: which rows the
// tag list holds and in which order, what each drop-down lists and which code an item
// stands for, which behaviour pages a type allows, and what "Принять" writes in which
// order. The editor's fields are plain texts and indices (TagEditorInput), so the tests
// walk these rules as tables and the widget only copies fields in and out.
//
// "Принять" is deliberately not transactional: every step keeps its effect when a later
// one fails, and a failure resets only its own field (the widget shows the tag again).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

class TDeviceClass;
class TGroupClass;
class TModbusRegister;
class TConstGroups;

// "Тип данных": index -> type code, register count, byte-order list.
enum class FormatList : uint8_t { Bits16, Bits32, Bits64 };
struct TypeItem {
  const char* Text;
  uint16_t Code;
  uint32_t Regs;  // String: the tag's own count
  FormatList Formats;
};
inline constexpr int kTypeItems = 10;
const std::array<TypeItem, kTypeItems>& TypeItems();
inline constexpr int kStringTypeIndex = 9;
inline constexpr int kBoolTypeIndex = 6;
// The item of a type code; -1 for a code that is no tag type.
int TypeIndexOf(uint16_t code);

// "Формат данных" for a type code: the items, the code of an item, and the item of a code
// (a code not in the list gives the second item).
std::vector<std::string> FormatItems(uint16_t typeCode);
uint8_t FormatCodeAt(uint16_t typeCode, int index);
int FormatIndexOf(uint16_t typeCode, uint8_t formatCode);

// "Пространство": the Bool list (coils first) or the register list.
std::vector<std::string> SpaceItems(bool boolType);
uint8_t SpaceCodeAt(bool boolType, int index);
int SpaceIndexOf(bool boolType, uint8_t space);

// Behaviour pages in their order, and the behaviour code of each.
enum BehaviourPage : int {
  PageManual,
  PageScript,
  PageOPC,
  PageIncrement,
  PageRandom,
  PageSine,
  PageSaw,
  kBehaviourPages
};
const char* BehaviourPageCaption(int page);
uint8_t WorkTypeOfPage(int page);
int PageOfWorkType(uint8_t workType);
// Bool and String allow manual, script and OPC only.
std::array<bool, kBehaviourPages> PagesShown(uint16_t typeCode);

const std::array<const char*, 3>& OpcUseItems();
const std::array<const char*, 4>& SawTypeItems();

// "Кол-во регистров" for the selected type: enabled for String only.
struct RegsCountField {
  bool Enabled = false;
  std::string Text;
};
RegsCountField RegsCountFor(uint16_t typeCode, const TModbusRegister& tag);

// The tag list: the device's tags in device order that belong to the group (or, with "Все
// теги", lie below it); without a group the tags with no group (or all).
std::vector<TModbusRegister*> TagListRows(TDeviceClass& device, const TGroupClass* group,
                                          bool allTags);
// Column 0 by name (Latin letters without case), column 1 by register then bit, other
// columns equal; negated when descending. Stable, so equal rows keep the device order.
enum TagListColumn : int { ListColName, ListColAddress, ListColType, ListColBehaviour };
void SortTagRows(std::vector<TModbusRegister*>& rows, int column, bool descending);
int CompareTagRows(const TModbusRegister& a, const TModbusRegister& b, int column);

// Everything the editor shows, as texts and indices.
struct TagEditorInput {
  std::string FullName;
  std::string Name, Description, Address;
  int TypeIndex = 0;
  std::string Period, Percent;
  std::string ConstGroup;  // "" for the empty item
  int SpaceIndex = 0;
  int FormatIndex = 0;
  std::string RegsCount;
  int Page = PageManual;
  std::string DefText = "0";
  bool DefBool = false;  // "True" selected
  std::string IncDec = "1", Min, Max;
  std::string OpcServer, OpcItem;
  int OpcUse = 0;
  std::string SinAmplitude, SinPeriod, SinOffset;
  std::string SawAmplitude, SawPeriod, SawOffset;
  int SawType = 0;
};

// ShowTag: the fields of a tag. A Bool tag whose default value is no Boolean gets false
// (the one write ShowTag makes).
TagEditorInput ReadTagFields(TModbusRegister& tag);

struct ApplyOutcome {
  bool NameTaken = false;  // nothing was applied
  bool PeriodReset = false;
  bool SinPeriodReset = false;
  bool SawPeriodReset = false;
  bool PercentReset = false;
  bool RegsCountRejected = false;
  bool AddressReset = false;
  std::string RangeError;  // the failure that ended the type block, empty when none
};

// "Принять". Writes the fields into the tag in the fixed order; the caller shows
// "Тег с таким именем уже существует" for NameTaken and "Проверьте диапазон вводимых
// данных" for a RangeError, then rebuilds the list.
ApplyOutcome ApplyTagFields(TModbusRegister& tag, const TagEditorInput& in);

// Whether another tag of the tag's device has this full name.
bool TagNameTaken(const TModbusRegister& tag, const std::string& fullName);

// Text parsing as the editor takes it: a whole decimal number / a decimal with ".".
bool ParseIntText(const std::string& text, int64_t& value);
bool ParseDecimalText(const std::string& text, double& value);

}  // namespace velkor
