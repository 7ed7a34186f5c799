#pragma once
// Running the real masters: a command's standard output and error, whether a tool is
// installed, and the two devices they talk to.

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/DeviceClass.h"
#include "model/ModbusSpace.h"

namespace velkor {

inline std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return "popen failed";
  std::array<char, 512> buf;
  while (fgets(buf.data(), int(buf.size()), pipe.get())) out += buf.data();
  return out;
}

inline bool Have(const std::string& tool) {
  return Shell("command -v " + tool).find('/') != std::string::npos;
}

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
