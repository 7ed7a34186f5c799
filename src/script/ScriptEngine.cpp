#include "script/ScriptEngine.h"

#include <algorithm>

#include "script/Compiler.h"
#include "script/Lexer.h"
#include "script/Parser.h"
#include "script/Vm.h"

namespace velkor {
namespace {

// A host value stored in a variable of type t, converted as an assignment would.
void StoreAs(Value& slot, const Type* t, const Variant& v) {
  switch (t->kind) {
    case TypeKind::Int: {
      const int64_t x = v.ToInt64();
      const IntRange r = RangeOf(t->scalar);
      if (x < r.low || x > r.high)
        throw OverflowError("Value " + std::to_string(x) + " is outside " + t->name);
      SetInt(slot, x);
      return;
    }
    case TypeKind::Real:
      SetReal(slot, t->scalar == Scalar::Single     ? v.ConvertTo(VarType::Float).RawReal()
                    : t->scalar == Scalar::DateTime ? v.ConvertTo(VarType::DateTime).RawReal()
                                                    : v.ToDouble());
      return;
    case TypeKind::Bool:
      SetBool(slot, v.ToBool());
      return;
    case TypeKind::Char: {
      const std::string text = v.ToString();
      if (text.size() != 1) throw ConversionError("'" + text + "' is not one character");
      SetChar(slot, static_cast<unsigned char>(text[0]));
      return;
    }
    case TypeKind::Str:
      SetStr(slot, std::string_view(v.ConvertTo(VarType::String).RawText()));
      return;
    case TypeKind::Variant:
      FromVariant(slot, v);
      return;
    default:
      throw VelkorError("A value cannot be assigned to a variable of type " + t->name);
  }
}

Variant LoadAs(const Value& slot, const Type* t) {
  switch (t->kind) {
    case TypeKind::Int:
      switch (t->scalar) {
        case Scalar::Word:
          return Variant::OfWord(uint16_t(slot.i));
        case Scalar::UInt32:
          return Variant::OfDWord(uint32_t(slot.i));
        case Scalar::Int8:
        case Scalar::Int16:
          return Variant::OfShortInt(int16_t(slot.i));
        case Scalar::Byte:
        case Scalar::Int32:
          return Variant::OfInteger(int32_t(slot.i));
        default:
          return Variant::OfInt64(slot.i);
      }
    case TypeKind::Real:
      if (t->scalar == Scalar::Single) return Variant::OfFloat(float(slot.d));
      if (t->scalar == Scalar::DateTime) return Variant::OfDateTime(slot.d);
      return Variant::OfDouble(slot.d);
    case TypeKind::Bool:
      return Variant(slot.i != 0);
    case TypeKind::Char:
      return Variant(std::string(1, char(slot.i)));
    case TypeKind::Str:
      return Variant(TextOf(slot));
    case TypeKind::Variant:
      return ToVariant(slot);
    default:
      return Variant::Null();
  }
}

void DefaultOf(Value& slot, const Type* t) {
  switch (t->kind) {
    case TypeKind::Int:
      SetInt(slot, 0);
      return;
    case TypeKind::Real:
      SetReal(slot, 0.0);
      return;
    case TypeKind::Bool:
      SetBool(slot, false);
      return;
    case TypeKind::Char:
      SetChar(slot, 0);
      return;
    case TypeKind::Str:
      SetStr(slot, nullptr);
      return;
    default:
      SetEmpty(slot);
      return;
  }
}

}  // namespace

struct ScriptEngine::Impl {
  std::vector<std::string> lines;
  std::vector<GlobalVar> info;
  std::vector<Value> values;
  std::unique_ptr<Program> program;
  int initFunction = -1;
  bool compiled = false;
  std::string errorMsg;
  int errorLine = 0, errorColumn = 0;
  Vm vm;
  int64_t budget = kDefaultStepBudget;
  std::shared_ptr<const std::atomic<bool>> stop;

  ~Impl() { ClearValues(); }

  void ClearValues() {
    for (Value& v : values) Release(v);
    values.clear();
    info.clear();
  }

  int Find(const std::string& name) const {
    const std::string lower = ToLowerAscii(name);
    for (size_t k = 0; k < info.size(); ++k)
      if (info[k].name == lower) return int(k);
    return -1;
  }

  int Declare(const std::string& name, const Type* type, bool fromHost) {
    GlobalVar g;
    g.name = ToLowerAscii(name);
    g.display = name;
    g.type = type;
    g.fromHost = fromHost;
    info.push_back(std::move(g));
    values.push_back(Value{});
    DefaultOf(values.back(), type);
    return int(values.size()) - 1;
  }

  // Drops the globals of the previous program, keeping the host's in their order.
  void DropProgramGlobals() {
    values.resize(info.size(), Value{});  // a failed compilation declared without values
    size_t out = 0;
    for (size_t k = 0; k < info.size(); ++k) {
      if (!info[k].fromHost) {
        Release(values[k]);
        continue;
      }
      if (out != k) {
        info[out] = std::move(info[k]);
        values[out] = values[k];
      }
      ++out;
    }
    info.resize(out);
    values.resize(out);
  }

  void Forget() {
    compiled = false;
    vm.Attach(nullptr, nullptr);
    program.reset();
  }
};

ScriptEngine::ScriptEngine() : m_impl(std::make_unique<Impl>()) {}
ScriptEngine::~ScriptEngine() = default;

const std::string& ScriptEngine::Dialect() const {
  static const std::string kDialect = "PascalScript";
  return kDialect;
}

void ScriptEngine::Clear() {
  m_impl->Forget();
  m_impl->ClearValues();
  m_impl->lines.clear();
  m_impl->errorMsg.clear();
  m_impl->errorLine = m_impl->errorColumn = 0;
}

void ScriptEngine::AddVariable(const std::string& name, const std::string& typeName,
                               const Variant& value) {
  if (m_impl->Find(name) >= 0) return;
  const Type* type = HostVariableType(typeName);
  const int k = m_impl->Declare(name, type, true);
  try {
    StoreAs(m_impl->values[size_t(k)], type, value);
  } catch (const VelkorError&) {
    DefaultOf(m_impl->values[size_t(k)], type);  // a value that does not fit starts at zero
  }
}

void ScriptEngine::SetLines(std::vector<std::string> lines) { m_impl->lines = std::move(lines); }

bool ScriptEngine::Compile() {
  Impl& d = *m_impl;
  d.Forget();
  d.errorMsg.clear();
  d.errorLine = d.errorColumn = 0;
  d.DropProgramGlobals();
  std::string text;
  for (const std::string& line : d.lines) text.append(line).append("\n");
  try {
    Parser parser(text);
    const ProgramAst ast = parser.ParseProgram();
    CompiledProgram compiled = CompileProgram(ast, d.info);
    d.program = std::move(compiled.program);
    d.initFunction = compiled.initFunction;
  } catch (const CompileError& e) {
    d.errorMsg = e.message;
    d.errorLine = e.pos.line;
    d.errorColumn = e.pos.column;
    d.DropProgramGlobals();
    return false;
  } catch (const VelkorError& e) {
    d.errorMsg = e.what();
    d.errorLine = d.errorColumn = 1;
    d.DropProgramGlobals();
    return false;
  }
  while (d.values.size() < d.info.size()) d.values.push_back(Value{});
  d.vm.Attach(d.program.get(), &d.values);
  d.vm.SetBudget(d.budget);
  try {
    Value ignored{};
    d.vm.Call(d.initFunction, ignored);
    Release(ignored);
  } catch (const ScriptError& e) {
    d.errorMsg = e.what();
    d.errorLine = e.Line();
    d.errorColumn = 1;
    d.Forget();
    return false;
  }
  d.compiled = true;
  return true;
}

const std::string& ScriptEngine::ErrorMsg() const { return m_impl->errorMsg; }
std::string ScriptEngine::ErrorPos() const {
  return std::to_string(m_impl->errorLine) + ":" + std::to_string(m_impl->errorColumn);
}
int ScriptEngine::ErrorLine() const { return m_impl->errorLine; }
int ScriptEngine::ErrorColumn() const { return m_impl->errorColumn; }

void ScriptEngine::SetVariable(const std::string& name, const Variant& value) {
  int k = m_impl->Find(name);
  if (k < 0) k = m_impl->Declare(name, StdType(Scalar::Variant), true);
  StoreAs(m_impl->values[size_t(k)], m_impl->info[size_t(k)].type, value);
}

Variant ScriptEngine::GetVariable(const std::string& name) const {
  const int k = m_impl->Find(name);
  if (k < 0) return Variant::Null();
  return LoadAs(m_impl->values[size_t(k)], m_impl->info[size_t(k)].type);
}

int ScriptEngine::VariableIndex(const std::string& name) const { return m_impl->Find(name); }

void ScriptEngine::SetVariableAt(int index, const Variant& value) {
  StoreAs(m_impl->values.at(size_t(index)), m_impl->info[size_t(index)].type, value);
}

Variant ScriptEngine::GetVariableAt(int index) const {
  return LoadAs(m_impl->values.at(size_t(index)), m_impl->info[size_t(index)].type);
}

Variant ScriptEngine::CallFunction(const std::string& name) {
  Impl& d = *m_impl;
  if (!d.compiled) return Variant::Null();
  const std::string lower = ToLowerAscii(name);
  for (size_t k = 0; k < d.program->functions.size(); ++k) {
    const FunctionCode& fn = *d.program->functions[k];
    if (fn.level != 1 || fn.name != lower || fn.numParams != 0) continue;
    d.vm.SetBudget(d.budget);
    Value result{};
    d.vm.Call(int(k), result);
    const Variant out = LoadAs(result, fn.resultType);
    Release(result);
    return out;
  }
  return Variant::Null();
}

void ScriptEngine::RunMain() {
  Impl& d = *m_impl;
  if (!d.compiled) throw ScriptError("The program is not compiled", 0);
  d.vm.SetBudget(d.budget);
  Value result{};
  d.vm.Call(d.program->mainFunction, result);
  Release(result);
}

void ScriptEngine::SetShowMessageHandler(std::function<void(const std::string&)> handler) {
  m_impl->vm.showMessage = std::move(handler);
}

void ScriptEngine::SetStepBudget(int64_t steps) { m_impl->budget = steps; }

void ScriptEngine::SetStopFlag(std::shared_ptr<const std::atomic<bool>> stop) {
  m_impl->stop = std::move(stop);
  m_impl->vm.SetStopFlag(m_impl->stop.get());
}

}  // namespace velkor
