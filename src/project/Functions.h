#pragma once
// User functions: compiled into every tag script, so scripts share code. Names ignore
// ASCII letter case, as script identifiers do; an add that would make a name invalid or a
// duplicate fails with the error the project reader lets stop a load.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Variant.h"

namespace velkor {

// The script type name of a data type ("Integer" for ShortInt and Integer, ...), or "" for
// a type that has none (String, and codes of no data type read from a file).
const char* FunctionScriptTypeName(VarType type);

struct TFuncParam {
  std::string Name;
  VarType Type = VarType::Word;
};

class TFuncParams {
 public:
  // Throws VelkorError "Некоррктное имя функции" (sic: the text users know) for an empty
  // name or one with a blank, "Параметр с таким именем уже существует" for a duplicate.
  TFuncParam* Add(std::unique_ptr<TFuncParam> param);
  int IndexOf(const std::string& name) const;  // ignoring ASCII case; -1 when absent
  int Count() const { return int(m_items.size()); }
  TFuncParam* Items(int i) const { return m_items[size_t(i)].get(); }
  void Remove(int i) { m_items.erase(m_items.begin() + i); }

 private:
  std::vector<std::unique_ptr<TFuncParam>> m_items;
};

inline constexpr uint8_t kConventionStdcall = 3;

class TFunction {
 public:
  TFuncParams Params;
  std::vector<std::string> Text{"begin", "end;"};
  std::string Name;
  bool Extern = false;
  std::string ExtPath;
  VarType RetType = VarType::Word;
  uint8_t Convention = kConventionStdcall;

  // "function Add( a:Integer; b:Integer; ):Double; " (the blanks are part of the form).
  std::string HeaderLine() const;
};

class TFunctions {
 public:
  // Throws "Некоррктное имя функции" or "Функция с таким именем уже существует".
  TFunction* Add(std::unique_ptr<TFunction> function);
  int IndexOf(const std::string& name) const;
  int Count() const { return int(m_items.size()); }
  TFunction* Items(int i) const { return m_items[size_t(i)].get(); }
  void Remove(int i) { m_items.erase(m_items.begin() + i); }
  void Clear() { m_items.clear(); }
  // Every function's HeaderLine followed by its text, in list order: the start of every
  // tag script's program.
  std::vector<std::string> ScriptLines() const;

 private:
  std::vector<std::unique_ptr<TFunction>> m_items;
};

}  // namespace velkor
