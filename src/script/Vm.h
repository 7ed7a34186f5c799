#pragma once
// A register machine over the compiled form. Frames live on one fixed block of registers
// allocated once (zeroed memory the OS commits lazily), so a var parameter may point into
// a caller's registers without being invalidated by growth. Dispatch is a computed goto
// over the opcode list. Run-time errors are C++ exceptions caught around the dispatch
// loop: the normal path pays nothing for try/except, and a handler resumes the loop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "script/Builtins.h"
#include "script/Bytecode.h"
#include "script/Value.h"

namespace velkor {

// A run-time error raised inside the VM (by an instruction, Raise or a built-in).
struct RaisedError {
  std::string text;
  int line = 0;
  ErrorKind kind = ErrorKind::Other;
};

[[noreturn]] void Raise(ErrorKind kind, std::string text);

class Vm {
 public:
  Vm();
  ~Vm();
  Vm(const Vm&) = delete;
  Vm& operator=(const Vm&) = delete;

  void Attach(const Program* program, std::vector<Value>* globals);
  void SetBudget(int64_t steps) { m_budget = steps; }
  // Checked every kStopCheckSteps steps; when set, the running call ends with an error.
  void SetStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
  // Runs a function without parameters; the result is moved into `result`. Throws
  // ScriptError.
  void Call(int function, Value& result);

  // For built-ins.
  void Charge(int64_t steps) {
    m_steps -= steps;
    if (m_steps < 0) StepsOut();
  }
  const std::string& CurrentExceptionText() const;
  bool CurrentExceptionIs(unsigned mask) const;
  std::function<void(const std::string&)> showMessage;

 private:
  struct Frame {
    const FunctionCode* fn;
    const Instr* pc;
    Value* base;
    Value* ret;
  };
  struct Handler {
    size_t frame;
    int target;
    bool finally;
    int stateReg;
    size_t caught;
    size_t pending;
  };

  void Execute();
  // The slow path of step counting: checks the stop flag, then moves the next share of the
  // budget into the counter the hot path decrements, or ends the call.
  void StepsOut();
  [[noreturn]] void DepthExceeded();
  void ReleaseFrame(const Frame& f);
  void SaveGlobals(const Frame& f);
  void LoadGlobals(const Frame& f);
  void UnwindAll();
  int CurrentLine() const;
  void Resume(RaisedError error);
  AggObj* BuildAgg(int layout);

  const Program* m_program = nullptr;
  std::vector<Value>* m_globals = nullptr;
  Value* m_stack = nullptr;
  std::vector<Frame> m_frames;
  std::vector<Handler> m_handlers;
  std::vector<RaisedError> m_caught;   // errors whose except block runs
  std::vector<RaisedError> m_pending;  // errors whose finally block runs
  int64_t m_budget = 0;
  int64_t m_steps = 0;      // left of the current share; the hot path counts this down
  int64_t m_remaining = 0;  // of the budget beyond the current share
  const std::atomic<bool>* m_stop = nullptr;
};

}  // namespace velkor
