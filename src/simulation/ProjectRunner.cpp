#include "simulation/ProjectRunner.h"

namespace velkor {

ProjectRunner::~ProjectRunner() {
  if (m_update) m_update->StopThread();
}

void ProjectRunner::RunAll(TModbusServerList& list, ScriptKind kind) {
  for (const auto& server : list)
    for (const auto& device : server->Devices())
      for (const auto& tag : device->Tags())
        if (tag->WorkType == kWorkScript) m_scripts->Run(*tag, kind);
}

void ProjectRunner::BeforeServersStart(TModbusServerList& list, bool resetValues) {
  for (const auto& server : list)
    for (const auto& device : server->Devices()) {
      if (m_scripts)
        m_scripts->CompileScripts(*device, m_functionsLines);
      else
        for (const auto& tag : device->Tags()) tag->ResetError();
      if (resetValues) ResetSpace(*device);
    }
  if (m_scripts) RunAll(list, ScriptKind::Start);
}

void ProjectRunner::AfterServersStart(TModbusServerList& list) {
  m_update = std::make_unique<TUpdateRegsClass>([this, &list] {
    list.Poll([this](TDeviceClass& device) { UpdatePass(device, m_steps); });
    if (m_afterPoll) m_afterPoll();
  });
  m_update->Activate();
}

void ProjectRunner::BeforeServersStop(TModbusServerList& list) {
  // A script in an endless loop would hold its device lock, and this join, for its whole
  // step budget; the request ends it within a few thousand steps. Cleared before the stop
  // events, which must run in full.
  if (m_scripts) m_scripts->RequestStop(true);
  if (m_update) {
    m_update->StopThread();
    m_update.reset();
  }
  if (m_scripts) m_scripts->RequestStop(false);
  if (m_scripts) RunAll(list, ScriptKind::Stop);
}

}  // namespace velkor
