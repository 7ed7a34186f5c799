#include "project/Functions.h"

#include "model/Error.h"
#include "model/TextUtil.h"

namespace velkor {
namespace {

bool IsValidName(const std::string& name) {
  return !name.empty() && name.find(' ') == std::string::npos;
}

// Names are script identifiers, which the engine compares ignoring ASCII case only (its
// identifiers are ASCII), so two names clash exactly when the engine would confuse them.
template <class Items>
int IndexOfName(const Items& items, const std::string& name) {
  for (size_t i = 0; i < items.size(); ++i)
    if (EqualsIgnoreAsciiCase(items[i]->Name, name)) return int(i);
  return -1;
}

}  // namespace

const char* FunctionScriptTypeName(VarType type) {
  switch (type) {
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
    default:
      return "";
  }
}

TFuncParam* TFuncParams::Add(std::unique_ptr<TFuncParam> param) {
  if (!IsValidName(param->Name)) throw VelkorError("Некоррктное имя функции");
  if (IndexOf(param->Name) >= 0) throw VelkorError("Параметр с таким именем уже существует");
  m_items.push_back(std::move(param));
  return m_items.back().get();
}

int TFuncParams::IndexOf(const std::string& name) const { return IndexOfName(m_items, name); }

std::string TFunction::HeaderLine() const {
  std::string line = "function " + Name;
  if (Params.Count() > 0) {
    line += "( ";
    for (int i = 0; i < Params.Count(); ++i) {
      const TFuncParam& param = *Params.Items(i);
      line += param.Name;
      if (const std::string type = FunctionScriptTypeName(param.Type); !type.empty())
        line += ":" + type + "; ";
    }
    line += ")";
  }
  if (const std::string type = FunctionScriptTypeName(RetType); !type.empty())
    line += ":" + type + "; ";
  return line;
}

TFunction* TFunctions::Add(std::unique_ptr<TFunction> function) {
  if (!IsValidName(function->Name)) throw VelkorError("Некоррктное имя функции");
  if (IndexOf(function->Name) >= 0) throw VelkorError("Функция с таким именем уже существует");
  m_items.push_back(std::move(function));
  return m_items.back().get();
}

int TFunctions::IndexOf(const std::string& name) const { return IndexOfName(m_items, name); }

std::vector<std::string> TFunctions::ScriptLines() const {
  std::vector<std::string> lines;
  for (const auto& function : m_items) {
    lines.push_back(function->HeaderLine());
    lines.insert(lines.end(), function->Text.begin(), function->Text.end());
  }
  return lines;
}

}  // namespace velkor
