#pragma once
// The simulation's part in starting and stopping a project, in this order:
// start: every device (servers and devices in order) clears its tags' errors, compiles
// its scripts, and, when asked, resets its tables to the default values; the script tags
// run their start events; the servers start; the update thread starts.
// stop: the update thread stops; the script tags run their stop events; the servers stop.
// OPC joins through the seams below when that layer arrives.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serving/ModbusServerList.h"
#include "simulation/Behaviours.h"
#include "simulation/TagScripts.h"
#include "simulation/UpdateThread.h"

namespace velkor {

class ProjectRunner : public ProjectRunHooks {
 public:
  // scripts may be null: script tags then keep their values.
  explicit ProjectRunner(TagScripts* scripts = nullptr,
                         std::vector<std::string> functionsLines = {})
      : m_steps(scripts), m_scripts(scripts), m_functionsLines(std::move(functionsLines)) {}
  // Execute steps only: nothing is compiled, no start or stop event runs.
  explicit ProjectRunner(ScriptStepRunner* steps) : m_steps(steps) {}
  ~ProjectRunner() override;

  // A start event that throws ends the start: the exception propagates, the later start
  // events do not run, and no stop event runs, since the project never ran.
  void BeforeServersStart(TModbusServerList& list, bool resetValues) override;
  void AfterServersStart(TModbusServerList& list) override;
  // A stop event that throws is passed on after the servers stop (by the list).
  void BeforeServersStop(TModbusServerList& list) override;

  bool UpdateThreadRunning() const { return m_update != nullptr; }
  // Called by the update thread after every poll, holding no device or tag lock (where the
  // session dispatches the events the pass raised). Set it while stopped.
  void SetAfterPoll(std::function<void()> afterPoll) { m_afterPoll = std::move(afterPoll); }

 private:
  void RunAll(TModbusServerList& list, ScriptKind kind);

  ScriptStepRunner* m_steps;
  TagScripts* m_scripts = nullptr;
  std::vector<std::string> m_functionsLines;
  std::unique_ptr<TUpdateRegsClass> m_update;
  std::function<void()> m_afterPoll;
};

}  // namespace velkor
