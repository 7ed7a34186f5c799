// Real masters that nobody here wrote, against a server started by the test: a libmodbus
// client program and mbpoll. They skip with a message where the tool is missing; CI
// installs both, so there they always run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "Shell.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "serving/ModbusServerList.h"
#include "simulation/ProjectRunner.h"

namespace velkor {
namespace {

uint16_t Reg(TDeviceClass* device, uint16_t addr) {
  auto lock = device->Lock();  // the server's threads write these tables
  return device->Space().ReadWord(addr, kHoldingRegs, 2);
}

bool Coil(TDeviceClass* device, uint16_t addr) {
  auto lock = device->Lock();
  return device->Space().ReadBit(addr, 0, kCoils);
}

class Masters : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetName("S");
    server.Port = 0;
    devices = AddMastersDevices(server);
    devices[0]->Space().WriteWord(1, kInputRegs, 2, 0x0042);
    server.Start();
    port = std::to_string(server.ListeningPort());
    ASSERT_NE(port, "0");
  }
  void TearDown() override { server.Stop(); }

  TModbusTCPServer server;
  std::vector<TDeviceClass*> devices;
  std::string port;
};

TEST_F(Masters, LibmodbusReadsAndWritesEveryTable) {
#ifndef VELKOR_LIBMODBUS_MASTER
  GTEST_SKIP() << "libmodbus-dev is not installed: the libmodbus master was not built";
#else
  const std::string out = Shell(std::string(VELKOR_LIBMODBUS_MASTER) + " " + port);
  EXPECT_EQ(out,
            "fc6 ok\n"
            "fc3 1234 0000 0000\n"
            "fc16 ok\n"
            "fc3 0A0B 0C0D FFFF\n"
            "fc4 BEEF 0042\n"
            "fc5 ok\n"
            "fc1 00000100\n"
            "fc15 ok\n"
            "fc1 1011001011\n"
            "fc2 0010\n"
            "fc6 ok\n"
            "fc22 ok\n"
            "fc3 0017\n"
            "fc3-125\n"
            "fc3-126 reply 83 03\n"
            "fc5-bad reply 85 03\n"
            "fc8 error timeout\n"
            "silent error timeout\n"
            "broadcast error timeout\n"
            "fc3 4242\n");
  EXPECT_EQ(Reg(devices[1], 30), 0x4242) << "broadcast";
#endif
}

TEST_F(Masters, MbpollReadsAndWrites) {
  if (!Have("mbpoll")) GTEST_SKIP() << "mbpoll is not installed";
  const std::string base = "mbpoll -m tcp -p " + port + " -a 1 -0 -1 -o 1 ";
  const std::string write = Shell(base + "-t 4 -r 3 127.0.0.1 4660 22136");
  EXPECT_NE(write.find("Written 2 references"), std::string::npos) << write;
  EXPECT_EQ(Reg(devices[0], 3), 4660);
  EXPECT_EQ(Reg(devices[0], 4), 22136);
  const std::string read = Shell(base + "-t 4:hex -r 3 -c 2 127.0.0.1");
  EXPECT_NE(read.find("[3]: \t0x1234"), std::string::npos) << read;
  EXPECT_NE(read.find("[4]: \t0x5678"), std::string::npos) << read;
  const std::string inputs = Shell(base + "-t 3:hex -r 0 -c 1 127.0.0.1");
  EXPECT_NE(inputs.find("0xBEEF"), std::string::npos) << inputs;
  Shell(base + "-t 0 -r 7 127.0.0.1 1");
  EXPECT_TRUE(Coil(devices[0], 7));
  const std::string silent =
      Shell("mbpoll -m tcp -p " + port + " -a 2 -0 -1 -o 0.3 -t 4 -r 0 127.0.0.1");
  EXPECT_NE(silent.find("timed out"), std::string::npos) << silent;
}

// The value and the time of the last step of a tag, read together under its lock.
struct Step {
  int64_t value;
  int64_t at;  // ms
};

Step LastStep(TModbusRegister* tag) {
  LockGuard lock(tag->Lock());
  return {tag->GetValue().ToInt64(), tag->LastUpdate};
}

// An increment tag (period 100 ms) read by mbpoll before and after ten steps. The rate is
// taken from the tag's own step times, not from the test's clock around two mbpoll runs
// (whose start-up on a loaded machine made a wall-clock band fail).
TEST(MastersWithSimulation, IncrementTagAdvancesAboutTenTimesASecond) {
  if (!Have("mbpoll")) GTEST_SKIP() << "mbpoll is not installed";
  TModbusServerList list;
  ProjectRunner runner;
  list.SetHooks(&runner);
  auto server = std::make_unique<TModbusTCPServer>();
  server->Port = 0;
  TDeviceClass* device = server->Devices().Add(std::make_unique<TDeviceClass>());
  auto tag = std::make_unique<TModbusRegister>();
  tag->SetName("Counter");
  tag->WorkType = kWorkIncrement;
  TModbusRegister* counter = tag.get();
  device->AddTag(std::move(tag));
  TModbusTCPServer* raw = list.Add(std::move(server));
  list.Start(true);
  const std::string command = "mbpoll -m tcp -p " + std::to_string(raw->ListeningPort()) +
                              " -a 1 -0 -1 -t 4 -r 0 127.0.0.1";
  auto read = [&] {
    const std::string out = Shell(command);
    const size_t at = out.find("[0]: \t");
    EXPECT_NE(at, std::string::npos) << out;
    return at == std::string::npos ? -1L : std::stol(out.substr(at + 6));
  };
  ASSERT_TRUE(testing::WaitUntil([&] { return LastStep(counter).value >= 1; }));
  const long first = read();
  const Step from = LastStep(counter);
  ASSERT_TRUE(testing::WaitUntil([&] { return LastStep(counter).value >= from.value + 10; }));
  const long second = read();
  const Step to = LastStep(counter);
  list.Stop();
  // What the master saw moved with the tag.
  EXPECT_LE(first, from.value);
  EXPECT_GE(second, from.value + 10);
  EXPECT_LE(second, to.value);
  const double msPerStep = double(to.at - from.at) / double(to.value - from.value);
  // A step comes only after the period has passed, never earlier...
  EXPECT_GT(msPerStep, 100.0) << from.value << " -> " << to.value;
  // ...and late by the 10 ms update cycle and scheduling; twice the period would mean a
  // stalled update thread, not a busy machine.
  EXPECT_LT(msPerStep, 200.0) << from.value << " -> " << to.value;
}

// A master that hangs must not hang the suite: it is killed by its PID at the deadline.
TEST(Shell, KillsACommandAtItsDeadline) {
  const auto begin = std::chrono::steady_clock::now();
  const testing::CommandResult run =
      testing::RunCommand("sleep 30", std::chrono::milliseconds(200));
  EXPECT_TRUE(run.timedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  const testing::CommandResult done = testing::RunCommand("sh -c 'echo out; echo err >&2; exit 3'");
  EXPECT_FALSE(done.timedOut);
  EXPECT_EQ(done.status, 3);
  EXPECT_EQ(done.out, "out\nerr\n");
}

}  // namespace
}  // namespace velkor
