#pragma once
// A tag: a named, typed value placed in one of its device's tables with a byte order.
// The value lives in memory as a variant of the tag's type and is written into the
// device's space every time it is set; the update pass reads it back, so a master's write
// becomes the value. Plain settings are public fields; what has invariants behind it
// (the value and type, the name that the registry indexes, the place in the tree, the
// error state) goes through methods.

#include <cstdint>
#include <memory>
#include <string>

#include "model/Locks.h"
#include "model/ModbusRegsList.h"
#include "model/ScriptClass.h"
#include "model/Variant.h"
#include "model/Waveforms.h"

namespace velkor {

class TDeviceClass;
class TGroupClass;

// Behaviour codes (WorkType).
inline constexpr uint8_t kWorkIncrement = 0;
inline constexpr uint8_t kWorkRandom = 1;
inline constexpr uint8_t kWorkManual = 2;
inline constexpr uint8_t kWorkSine = 3;
inline constexpr uint8_t kWorkSaw = 4;
inline constexpr uint8_t kWorkScript = 5;
inline constexpr uint8_t kWorkOPC = 6;

inline constexpr uint8_t kDisplayDecimal = 0;
inline constexpr uint8_t kDisplayHex = 1;

class TModbusRegister {
 public:
  // A String tag never reaches past the reserve behind the register table.
  static constexpr uint32_t kMaxStringRegs = 65535;

  TModbusRegister();
  ~TModbusRegister();
  TModbusRegister(const TModbusRegister&) = delete;
  TModbusRegister& operator=(const TModbusRegister&) = delete;

  // The fields the update pass touches on every cycle come first, so a pass over a big
  // project reads few cache lines per tag.
 private:
  TCritSection m_lock;
  VarType m_type = VarType::Word;
  VarType m_paramsType = VarType::Empty;  // the type the parameters were last brought to
  uint32_t m_regsCount = 0;
  Variant m_value = Variant::OfWord(0);
  TDeviceClass* m_device = nullptr;

 public:
  uint16_t Addr = 0;
  uint8_t BitAddr = 0;
  uint8_t mSpace = 0;
  uint8_t DataFormat = 2;
  uint8_t WorkType = kWorkManual;
  uint8_t OPCUse = 0;
  uint8_t DisplayMode = kDisplayDecimal;
  float Percent = 0;
  int64_t Period = 100;  // ms
  int64_t LastUpdate;    // ms since 1601, time of the last behaviour step
  Variant Min = 0;
  Variant Max = 0;
  Variant IncDec = 1;
  TSinClass Sin;
  TPilaClass Pila;
  Variant DefValue = 0;
  Variant LastOPCValue;
  uint16_t OPCQuality = 0;
  std::string Description;
  std::string ProgID;
  std::string OPCItem;
  std::string ConstGroupName;

  // Value and type.
  const Variant& GetValue() const { return m_value; }
  // Converts to the tag's type and writes the registers; on a failed conversion throws
  // and leaves value and registers as they were.
  void SetValue(const Variant& v);
  // SetValue from outside the update pass: device lock, then tag lock (the lock order).
  void SetValueLocked(const Variant& v);
  uint16_t vType() const { return uint16_t(m_type); }
  VarType Type() const { return m_type; }
  // Stores the type and converts the value and, for types other than DateTime and Bool,
  // the behaviour parameters; throws (changing nothing) when one does not convert.
  void SetType(uint16_t code);
  uint32_t RegsCount() const { return m_regsCount; }
  uint32_t RegisterCount() const;
  void SetRegsCount(uint32_t count);
  // Brings the behaviour parameters (Min, Max, IncDec, the generators' amplitudes and
  // offsets) to the tag's type; throws, changing nothing, when one does not convert.
  // SetType does it, and so does the first SetValue after it. The parameters are plain
  // fields and live far from the value, so the update pass does not check them on every
  // read-back: a behaviour step calls this first, and so does whoever shows or saves
  // parameters that were assigned without a SetType.
  void ConvertParams();

  // Registers <-> value (callers hold the device lock; the update pass does).
  Variant ReadTagFromSpace() const;

  // Place in the tree.
  const std::string& Name() const { return m_name; }
  void SetName(std::string name);
  TGroupClass* Group() const { return m_group; }
  TDeviceClass* Device() const { return m_device; }
  // Only the tag lists set the place; the registry index follows.
  void SetPlace(TGroupClass* group, TDeviceClass* device);
  std::string FullName() const;
  std::string GroupFullName() const;
  bool IsInGroup(const TGroupClass* group, bool recursive) const;

  // Texts.
  std::string AddressText() const;
  void ParseAddress(const std::string& text);
  std::string TypeName() const;
  const char* ScriptTypeName() const;
  std::string Caption() const;
  std::string ValueText() const;
  // In hex mode takes the device lock to read the registers: call it holding the device
  // lock or no lock, never the tag lock alone (the lock order).
  std::string DisplayValue() const;

  // Script. Most tags never get one, so it is created on first change; until then the
  // const view is the default script.
  TScriptClass& Script();
  const TScriptClass& Script() const;
  bool HasScript() const { return m_script != nullptr; }
  TModbusRegsList& ScriptUsers() { return m_scriptUsers; }
  const TModbusRegsList& ScriptUsers() const { return m_scriptUsers; }

  // Error state of behaviour steps. The first error after a reset is also pushed onto
  // TagErrors(), which is how front ends learn of it.
  void SetError(const std::string& message);
  void ResetError();
  bool TakeError();
  bool HasError() const { return m_errorFlag; }
  const std::string& ErrorText() const { return m_errorText; }

  // Tag lock (guards the value and the behaviour state).
  void LockTag() { m_lock.lock(); }
  bool TryLockTag() { return m_lock.try_lock(); }
  void UnlockTag() { m_lock.unlock(); }
  TCritSection& Lock() { return m_lock; }

  // A copy with a unique name in the destination and the settings, texts and variable
  // bindings of this tag, but not its value, default value, constant group or error
  // state. The caller adds it to the device and the registry.
  std::unique_ptr<TModbusRegister> Clone(TDeviceClass* device, TGroupClass* group) const;

  uint64_t RegistrySeq() const { return m_regSeq; }

 private:
  friend class TTagRegistry;
  void ConvertParams(VarType type);

  std::string m_name;
  TGroupClass* m_group = nullptr;
  std::unique_ptr<TScriptClass> m_script;
  TModbusRegsList m_scriptUsers;
  std::string m_errorText;
  bool m_errorFlag = false;
  bool m_errorReported = false;
  bool m_errorQueued = false;  // pushed onto TagErrors() since the last reset
  uint64_t m_regSeq = 0;  // registry order; 0 while not registered
  std::string m_regKey;   // the full name the registry indexed this tag under
};

}  // namespace velkor
