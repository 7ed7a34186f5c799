#pragma once
// The script of a tag: its three texts and the tags bound to its variables. A binding and
// the bound tag's script-user entry are made and removed together, which is what stops a
// tag that a script uses from being deleted. Compiling and running live with the script
// engine, above this layer.

#include <memory>
#include <string>
#include <vector>

#include "model/ModbusRegsList.h"

namespace velkor {

class TModbusRegister;

// The compiled form of a script; its type belongs to the layer that compiles, so that an
// engine is owned, and destroyed, with its tag's script.
class TScriptEngineSlot {
 public:
  virtual ~TScriptEngineSlot() = default;
};

class TScriptClass {
 public:
  explicit TScriptClass(TModbusRegister* owner);
  ~TScriptClass();
  TScriptClass(const TScriptClass&) = delete;
  TScriptClass& operator=(const TScriptClass&) = delete;

  using Lines = std::vector<std::string>;
  Lines StartText;
  Lines ExecuteText;
  Lines StopText;
  bool Compiled = false;
  // Not copied by Clone: a copy compiles its own.
  std::unique_ptr<TScriptEngineSlot> Engine;

  TModbusRegister* Owner() const { return m_owner; }
  const TModbusRegsList& VariableTags() const { return m_tags; }
  const std::vector<std::string>& VariableNames() const { return m_names; }
  int VariableCount() const { return m_tags.Count(); }

  // Appends the binding and puts the owner on the tag's script users.
  void BindVariable(TModbusRegister* tag, const std::string& name);
  // Withdraws the owner from every bound tag's script users, then forgets the bindings.
  void ClearVariables();
  // Drops the bindings to a tag that is being destroyed (its user list goes with it).
  void ForgetTag(const TModbusRegister* tag);

  static Lines DefaultStartText();
  static Lines DefaultExecuteText();
  static Lines DefaultStopText();

 private:
  TModbusRegister* m_owner;
  TModbusRegsList m_tags;
  std::vector<std::string> m_names;
};

}  // namespace velkor
