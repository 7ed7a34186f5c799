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
#include <vector>

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
  EXPECT_EQ(Velkor("--trace x.txt").status, 2);
  EXPECT_EQ(Velkor("--pcap x.pcapng").status, 2);
  EXPECT_EQ(Velkor("--headless " + kDemo + " --trace").status, 2);
}

// A trace or capture file that cannot be made stops the run before it serves.
TEST_F(Cli, HeadlessRefusesAnUnwritableTraceFile) {
  for (const char* option : {"--trace", "--pcap"}) {
    const Result run =
        Velkor("--headless " + kDemo + " " + option + " " + (dir / "missing" / "x").string());
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("cannot "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("serving"), std::string::npos) << run.out;
  }
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

// A headless velkor on a copy of the example with a port the system chooses: started with
// extra options, its standard error read until it says where it listens, stopped by SIGTERM.
class HeadlessRun {
 public:
  HeadlessRun(const fs::path& dir, const std::vector<std::string>& extra) {
    std::string project = Slurp(kDemo);
    const std::string fixedPort = "<Port>5020</Port>";
    project.replace(project.find(fixedPort), fixedPort.size(), "<Port>0</Port>");
    const fs::path file = dir / "demo.xml";
    std::ofstream(file, std::ios::binary) << project;
    std::vector<std::string> args = {kVelkor, "--headless", file.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    int errPipe[2];
    if (pipe(errPipe) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(errPipe[1], STDERR_FILENO);
      close(errPipe[0]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kVelkor.c_str(), argv.data());
      _exit(127);
    }
    close(errPipe[1]);
    m_err = errPipe[0];
    const std::string marker = "listening on port ";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (m_port.empty() && std::chrono::steady_clock::now() < deadline) {
      ReadSome(100);
      const size_t at = m_text.find(marker);
      const size_t end = at == std::string::npos ? at : m_text.find('\n', at);
      if (end != std::string::npos)
        m_port = m_text.substr(at + marker.size(), end - at - marker.size());
    }
  }
  ~HeadlessRun() {
    if (m_pid > 0 && !m_stopped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_err >= 0) close(m_err);
  }
  const std::string& Port() const { return m_port; }
  const std::string& Err() const { return m_text; }

  // SIGTERM, then waits (bounded) for the exit; returns the wait status, -1 if it hung.
  int Stop() {
    if (m_pid <= 0 || kill(m_pid, SIGTERM) != 0) return -1;
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (done == 0 && std::chrono::steady_clock::now() < deadline) {
      done = waitpid(m_pid, &status, WNOHANG);
      if (done == 0 && !ReadSome(10)) usleep(10000);
    }
    if (done == 0) return -1;
    m_stopped = true;
    while (ReadSome(10)) {
    }
    return status;
  }

 private:
  bool ReadSome(int ms) {
    pollfd p{m_err, POLLIN, 0};
    char buf[512];
    if (m_err >= 0 && poll(&p, 1, ms) > 0) {
      const ssize_t n = read(m_err, buf, sizeof buf);
      if (n > 0) m_text.append(buf, size_t(n));
      return n > 0;
    }
    return false;
  }
  pid_t m_pid = -1;
  int m_err = -1;
  bool m_stopped = false;
  std::string m_port, m_text;
};

std::string Mbpoll(const std::string& port, const std::string& args) {
  const velkor::testing::CommandResult run =
      velkor::testing::RunCommand("mbpoll -m tcp -p " + port + " -0 -1 " + args + " 127.0.0.1");
  EXPECT_FALSE(run.timedOut) << run.out;
  return run.out;
}

TEST_F(Cli, HeadlessServesTheExampleAndStopsOnSigterm) {
  HeadlessRun run(dir, {"--zero-regs"});
  ASSERT_FALSE(run.Port().empty()) << run.Err();
  const bool haveMbpoll = !velkor::testing::FindProgram("mbpoll").empty();
  if (haveMbpoll) {
    const std::string word = Mbpoll(run.Port(), "-a 1 -t 3 -r 0 -c 1");
    EXPECT_NE(word.find("[0]: \t4242"), std::string::npos) << word;  // InputWord
    // Tank's level: its start script set 50, each second of execute takes 1 off (pump off).
    const std::string level = Mbpoll(run.Port(), "-a 4 -t 4:float -r 0 -c 1");
    const size_t at = level.find("[0]: \t");
    ASSERT_NE(at, std::string::npos) << level;
    const double value = std::strtod(level.c_str() + at + 5, nullptr);
    EXPECT_GE(value, 45) << level;
    EXPECT_LE(value, 50) << level;
  }
  const int status = run.Stop();
  ASSERT_NE(status, -1) << "velkor did not stop on SIGTERM\n" << run.Err();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << run.Err();
  EXPECT_NE(run.Err().find("stopping"), std::string::npos) << run.Err();
  if (!haveMbpoll) GTEST_SKIP() << "mbpoll is not installed: the served values were not read";
}

// --trace and --pcap, each alone and both: a master's two reads are two lines each of the
// text file and four Modbus/TCP packets of the capture.
TEST_F(Cli, HeadlessTracesToTextAndCapture) {
  if (velkor::testing::FindProgram("mbpoll").empty())
    GTEST_SKIP() << "mbpoll is not installed (velkor.sh installs it)";
  const std::string tshark = velkor::testing::FindProgram("tshark");
  const fs::path txt = dir / "trace.txt", pcap = dir / "trace.pcapng";
  const std::vector<std::vector<std::string>> runs = {
      {"--trace", txt.string()},
      {"--pcap", pcap.string()},
      {"--trace", txt.string(), "--pcap", pcap.string()},
  };
  for (const auto& options : runs) {
    fs::remove(txt);
    fs::remove(pcap);
    HeadlessRun run(dir, options);
    ASSERT_FALSE(run.Port().empty()) << run.Err();
    for (int i = 0; i < 2; ++i) {
      const std::string word = Mbpoll(run.Port(), "-a 1 -t 3 -r 0 -c 1");
      EXPECT_NE(word.find("[0]: \t4242"), std::string::npos) << word;
    }
    const int status = run.Stop();
    ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << run.Err();
    const bool wantText = options[0] == "--trace";
    const bool wantPcap = options.back() == pcap.string();
    EXPECT_EQ(fs::exists(txt), wantText);
    EXPECT_EQ(fs::exists(pcap), wantPcap);
    if (wantText) {
      std::istringstream lines(Slurp(txt));
      std::vector<std::string> all;
      for (std::string line; std::getline(lines, line);) all.push_back(line);
      ASSERT_EQ(all.size(), 4u) << Slurp(txt);
      // "dd.MM.yyyy h:mm:ss - 12 - <transaction> 00 00 00 06 01 04 00 00 00 01"
      EXPECT_NE(all[0].find(" - 12 - "), std::string::npos) << all[0];
      EXPECT_TRUE(all[0].ends_with(" 00 00 00 06 01 04 00 00 00 01")) << all[0];
      EXPECT_NE(all[1].find(" - 11 - "), std::string::npos) << all[1];
      EXPECT_TRUE(all[1].ends_with(" 00 00 00 05 01 04 02 10 92")) << all[1];
    }
    if (wantPcap && !tshark.empty()) {
      const std::string fields =
          velkor::testing::RunCommand(tshark + " -r " + pcap.string() +
                                      " -T fields -E separator=, -e mbtcp.unit_id"
                                      " -e modbus.func_code -e _ws.malformed 2>/dev/null")
              .out;
      EXPECT_EQ(fields, "1,4,\n1,4,\n1,4,\n1,4,\n");
    }
  }
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed: the capture was not read";
}

}  // namespace
