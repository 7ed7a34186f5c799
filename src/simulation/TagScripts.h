#pragma once
// The engines of tag scripts: one per script tag, compiled from the tag's texts and the user
// functions, run at start, at every period and at stop. Each engine lives in its tag's
// script (an opaque slot there, so the model does not depend on the interpreter) and goes
// with the tag.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "simulation/Behaviours.h"

namespace velkor {

class ScriptEngine;

// The three texts of a script, numbered as the script editor reports a failing one; Program
// stands for the whole program (every text compiled alone, the whole did not).
enum class ScriptKind : int { Program = -1, Start = 0, Execute = 1, Stop = 2 };

// "start", "execute", "stop"; "program" for Program.
const char* ScriptKindName(ScriptKind kind);

struct ScriptCompileResult {
  bool Ok = false;
  // Of the failing text; Program when every text passed alone but the whole did not.
  ScriptKind Kind = ScriptKind::Program;
  std::string Message;
  int Line = 0;  // in the compiled program, from 1
  int Column = 0;
  int TextLine = 0;  // Line less the lines before the text
};

class TagScripts : public ScriptStepRunner {
 public:
  using Lines = std::vector<std::string>;

  TagScripts();
  ~TagScripts() override;

  // A text given as null is the stored one; given texts replace the stored ones only when
  // everything compiles. While the project runs, call it holding the owner's device lock:
  // the update pass runs the same engine under that lock.
  ScriptCompileResult Compile(TModbusRegister& tag, const Lines& functionsLines,
                              const Lines* execute = nullptr, const Lines* start = nullptr,
                              const Lines* stop = nullptr);
  // Errors are left for the script editor, as a start does not report them.
  void CompileScripts(TDeviceClass& device, const Lines& functionsLines);

  // Throws what the script or a write-back throws; a start or stop failure names the tag.
  void Run(TModbusRegister& tag, ScriptKind kind);
  void RunExecute(TModbusRegister& tag) override { Run(tag, ScriptKind::Execute); }

  // Where every engine's ShowMessage goes (the program log when empty). Set it while no
  // script runs; it is called on the thread that runs the script, under its locks.
  void SetShowMessageHandler(std::function<void(const std::string&)> handler) {
    *m_showMessage = std::move(handler);
  }

  // Taken by every engine at its next compilation or run.
  void SetStepBudget(int64_t steps) { m_stepBudget = steps; }
  // While on, every engine of these scripts that is running or starts running ends within a
  // few thousand steps with a "Script stopped" error, so that stopping the project never
  // waits for a script in an endless loop. Callable from any thread.
  void RequestStop(bool on) { m_stop->store(on, std::memory_order_relaxed); }

  // The tag's engine, made on first use; null for a tag without one yet.
  static ScriptEngine* FindEngine(const TModbusRegister& tag);

 private:
  ScriptEngine& EngineOf(TModbusRegister& tag);
  void RunLocked(TModbusRegister& tag, ScriptEngine& engine, ScriptKind kind);

  // Each engine is used by one thread at a time: the update thread while the project runs,
  // the main thread otherwise.
  int64_t m_stepBudget;
  std::shared_ptr<std::atomic<bool>> m_stop;
  // Shared with the engines, which live in the tags and may outlive these scripts.
  std::shared_ptr<std::function<void(const std::string&)>> m_showMessage =
      std::make_shared<std::function<void(const std::string&)>>();
};

}  // namespace velkor
