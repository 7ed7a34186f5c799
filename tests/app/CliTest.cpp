// The velkor executable as users run it: options, exit statuses and messages, and a
// headless run of the bundled example read by a real master and stopped by SIGTERM.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kVelkor = VELKOR_EXECUTABLE;
const std::string kDemo = std::string(VELKOR_SOURCE_DIR) + "/examples/demo.xml";

struct Result {
  int status;
  std::string out;  // standard output and error together
};

// A run that hangs is killed after 30 s and fails with what it printed.
Result Velkor(const std::string& args) {
  const velkor::testing::CommandResult run = velkor::testing::RunCommand(kVelkor + " " + args);
  EXPECT_FALSE(run.timedOut) << "velkor " << args << " did not end:\n" << run.out;
  return Result{run.status, run.out};
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("velkor-cli-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path Write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }
  fs::path dir;
};

TEST_F(Cli, ConventionalOptions) {
  const Result version = Velkor("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("velkor ")) << version.out;
  EXPECT_EQ(Velkor("--help").status, 0);
  const Result unknown = Velkor("--frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.out.find("unknown option '--frobnicate'"), std::string::npos) << unknown.out;
  EXPECT_EQ(Velkor("--check").status, 2);
  EXPECT_EQ(Velkor("--save-as x.xml").status, 2);
}

TEST_F(Cli, CheckSummarisesAndRewrites) {
  const Result check = Velkor("--check " + kDemo);
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "servers=1 devices=4 tags=21\n");
  const fs::path out = dir / "copy.xml";
  EXPECT_EQ(Velkor("--check " + kDemo + " --save-as " + out.string()).status, 0);
  EXPECT_EQ(Velkor("--check " + out.string()).out, check.out);
  // A rewrite of a rewrite changes nothing: the writer's form is a fixed point.
  const fs::path again = dir / "again.xml";
  EXPECT_EQ(Velkor("--check " + out.string() + " --save-as " + again.string()).status, 0);
  EXPECT_EQ(Slurp(out), Slurp(again));
}

TEST_F(Cli, CheckFailuresExplainThemselves) {
  const Result missing = Velkor("--check " + (dir / "nope.xml").string());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.out.find("nope.xml"), std::string::npos) << missing.out;
  const Result broken =
      Velkor("--check " + Write("broken.xml", "<Servers>\n<Server>\n</Servers>\n").string());
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.out.find(" 3"), std::string::npos) << "names the line: " << broken.out;
  const Result wrongRoot = Velkor("--check " + Write("root.xml", "<Project/>").string());
  EXPECT_EQ(wrongRoot.status, 2);
  EXPECT_NE(wrongRoot.out.find("Servers"), std::string::npos) << wrongRoot.out;
  const Result unwritable =
      Velkor("--check " + kDemo + " --save-as " + (dir / "no" / "such" / "dir.xml").string());
  EXPECT_EQ(unwritable.status, 2);
}

TEST_F(Cli, CheckNamesScriptsThatDoNotCompile) {
  const fs::path file = Write("scripts.xml", R"(<Servers>
<Server>
<Name>L</Name>
<Mode>TRUE</Mode>
<Device>
<Name>P</Name>
<Number>1</Number>
<Register>
<Name>Good</Name>
<WorkType>5</WorkType>
<Script>
<Line>begin</Line>
<Line>  self := self + 1;</Line>
<Line>end;</Line>
</Script>
</Register>
<Register>
<Name>Bad</Name>
<Addr>1</Addr>
<WorkType>5</WorkType>
<ScriptStop>
<Line>begin</Line>
<Line>  self := 1;</Line>
<Line>  self := ;</Line>
<Line>end;</Line>
</ScriptStop>
</Register>
</Device>
</Server>
</Servers>
)");
  const Result check = Velkor("--check " + file.string());
  EXPECT_EQ(check.status, 3) << check.out;
  EXPECT_NE(check.out.find("servers=1 devices=1 tags=2\n"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("velkor: L.P.Bad: stop script, line 3, column "), std::string::npos)
      << check.out;
  EXPECT_EQ(check.out.find("Good"), std::string::npos) << check.out;
}

TEST_F(Cli, CheckNamesOPCTagsThatCannotWork) {
  const fs::path file = Write("opc.xml", R"(<Servers>
<Server>
<Name>L</Name>
<Mode>TRUE</Mode>
<Device>
<Name>P</Name>
<Number>1</Number>
<Register>
<Name>Good</Name>
<WorkType>6</WorkType>
<ProgID>opc.tcp://127.0.0.1:4840/plc</ProgID>
<OPCItem>ns=2;s=Tank.Level</OPCItem>
</Register>
<Register>
<Name>Da</Name>
<Addr>1</Addr>
<WorkType>6</WorkType>
<ProgID>Vendor.Server.1</ProgID>
<OPCItem>Tank.Level</OPCItem>
</Register>
</Device>
</Server>
</Servers>
)");
  const Result check = Velkor("--check " + file.string());
  EXPECT_EQ(check.status, 4) << check.out;
  EXPECT_NE(check.out.find("velkor: L.P.Da: OPC server \"Vendor.Server.1\" is not an endpoint"),
            std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("velkor: L.P.Da: OPC item \"Tank.Level\" is not a NodeId"),
            std::string::npos)
      << check.out;
  EXPECT_EQ(check.out.find("Good"), std::string::npos) << check.out;
}

// A headless run on a copy of the example with a port the system chooses.
TEST_F(Cli, HeadlessServesTheExampleAndStopsOnSigterm) {
  std::string project = Slurp(kDemo);
  const std::string fixedPort = "<Port>5020</Port>";
  project.replace(project.find(fixedPort), fixedPort.size(), "<Port>0</Port>");
  const fs::path file = Write("demo.xml", project);

  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(errPipe[1], STDERR_FILENO);
    close(errPipe[0]);
    execl(kVelkor.c_str(), kVelkor.c_str(), "--headless", file.c_str(), "--zero-regs", nullptr);
    _exit(127);
  }
  close(errPipe[1]);
  std::string err;
  std::string port;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  auto readSome = [&](int ms) {
    pollfd p{errPipe[0], POLLIN, 0};
    char buf[512];
    if (poll(&p, 1, ms) > 0) {
      const ssize_t n = read(errPipe[0], buf, sizeof buf);
      if (n > 0) err.append(buf, size_t(n));
      return n > 0;
    }
    return false;
  };
  const std::string marker = "listening on port ";
  while (port.empty() && std::chrono::steady_clock::now() < deadline) {
    readSome(100);
    const size_t at = err.find(marker);
    const size_t end = at == std::string::npos ? at : err.find('\n', at);
    if (end != std::string::npos) port = err.substr(at + marker.size(), end - at - marker.size());
  }
  ASSERT_FALSE(port.empty()) << err;

  const bool haveMbpoll = !velkor::testing::FindProgram("mbpoll").empty();
  if (haveMbpoll) {
    auto mbpoll = [&](const std::string& args) {
      const velkor::testing::CommandResult run =
          velkor::testing::RunCommand("mbpoll -m tcp -p " + port + " -0 -1 " + args + " 127.0.0.1");
      EXPECT_FALSE(run.timedOut) << run.out;
      return run.out;
    };
    const std::string word = mbpoll("-a 1 -t 3 -r 0 -c 1");
    EXPECT_NE(word.find("[0]: \t4242"), std::string::npos) << word;  // InputWord
    // Tank's level: its start script set 50, each second of execute takes 1 off (pump off).
    const std::string level = mbpoll("-a 4 -t 4:float -r 0 -c 1");
    const size_t at = level.find("[0]: \t");
    ASSERT_NE(at, std::string::npos) << level;
    const double value = std::strtod(level.c_str() + at + 5, nullptr);
    EXPECT_GE(value, 45) << level;
    EXPECT_LE(value, 50) << level;
  }
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  pid_t done = 0;
  const auto stopDeadline = std::chrono::steady_clock::now() + 10s;
  while (done == 0 && std::chrono::steady_clock::now() < stopDeadline) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0 && !readSome(10)) usleep(10000);
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "velkor did not stop on SIGTERM\n" << err;
  }
  while (readSome(10)) {
  }
  close(errPipe[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
  EXPECT_NE(err.find("stopping"), std::string::npos) << err;
  if (!haveMbpoll) GTEST_SKIP() << "mbpoll is not installed: the served values were not read";
}

}  // namespace
