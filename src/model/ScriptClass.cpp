#include "model/ScriptClass.h"

#include "model/ModbusRegister.h"

namespace velkor {

TScriptClass::Lines TScriptClass::DefaultStartText() {
  return {"//Скрипт на запуск", "begin", "end;"};
}
TScriptClass::Lines TScriptClass::DefaultExecuteText() {
  return {"//Скрипт на исполнение", "begin", "end;"};
}
TScriptClass::Lines TScriptClass::DefaultStopText() {
  return {"//Скрипт на останов", "begin", "end;"};
}

TScriptClass::TScriptClass(TModbusRegister* owner)
    : StartText(DefaultStartText()),
      ExecuteText(DefaultExecuteText()),
      StopText(DefaultStopText()),
      m_owner(owner) {}

TScriptClass::~TScriptClass() { ClearVariables(); }

void TScriptClass::BindVariable(TModbusRegister* tag, const std::string& name) {
  m_tags.Add(tag);
  m_names.push_back(name);
  tag->ScriptUsers().Add(m_owner);
}

void TScriptClass::ClearVariables() {
  for (TModbusRegister* tag : m_tags) tag->ScriptUsers().Remove(m_owner);
  m_tags.Clear();
  m_names.clear();
}

void TScriptClass::ForgetTag(const TModbusRegister* tag) {
  for (int i = m_tags.Count() - 1; i >= 0; --i) {
    if (m_tags.Items(i) != tag) continue;
    m_tags.Delete(i);
    m_names.erase(m_names.begin() + i);
  }
}

}  // namespace velkor
