#pragma once
// All servers of the project. Starting and stopping the project runs steps that belong to
// higher layers (compiling scripts, resetting the tables, the scripts' start and stop
// events, the update thread); they reach the list through ProjectRunHooks, so serving
// stays below simulation. The update thread calls Poll with its pass over a device.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serving/ModbusTCPServer.h"

namespace velkor {

class TModbusServerList;

class ProjectRunHooks {
 public:
  virtual ~ProjectRunHooks() = default;
  // Before any server starts: compile scripts, reset the spaces, run the start events. What
  // a hook throws leaves Start (or Stop) with every server stopped.
  virtual void BeforeServersStart(TModbusServerList& list, bool resetValues) = 0;
  // After every server started: create and activate the update thread.
  virtual void AfterServersStart(TModbusServerList& list) = 0;
  // Before the servers stop: stop the update thread, run the stop events.
  virtual void BeforeServersStop(TModbusServerList& list) = 0;
};

class TModbusServerList {
 public:
  TModbusServerList() = default;
  ~TModbusServerList();
  TModbusServerList(const TModbusServerList&) = delete;
  TModbusServerList& operator=(const TModbusServerList&) = delete;

  TModbusTCPServer* Add(std::unique_ptr<TModbusTCPServer> server);
  void Remove(TModbusTCPServer* server);
  void Clear();
  int Count() const { return int(m_servers.size()); }
  TModbusTCPServer* Items(int i) const { return m_servers[size_t(i)].get(); }
  int IndexOf(const TModbusTCPServer* server) const;
  void Exchange(int i, int j) { std::swap(m_servers[size_t(i)], m_servers[size_t(j)]); }

  TModbusTCPServer* FindServer(const std::string& name) const;
  // "server.device", split at the first "."; no "." finds nothing.
  TDeviceClass* FindDevice(const std::string& path) const;

  // hooks may be null (serving alone, as in tests); the list does not own them.
  void SetHooks(ProjectRunHooks* hooks) { m_hooks = hooks; }
  void Start(bool resetValues);
  void Stop();
  bool Running() const { return m_running; }
  // For every server in order: report its transport errors; if it runs, updatePass each
  // of its devices in order.
  void Poll(const std::function<void(TDeviceClass&)>& updatePass = {});

  auto begin() const { return m_servers.begin(); }
  auto end() const { return m_servers.end(); }

 private:
  std::vector<std::unique_ptr<TModbusTCPServer>> m_servers;
  ProjectRunHooks* m_hooks = nullptr;
  bool m_running = false;
};

}  // namespace velkor
