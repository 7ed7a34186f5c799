#pragma once
// A serial line without hardware: socat joins two pseudo-terminals, so bytes written on one
// end arrive on the other. The server opens A, the test (or a real master) talks on B.
// socat runs as our child; the destructor ends it by its PID and reaps it.
//
// A pty hangs up when the last holder of its slave closes it, and socat then quits; B is
// therefore held open here for the pair's life, so masters may open and close it at will.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../TestUtil.h"

namespace velkor::testing {

class PtyPair {
 public:
  PtyPair() {
    const std::string socat = FindProgram("socat");
    if (socat.empty()) {
      m_error = "socat is not installed: no pseudo-terminal pair for serial tests";
      return;
    }
    char dir[] = "/tmp/velkor-pty-XXXXXX";
    if (!::mkdtemp(dir)) {
      m_error = "mkdtemp failed";
      return;
    }
    m_dir = dir;
    const std::string log = m_dir + "/socat.log";
    std::vector<std::string> args = {socat, "-d", "-d", "pty,raw,echo=0,link=" + A(),
                                     "pty,raw,echo=0,link=" + B()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned =
        ::posix_spawn(&m_pid, socat.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      m_pid = -1;
      m_error = "socat did not start";
      return;
    }
    // socat creates the links before it starts moving bytes; until then writes just wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    struct stat st;
    while (::stat(A().c_str(), &st) != 0 || ::stat(B().c_str(), &st) != 0) {
      if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
        m_pid = -1;  // reaped (or gone): never signal that number again
        m_error = "socat made no pty pair: " + Log();
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        m_error = "socat made no pty pair in time: " + Log();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_b = ::open(B().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (m_b < 0 || ::tcgetattr(m_b, &settings) != 0) {
      m_error = "cannot open " + B();
      return;
    }
    ::cfmakeraw(&settings);  // whatever socat has applied so far: no echo, no line editing
    ::tcsetattr(m_b, TCSANOW, &settings);
  }

  ~PtyPair() {
    End();
    if (m_b >= 0) ::close(m_b);
    if (!m_dir.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_dir, ignored);
    }
  }
  // Ends socat now, by its PID, and reaps it: the line hangs up under whoever holds A.
  void End() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return m_error.empty(); }
  const std::string& Error() const { return m_error; }
  std::string A() const { return m_dir + "/a"; }
  std::string B() const { return m_dir + "/b"; }
  // The descriptor of B held by the pair (raw, non-blocking): the test's side of the line.
  int BFd() const { return m_b; }

  void Write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(m_b, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += size_t(n);
      } else {
        pollfd p{m_b, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
      }
    }
  }

  // Exactly n bytes from B, or what arrived before the deadline.
  std::vector<uint8_t> Read(size_t n,
                            std::chrono::milliseconds limit = std::chrono::seconds(3)) const {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{m_b, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
      uint8_t buf[512];
      const ssize_t got = ::read(m_b, buf, std::min(sizeof buf, n - out.size()));
      if (got > 0) out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

 private:
  std::string Log() const {
    std::ifstream in(m_dir + "/socat.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string m_dir;
  std::string m_error;
  pid_t m_pid = -1;
  int m_b = -1;
};

}  // namespace velkor::testing
