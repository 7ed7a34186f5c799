#include "simulation/ProjectRunner.h"

namespace velkor {

ProjectRunner::~ProjectRunner() {
  if (m_update) m_update->StopThread();
}

void ProjectRunner::BeforeServersStart(TModbusServerList& list, bool resetValues) {
  for (const auto& server : list)
    for (const auto& device : server->Devices()) {
      // Compiling the scripts comes with the script engine; the errors are cleared now.
      for (const auto& tag : device->Tags()) tag->ResetError();
      if (resetValues) ResetSpace(*device);
    }
  // The start events of script tags run here once the script engine exists.
}

void ProjectRunner::AfterServersStart(TModbusServerList& list) {
  m_update = std::make_unique<TUpdateRegsClass>([this, &list] {
    list.Poll([this](TDeviceClass& device) { UpdatePass(device, m_scripts); });
  });
  m_update->Activate();
}

void ProjectRunner::BeforeServersStop(TModbusServerList&) {
  if (m_update) {
    m_update->StopThread();
    m_update.reset();
  }
  // The stop events of script tags run here once the script engine exists.
}

}  // namespace velkor
