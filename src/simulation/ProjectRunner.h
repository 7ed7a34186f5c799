#pragma once
// The simulation's part in starting and stopping a project, in this order:
// start: every device (servers and devices in order) clears its tags' errors, compiles
// its scripts, and, when asked, resets its tables to the default values; the script tags
// run their start events; the servers start; the update thread starts.
// stop: the update thread stops; the script tags run their stop events; the servers stop.
// Scripts and OPC join through the seams below when those layers arrive.

#include <memory>

#include "serving/ModbusServerList.h"
#include "simulation/Behaviours.h"
#include "simulation/UpdateThread.h"

namespace velkor {

class ProjectRunner : public ProjectRunHooks {
 public:
  // scripts may be null: script tags then keep their values.
  explicit ProjectRunner(ScriptStepRunner* scripts = nullptr) : m_scripts(scripts) {}
  ~ProjectRunner() override;

  void BeforeServersStart(TModbusServerList& list, bool resetValues) override;
  void AfterServersStart(TModbusServerList& list) override;
  void BeforeServersStop(TModbusServerList& list) override;

  bool UpdateThreadRunning() const { return m_update != nullptr; }

 private:
  ScriptStepRunner* m_scripts;
  std::unique_ptr<TUpdateRegsClass> m_update;
};

}  // namespace velkor
