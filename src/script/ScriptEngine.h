#pragma once
// The Pascal-dialect interpreter as the rest of the program sees it: program text in,
// compiled once, functions called many times with variables crossing as Variants. Every
// call runs under a step budget and a call-depth limit, so a script that loops forever or
// recurses without end fails with a run-time error instead of holding the calling thread;
// the script's own try/except cannot catch those two, or a handler could loop again.
// Everything else of the implementation stays behind a pointer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/Error.h"
#include "model/Variant.h"

namespace velkor {

// A run-time error of a script: the message and the program line it happened on (0 when
// the failure is not tied to a line).
class ScriptError : public VelkorError {
 public:
  ScriptError(const std::string& message, int line) : VelkorError(message), m_line(line) {}
  int Line() const { return m_line; }

 private:
  int m_line;
};

// Steps are counted at backward jumps, calls and in proportion to text work, so every
// loop and every recursion pays.
constexpr int64_t kDefaultStepBudget = 50'000'000;
constexpr int kMaxCallDepth = 2000;
// The budget is handed to the dispatch loop in shares of this many steps, so a stop request
// is seen that often without a load on every backward jump.
constexpr int64_t kStopCheckSteps = 10'000;

class ScriptEngine {
 public:
  ScriptEngine();
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  const std::string& Dialect() const;

  // Forgets text, code, variables and the last error.
  void Clear();
  // An unknown type name declares a Variant. An existing name (any letter case) is kept.
  void AddVariable(const std::string& name, const std::string& typeName, const Variant& value);
  void SetLines(std::vector<std::string> lines);
  bool Compile();
  const std::string& ErrorMsg() const;
  std::string ErrorPos() const;  // "line:column", from 1
  int ErrorLine() const;
  int ErrorColumn() const;

  // Converts to the variable's declared type (throws VelkorError when it cannot); a
  // missing variable is declared as Variant.
  void SetVariable(const std::string& name, const Variant& value);
  Variant GetVariable(const std::string& name) const;  // Null when missing
  // The same by slot, for a host that moves values on every call: a slot found after a
  // compilation stays valid until the next Compile or Clear. -1 when missing.
  int VariableIndex(const std::string& name) const;
  void SetVariableAt(int index, const Variant& value);
  Variant GetVariableAt(int index) const;
  // Runs a parameterless function; Null when the program has none of that name. Throws
  // ScriptError for a run-time error.
  Variant CallFunction(const std::string& name);
  // Runs the program's main block.
  void RunMain();

  // ShowMessage goes to the program log unless a handler is set.
  void SetShowMessageHandler(std::function<void(const std::string&)> handler);
  void SetStepBudget(int64_t steps);
  // While the flag is true, a running call ends within kStopCheckSteps steps with the error
  // "Script stopped: ...", which the script cannot catch. Shared, so an engine that outlives
  // whoever stops it never reads a freed flag; null: never stopped.
  void SetStopFlag(std::shared_ptr<const std::atomic<bool>> stop);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace velkor
