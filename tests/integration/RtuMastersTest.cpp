// Real Modbus RTU masters that nobody here wrote, on one end of a pty pair whose other end
// our server opens: a libmodbus RTU client program and mbpoll. They skip with a message
// where the tool (or socat, for the pair) is missing. Teardown stops the server, joining its
// thread, before the pair's socat is ended by its PID.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "../serving/PtyPair.h"
#include "Shell.h"
#include "model/DeviceClass.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {
namespace {

using testing::FindProgram;
using testing::PtyPair;

uint16_t Reg(TDeviceClass* device, uint16_t addr) {
  auto lock = device->Lock();  // the serial thread writes these tables
  return device->Space().ReadWord(addr, kHoldingRegs, 2);
}

class RtuMasters : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty.Ok()) GTEST_SKIP() << pty.Error();
    server.SetName("S");
    server.Mode = false;
    server.COMMPORT = pty.A();
    server.BAUD = 9600;
    server.INTERVAL = 10;
    devices = AddMastersDevices(server);
    for (uint16_t r = 0; r < 10; ++r)
      devices[0]->Space().WriteWord(r, kHoldingRegs, 2, uint16_t(1000 + r));
    server.Start();
    ASSERT_EQ(server.Protocol.Count(), 0u);
  }
  void TearDown() override { server.Stop(); }

  PtyPair pty;
  TModbusTCPServer server;
  std::vector<TDeviceClass*> devices;
};

TEST_F(RtuMasters, LibmodbusUsesEveryFunctionAndTheLongestFrames) {
#ifndef VELKOR_LIBMODBUS_RTU_MASTER
  GTEST_SKIP() << "libmodbus-dev is not installed: the libmodbus RTU master was not built";
#else
  const std::string out = Shell(std::string(VELKOR_LIBMODBUS_RTU_MASTER) + " " + pty.B());
  EXPECT_EQ(out,
            "fc6 ok\n"
            "fc3 1234 03E9\n"
            "fc4 BEEF\n"
            "fc16-123 ok\n"
            "fc3-125 ok 1000 107A 0000\n"
            "fc15-1968 ok\n"
            "fc1-2000 1968 of 2000 on\n"
            "fc2 1 of 4 on\n"
            "fc5 ok\n"
            "fc1 0 of 1 on\n"
            "fc6 ok\n"
            "fc22 ok\n"
            "fc3 0017\n"
            "fc3-126 01 83 03 01 31\n"
            "slave7 error timeout\n"
            "silent error timeout\n"
            "broadcast error timeout\n"  // libmodbus waits for a reply a broadcast never gets
            "fc3 4242\n");
  EXPECT_EQ(Reg(devices[1], 30), 0x4242) << "the broadcast reached the silent device";
#endif
}

TEST_F(RtuMasters, MbpollReadsAndWrites) {
  if (FindProgram("mbpoll").empty()) GTEST_SKIP() << "mbpoll is not installed";
  const std::string base = "mbpoll -m rtu -b 9600 -P none -a 1 -0 -1 -o 1 ";
  const std::string read = Shell(base + "-t 4 -r 0 -c 10 " + pty.B());
  for (int r = 0; r < 10; ++r) {
    const std::string line = "[" + std::to_string(r) + "]: \t" + std::to_string(1000 + r);
    EXPECT_NE(read.find(line), std::string::npos) << line << " in\n" << read;
  }
  const std::string write = Shell(base + "-t 4 -r 3 " + pty.B() + " 4660 22136");
  EXPECT_NE(write.find("Written 2 references"), std::string::npos) << write;
  EXPECT_EQ(Reg(devices[0], 3), 4660);
  EXPECT_EQ(Reg(devices[0], 4), 22136);
  const std::string inputs = Shell(base + "-t 3:hex -r 0 -c 1 " + pty.B());
  EXPECT_NE(inputs.find("0xBEEF"), std::string::npos) << inputs;
  const std::string silent =
      Shell("mbpoll -m rtu -b 9600 -P none -a 2 -0 -1 -o 0.3 -t 4 -r 0 " + pty.B());
  EXPECT_NE(silent.find("timed out"), std::string::npos) << silent;
}

}  // namespace
}  // namespace velkor
