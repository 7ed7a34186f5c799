#include "simulation/TagScripts.h"

#include "model/Error.h"
#include "runtime/Log.h"
#include "script/ScriptEngine.h"

namespace velkor {
namespace {

const char* const kFunctionNames[] = {"ScriptStart", "ScriptExecute", "ScriptStop"};

struct TagEngine : TScriptEngineSlot {
  ScriptEngine Engine;
  // Of NoReply, self and the bound variables in order, found after each compilation so
  // that a run moves values without looking names up.
  std::vector<int> Slots;
  std::vector<std::string> SlotNames;  // the bound names the slots were found for
};

TagEngine* SlotOf(const TModbusRegister& tag) {
  return tag.HasScript() ? dynamic_cast<TagEngine*>(tag.Script().Engine.get()) : nullptr;
}

Variant ValueOf(TModbusRegister& tag) {
  LockGuard lock(tag.Lock());
  return tag.GetValue();
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
  to.insert(to.end(), lines.begin(), lines.end());
}

}  // namespace

const char* ScriptKindName(ScriptKind kind) {
  switch (kind) {
    case ScriptKind::Start:
      return "start";
    case ScriptKind::Execute:
      return "execute";
    case ScriptKind::Stop:
      return "stop";
    case ScriptKind::Program:
      break;
  }
  return "program";
}

TagScripts::TagScripts()
    : m_stepBudget(kDefaultStepBudget), m_stop(std::make_shared<std::atomic<bool>>(false)) {}
TagScripts::~TagScripts() = default;

ScriptEngine* TagScripts::FindEngine(const TModbusRegister& tag) {
  TagEngine* slot = SlotOf(tag);
  return slot ? &slot->Engine : nullptr;
}

ScriptEngine& TagScripts::EngineOf(TModbusRegister& tag) {
  auto& slot = tag.Script().Engine;
  auto* engine = dynamic_cast<TagEngine*>(slot.get());
  if (!engine) {
    auto made = std::make_unique<TagEngine>();
    engine = made.get();
    engine->Engine.SetShowMessageHandler([handler = m_showMessage](const std::string& text) {
      if (*handler)
        (*handler)(text);
      else
        LogMessage(text);
    });
    slot = std::move(made);
  }
  engine->Engine.SetStepBudget(m_stepBudget);
  engine->Engine.SetStopFlag(m_stop);
  return engine->Engine;
}

ScriptCompileResult TagScripts::Compile(TModbusRegister& tag, const Lines& functionsLines,
                                        const Lines* execute, const Lines* start,
                                        const Lines* stop) {
  TScriptClass& script = tag.Script();
  const Lines& executeText = execute ? *execute : script.ExecuteText;
  const Lines& startText = start ? *start : script.StartText;
  const Lines& stopText = stop ? *stop : script.StopText;

  ScriptEngine& engine = EngineOf(tag);
  SlotOf(tag)->Slots.clear();
  engine.Clear();
  engine.AddVariable("self", tag.ScriptTypeName(), ValueOf(tag));
  engine.AddVariable("NoReply", "Boolean", Variant(false));
  const TModbusRegsList& tags = script.VariableTags();
  for (int i = 0; i < script.VariableCount(); ++i) {
    TModbusRegister* bound = tags.Items(i);
    engine.AddVariable(script.VariableNames()[size_t(i)], bound->ScriptTypeName(), ValueOf(*bound));
  }

  ScriptCompileResult result;
  auto failed = [&](ScriptKind kind, int linesBefore) {
    result.Kind = kind;
    result.Message = engine.ErrorMsg();
    result.Line = engine.ErrorLine();
    result.Column = engine.ErrorColumn();
    result.TextLine = result.Line - linesBefore;
    script.Compiled = false;
    return result;
  };

  // Each text alone first, so an error is blamed on the text that has it.
  const int headLines = int(functionsLines.size()) + 1;
  const std::pair<ScriptKind, const Lines*> pieces[] = {{ScriptKind::Execute, &executeText},
                                                        {ScriptKind::Start, &startText},
                                                        {ScriptKind::Stop, &stopText}};
  for (const auto& [kind, text] : pieces) {
    Lines piece = functionsLines;
    piece.push_back("function ScriptExecute: Variant;");
    Append(piece, *text);
    piece.push_back("begin");
    piece.push_back("end.");
    engine.SetLines(std::move(piece));
    if (!engine.Compile()) return failed(kind, headLines);
  }

  Lines program = functionsLines;
  program.push_back("function ScriptExecute: Variant;");
  Append(program, executeText);
  program.push_back("function ScriptStart: Variant;");
  Append(program, startText);
  program.push_back("function ScriptStop: Variant;");
  Append(program, stopText);
  program.push_back("begin");
  program.push_back("end.");
  engine.SetLines(std::move(program));
  if (!engine.Compile()) return failed(ScriptKind::Program, 0);

  // Copies first: a given text may be the stored one.
  if (execute) script.ExecuteText = Lines(*execute);
  if (start) script.StartText = Lines(*start);
  if (stop) script.StopText = Lines(*stop);
  std::vector<int>& slots = SlotOf(tag)->Slots;
  slots = {engine.VariableIndex("NoReply"), engine.VariableIndex("self")};
  for (const std::string& name : script.VariableNames())
    slots.push_back(engine.VariableIndex(name));
  SlotOf(tag)->SlotNames = script.VariableNames();
  script.Compiled = true;
  result.Ok = true;
  return result;
}

void TagScripts::CompileScripts(TDeviceClass& device, const Lines& functionsLines) {
  for (const auto& tag : device.Tags()) {
    tag->ResetError();
    if (tag->WorkType == kWorkScript) Compile(*tag, functionsLines);
  }
}

void TagScripts::Run(TModbusRegister& tag, ScriptKind kind) {
  if (kind == ScriptKind::Program) return;
  if (!tag.HasScript() || !tag.Script().Compiled) return;
  ScriptEngine& engine = EngineOf(tag);
  if (kind == ScriptKind::Execute) {
    RunLocked(tag, engine, kind);
    return;
  }
  try {
    RunLocked(tag, engine, kind);
  } catch (const ScriptError& e) {
    throw ScriptError(tag.FullName() + ": " + e.what(), e.Line());
  } catch (const std::exception& e) {
    throw VelkorError(tag.FullName() + ": " + e.what());
  }
}

void TagScripts::RunLocked(TModbusRegister& tag, ScriptEngine& engine, ScriptKind kind) {
  const TScriptClass& script = tag.Script();
  const TModbusRegsList& tags = script.VariableTags();
  const TagEngine& slot = *SlotOf(tag);
  const std::vector<int>& slots = slot.Slots;
  // Bindings changed since the compilation (the variable editor) go by name, as before a
  // compilation: a variable they declare has no slot yet.
  const std::vector<std::string>& names = script.VariableNames();
  const bool bySlot = !slots.empty() && slot.SlotNames == names;
  const auto set = [&](size_t k, const std::string& name, const Variant& value) {
    if (bySlot)
      engine.SetVariableAt(slots[k], value);
    else
      engine.SetVariable(name, value);
  };
  const auto get = [&](size_t k, const std::string& name) {
    return bySlot ? engine.GetVariableAt(slots[k]) : engine.GetVariable(name);
  };
  static const std::string kNoReply = "NoReply", kSelf = "self";
  TDeviceClass* device = tag.Device();
  // Loaded so that a no-reply set elsewhere survives a script that never touches it; first,
  // so that a tag bound to a variable of that name still decides it.
  if (device) set(0, kNoReply, Variant(bool(device->NoReply)));
  set(1, kSelf, ValueOf(tag));
  for (size_t i = 0; i < names.size(); ++i) set(2 + i, names[i], ValueOf(*tags.Items(int(i))));
  engine.CallFunction(kFunctionNames[int(kind)]);
  for (size_t i = 0; i < names.size(); ++i)
    tags.Items(int(i))->SetValueLocked(get(2 + i, names[i]));
  tag.SetValueLocked(get(1, kSelf));
  if (device) device->NoReply = get(0, kNoReply).ToBool();
}

}  // namespace velkor
