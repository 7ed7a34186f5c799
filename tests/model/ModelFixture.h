#pragma once
// A server with one device, as most model tests need; everything is torn down (and the
// registry left empty) after each test.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"

namespace velkor {

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() : m_server(std::make_unique<Server>()), server(*m_server) {
    server.SetName("Srv");
    device = server.Devices().Add(std::make_unique<TDeviceClass>());
  }
  ~ModelTest() override {
    m_server.reset();
    EXPECT_EQ(Registry().Count(), 0) << "a test leaked tags";
  }

  TModbusRegister* AddTag(const char* name, uint16_t type = 18, uint16_t addr = 0,
                          TGroupClass* group = nullptr, TDeviceClass* dev = nullptr) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(name);
    tag->SetType(type);
    tag->Addr = addr;
    return (dev ? dev : device)->AddTag(std::move(tag), group);
  }

  std::vector<uint8_t> Regs(uint16_t start, uint16_t count, uint8_t space = 0) {
    std::vector<uint8_t> out(size_t(count) * 2);
    device->Space().ReadBlock(start, count, space, out.data());
    return out;
  }

  struct Server : ServerNode {};
  std::unique_ptr<Server> m_server;
  Server& server;
  TDeviceClass* device;
};

}  // namespace velkor
