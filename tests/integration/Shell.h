#pragma once
// Running the real masters: a command's standard output and error (under a deadline),
// whether a tool is installed, and the two devices they talk to.

#include <string>
#include <vector>

#include "../TestUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusSpace.h"

namespace velkor {

// A master that hangs is killed after 30 s; its output then says so, failing the test.
inline std::string Shell(const std::string& command) {
  const testing::CommandResult result = testing::RunCommand(command);
  return result.timedOut ? result.out + "\n(killed after its deadline)" : result.out;
}

inline bool Have(const std::string& tool) { return !testing::FindProgram(tool).empty(); }

// Unit 1 answers, with input register 0 = BEEF and discrete input 2 on; unit 2 is
// configured but never replies.
inline std::vector<TDeviceClass*> AddMastersDevices(ServerNode& server) {
  std::vector<TDeviceClass*> devices;
  for (int unit : {1, 2}) {
    auto device = std::make_unique<TDeviceClass>();
    device->SetName("D" + std::to_string(unit));
    device->Number = uint8_t(unit);
    devices.push_back(server.Devices().Add(std::move(device)));
  }
  devices[1]->NoReply = true;
  devices[0]->Space().WriteWord(0, kInputRegs, 2, 0xBEEF);
  devices[0]->Space().WriteBit(2, 0, kDiscreteInputs, true);
  return devices;
}

}  // namespace velkor
