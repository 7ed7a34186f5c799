#include "serving/ModbusServerList.h"

namespace velkor {

TModbusServerList::~TModbusServerList() {
  try {
    if (m_running) Stop();
  } catch (...) {
    // A failing stop event must not end the program from a destructor.
  }
}

TModbusTCPServer* TModbusServerList::Add(std::unique_ptr<TModbusTCPServer> server) {
  m_servers.push_back(std::move(server));
  return m_servers.back().get();
}

void TModbusServerList::Remove(TModbusTCPServer* server) {
  std::erase_if(m_servers, [server](const auto& s) { return s.get() == server; });
}

void TModbusServerList::Clear() { m_servers.clear(); }

int TModbusServerList::IndexOf(const TModbusTCPServer* server) const {
  for (size_t i = 0; i < m_servers.size(); ++i)
    if (m_servers[i].get() == server) return int(i);
  return -1;
}

TModbusTCPServer* TModbusServerList::FindServer(const std::string& name) const {
  for (const auto& server : m_servers)
    if (server->Name() == name) return server.get();
  return nullptr;
}

TDeviceClass* TModbusServerList::FindDevice(const std::string& path) const {
  const size_t dot = path.find('.');
  if (dot == std::string::npos) return nullptr;
  const TModbusTCPServer* server = FindServer(path.substr(0, dot));
  return server ? server->FindDevice(path.substr(dot + 1)) : nullptr;
}

void TModbusServerList::Start(bool resetValues) {
  if (m_running) return;
  if (m_hooks) m_hooks->BeforeServersStart(*this, resetValues);
  try {
    for (const auto& server : m_servers) {
      server->Protocol.Clear();
      server->Start();
    }
    m_running = true;
    if (m_hooks) m_hooks->AfterServersStart(*this);
  } catch (...) {
    // A half-made start would leave listeners serving a project that reports stopped.
    m_running = false;
    for (const auto& server : m_servers) server->Stop();
    throw;
  }
}

void TModbusServerList::Stop() {
  if (!m_running) return;
  m_running = false;
  // The update thread ends first, so no pass holds a device lock while connections join.
  try {
    if (m_hooks) m_hooks->BeforeServersStop(*this);
  } catch (...) {
    for (const auto& server : m_servers) server->Stop();
    throw;
  }
  for (const auto& server : m_servers) server->Stop();
}

void TModbusServerList::Poll(const std::function<void(TDeviceClass&)>& updatePass) {
  for (const auto& server : m_servers)
    if (server->Poll() && updatePass)
      for (const auto& device : server->Devices()) updatePass(*device);
}

}  // namespace velkor
