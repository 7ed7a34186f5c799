#include "model/ModbusRegister.h"

#include <charconv>
#include <cstdio>
#include <iterator>

#include "model/Clock.h"
#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/TagErrors.h"
#include "model/TagRegistry.h"

namespace velkor {
namespace {

bool IsRegisterBit(const TModbusRegister& tag) {
  return tag.Type() == VarType::Bool && (tag.mSpace == kHoldingRegs || tag.mSpace == kInputRegs);
}

// A whole decimal number without sign or blanks, as the address field takes it.
uint32_t ParseUnsigned(const std::string& text, uint32_t max) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec == std::errc::invalid_argument || ptr != end)
    throw ConversionError("'" + text + "' - недопустимое целое число");
  if (ec == std::errc::result_out_of_range || value > max)
    throw OverflowError("Число " + text + " вне диапазона 0.." + std::to_string(max));
  return uint32_t(value);
}

const char* OPCQualityText(uint16_t quality) {
  switch (quality & 0xC0) {
    case 0xC0:
      return "Good";
    case 0x40:
      return "Uncertain";
    default:
      return "Bad";
  }
}

}  // namespace

TModbusRegister::TModbusRegister() : LastUpdate(NowMs()) {}

TModbusRegister::~TModbusRegister() {
  if (m_script) m_script->ClearVariables();
  // Normally a used tag is never destroyed; when a whole project goes, the users' scripts
  // must not keep pointers to it.
  for (TModbusRegister* user : TModbusRegsList(m_scriptUsers)) user->Script().ForgetTag(this);
  Registry().Remove(this);
}

void TModbusRegister::ConvertParams(VarType type) {
  if (type == VarType::DateTime || type == VarType::Bool) {
    m_paramsType = type;
    return;
  }
  Variant* params[] = {&Min,        &Max, &IncDec, &Sin.Amplitude, &Sin.Offset, &Pila.Amplitude,
                       &Pila.Offset};
  bool allMatch = true;
  for (const Variant* p : params) allMatch = allMatch && p->Type() == type;
  if (!allMatch) {
    // Convert into copies first, so a failure changes nothing.
    Variant converted[std::size(params)];
    for (size_t i = 0; i < std::size(params); ++i) converted[i] = params[i]->ConvertTo(type);
    for (size_t i = 0; i < std::size(params); ++i) *params[i] = std::move(converted[i]);
  }
  m_paramsType = type;
}

void TModbusRegister::ConvertParams() { ConvertParams(m_type); }

void TModbusRegister::SetType(uint16_t code) {
  if (!IsTagType(code)) throw VelkorError("Неизвестный тип данных " + std::to_string(code));
  const VarType type = VarType(code);
  Variant value = m_value.ConvertTo(type);
  ConvertParams(type);
  m_type = type;
  m_value = std::move(value);
}

void TModbusRegister::SetValue(const Variant& v) {
  if (v.Type() == m_type) {
    if (m_paramsType != m_type) ConvertParams(m_type);
    m_value = v;
  } else {
    Variant converted = v.ConvertTo(m_type);
    if (m_paramsType != m_type) ConvertParams(m_type);
    m_value = std::move(converted);
  }
  if (m_device) m_device->WriteTagToSpace(*this);
}

void TModbusRegister::SetValueLocked(const Variant& v) {
  if (m_device) {
    LockGuard device(m_device->DeviceLock());
    LockGuard tag(m_lock);
    SetValue(v);
  } else {
    LockGuard tag(m_lock);
    SetValue(v);
  }
}

uint32_t TModbusRegister::RegisterCount() const {
  switch (m_type) {
    case VarType::Word:
    case VarType::ShortInt:
      return 1;
    case VarType::Integer:
    case VarType::DWord:
    case VarType::Float:
      return 2;
    case VarType::Int64:
    case VarType::Double:
    case VarType::DateTime:
      return 4;
    case VarType::String:
      return m_regsCount;
    default:
      return 0;
  }
}

void TModbusRegister::SetRegsCount(uint32_t count) {
  m_regsCount = m_type == VarType::String ? std::min(count, kMaxStringRegs) : RegisterCount();
}

Variant TModbusRegister::ReadTagFromSpace() const {
  if (!m_device) return m_value;
  const TModbusSpace& space = m_device->Space();
  switch (m_type) {
    case VarType::Word:
      return Variant::OfWord(space.ReadWord(Addr, mSpace, DataFormat));
    case VarType::ShortInt:
      return Variant::OfShortInt(int16_t(space.ReadWord(Addr, mSpace, DataFormat)));
    case VarType::Integer:
      return Variant::OfInteger(int32_t(space.ReadDWord(Addr, mSpace, DataFormat)));
    case VarType::DWord:
      return Variant::OfDWord(space.ReadDWord(Addr, mSpace, DataFormat));
    case VarType::Float:
      return Variant::OfFloat(space.ReadSingle(Addr, mSpace, DataFormat));
    case VarType::Double:
      return Variant::OfDouble(space.ReadDouble(Addr, mSpace, DataFormat));
    case VarType::DateTime:
      return Variant::OfDateTime(space.ReadDouble(Addr, mSpace, DataFormat));
    case VarType::Int64:
      return Variant::OfInt64(space.ReadInt64(Addr, mSpace, DataFormat));
    case VarType::Bool:
      return Variant(space.ReadBit(Addr, BitAddr, mSpace));
    case VarType::String:
      return Variant(space.ReadString(Addr, RegisterCount(), mSpace, DataFormat));
    default:
      return m_value;
  }
}

void TModbusRegister::SetName(std::string name) {
  m_name = std::move(name);
  Registry().Reindex(this);
}

void TModbusRegister::SetPlace(TGroupClass* group, TDeviceClass* device) {
  m_group = group;
  m_device = device;
  Registry().Reindex(this);
}

std::string TModbusRegister::GroupFullName() const {
  if (m_group) return m_group->FullName();
  return m_device ? m_device->FullName() : std::string();
}

std::string TModbusRegister::FullName() const { return GroupFullName() + "." + m_name; }

bool TModbusRegister::IsInGroup(const TGroupClass* group, bool recursive) const {
  if (!m_group || !group) return false;
  return m_group == group || (recursive && group->IsSelfOrAncestorOf(m_group));
}

std::string TModbusRegister::AddressText() const {
  if (IsRegisterBit(*this)) return std::to_string(Addr) + "." + std::to_string(BitAddr);
  return std::to_string(Addr);
}

void TModbusRegister::ParseAddress(const std::string& text) {
  if (IsRegisterBit(*this)) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) throw VelkorError("Неверный формат адреса булевой переменной!");
    const uint32_t addr = ParseUnsigned(text.substr(0, dot), 65535);
    const uint32_t bit = ParseUnsigned(text.substr(dot + 1), UINT32_MAX);
    Addr = uint16_t(addr);
    BitAddr = uint8_t(std::min<uint32_t>(bit, 15));
  } else {
    Addr = uint16_t(ParseUnsigned(text, 65535));
    BitAddr = 0;
  }
}

std::string TModbusRegister::TypeName() const {
  if (m_type == VarType::String) return "String (" + std::to_string(m_regsCount) + ")";
  return VarTypeName(m_type);
}

const char* TModbusRegister::ScriptTypeName() const {
  switch (m_type) {
    case VarType::Word:
      return "Word";
    case VarType::Float:
      return "Single";
    case VarType::ShortInt:
    case VarType::Integer:
      return "Integer";
    case VarType::DWord:
      return "Cardinal";
    case VarType::Int64:
      return "Longint";
    case VarType::Bool:
      return "Boolean";
    case VarType::DateTime:
      return "TDateTime";
    case VarType::Double:
      return "Double";
    case VarType::String:
      return "String";
    default:
      return "Variant";
  }
}

std::string TModbusRegister::Caption() const {
  return m_name + " (" + AddressText() + ") - " + TypeName();
}

std::string TModbusRegister::ValueText() const {
  switch (m_type) {
    case VarType::Float:
      return FormatReal(m_value.RawReal(), 8);
    case VarType::Double:
      return FormatReal(m_value.RawReal(), 15);
    default:
      return m_value.ToString();
  }
}

std::string TModbusRegister::DisplayValue() const {
  std::string text = ValueText();
  if (DisplayMode == kDisplayHex) {
    std::string hex;
    const uint32_t regs = m_type == VarType::Bool ? 0 : RegisterCount();
    if (m_device && regs > 0 && (mSpace == kHoldingRegs || mSpace == kInputRegs)) {
      const uint32_t count = std::min<uint32_t>(regs, TModbusSpace::kStoreRegs - Addr);
      std::string bytes(size_t(count) * 2, '\0');
      {
        LockGuard lock(m_device->DeviceLock());
        // Count fits in 16 bits for every type but a long string, which reads in pieces.
        for (uint32_t done = 0; done < count;) {
          const uint16_t piece = uint16_t(std::min<uint32_t>(count - done, 0xFFFF));
          m_device->Space().ReadBlock(uint16_t(Addr + done), piece, mSpace,
                                      reinterpret_cast<uint8_t*>(bytes.data()) + done * 2);
          done += piece;
        }
      }
      char buf[4];
      for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, hex.empty() ? "%02X" : " %02X", b);
        hex += buf;
      }
    }
    text = hex + " (" + text + ")";
  }
  if (WorkType == kWorkOPC) text += std::string(" (") + OPCQualityText(OPCQuality) + ")";
  return text;
}

TScriptClass& TModbusRegister::Script() {
  if (!m_script) m_script = std::make_unique<TScriptClass>(this);
  return *m_script;
}

const TScriptClass& TModbusRegister::Script() const {
  static const TScriptClass kDefault(nullptr);
  return m_script ? *m_script : kDefault;
}

void TModbusRegister::SetError(const std::string& message) {
  m_errorText = message;
  m_errorFlag = true;
  if (m_errorQueued) return;
  m_errorQueued = true;
  TagErrors().Push({NowMs(), FullName(), message});
}

void TModbusRegister::ResetError() {
  m_errorText.clear();
  m_errorFlag = false;
  m_errorReported = false;
  m_errorQueued = false;
}

bool TModbusRegister::TakeError() {
  if (m_errorReported) return false;
  m_errorReported = m_errorFlag;
  return m_errorFlag;
}

std::unique_ptr<TModbusRegister> TModbusRegister::Clone(TDeviceClass* device,
                                                        TGroupClass* group) const {
  auto tag = std::make_unique<TModbusRegister>();
  tag->m_name = device ? device->UniqueTagName(group, m_name) : m_name;
  tag->Addr = Addr;
  tag->BitAddr = BitAddr;
  tag->mSpace = mSpace;
  tag->Description = Description;
  tag->WorkType = WorkType;
  tag->Min = Min;
  tag->Max = Max;
  tag->IncDec = IncDec;
  tag->Percent = Percent;
  tag->Period = Period;
  tag->Sin.Amplitude = Sin.Amplitude;
  tag->Sin.Period = Sin.Period;
  tag->Sin.Offset = Sin.Offset;
  tag->Pila.Amplitude = Pila.Amplitude;
  tag->Pila.Offset = Pila.Offset;
  tag->Pila.Period = Pila.Period;
  tag->Pila.pType = Pila.pType;
  tag->SetType(vType());  // the new value is 0 of the type
  tag->m_regsCount = m_regsCount;
  tag->DataFormat = DataFormat;
  tag->ProgID = ProgID;
  tag->OPCItem = OPCItem;
  tag->OPCUse = OPCUse;
  if (m_script) {
    TScriptClass& script = tag->Script();
    script.StartText = m_script->StartText;
    script.ExecuteText = m_script->ExecuteText;
    script.StopText = m_script->StopText;
    for (int i = 0; i < m_script->VariableCount(); ++i)
      script.BindVariable(m_script->VariableTags().Items(i), m_script->VariableNames()[i]);
  }
  return tag;
}

}  // namespace velkor
