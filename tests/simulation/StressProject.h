#pragma once
// The lock-order stress tests' project: one server with two devices of tags, and threads
// that set random tags of it to random values through the locked path, as a value dialog
// or an OPC thread would.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "model/ModbusRegister.h"
#include "runtime/Random.h"
#include "serving/ModbusServerList.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {

struct TwoDeviceProject {
  TModbusServerList list;
  std::vector<TModbusRegister*> tags;  // device 0's, then device 1's

  // setup gets each new tag and its index within its device.
  TwoDeviceProject(int tagsPerDevice, const std::function<void(TModbusRegister&, int)>& setup) {
    auto server = std::make_unique<TModbusTCPServer>();
    server->Port = 0;
    for (int d = 0; d < 2; ++d) {
      auto device = std::make_unique<TDeviceClass>();
      device->SetName("D" + std::to_string(d));
      device->Number = uint8_t(d + 1);
      TDeviceClass* raw = server->Devices().Add(std::move(device));
      for (int t = 0; t < tagsPerDevice; ++t) {
        auto tag = std::make_unique<TModbusRegister>();
        tag->SetName("T" + std::to_string(t));
        tag->Period = 0;
        setup(*tag, t);
        tags.push_back(raw->AddTag(std::move(tag)));
      }
    }
    list.Add(std::move(server));
  }
};

class RandomSetters {
 public:
  RandomSetters(const std::vector<TModbusRegister*>& tags, int threads) {
    for (int t = 0; t < threads; ++t)
      m_threads.emplace_back([this, &tags] {
        while (!m_stop) {
          tags[RandomBelow(uint32_t(tags.size()))]->SetValueLocked(int(RandomBelow(100)));
          ++m_sets;
        }
      });
  }
  ~RandomSetters() { Stop(); }
  void Stop() {
    m_stop = true;
    for (auto& t : m_threads)
      if (t.joinable()) t.join();
  }
  int Sets() const { return m_sets; }

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_sets{0};
  std::vector<std::thread> m_threads;
};

}  // namespace velkor
