#include "simulation/ProjectRunner.h"

namespace velkor {

ProjectRunner::~ProjectRunner() {
  if (m_update) m_update->StopThread();
}

void ProjectRunner::RunAll(TModbusServerList& list, int kind) {
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
  if (m_scripts) RunAll(list, kScriptStart);
}

void ProjectRunner::AfterServersStart(TModbusServerList& list) {
  m_update = std::make_unique<TUpdateRegsClass>([this, &list] {
    list.Poll([this](TDeviceClass& device) { UpdatePass(device, m_steps); });
    if (m_afterPoll) m_afterPoll();
  });
  m_update->Activate();
}

void ProjectRunner::BeforeServersStop(TModbusServerList& list) {
  if (m_update) {
    m_update->StopThread();
    m_update.reset();
  }
  if (m_scripts) RunAll(list, kScriptStop);
}

}  // namespace velkor
