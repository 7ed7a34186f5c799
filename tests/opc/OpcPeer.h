#pragma once
// The node-opcua server of tests/opc/peer as a child process: started with pipes, ready once
// it prints its "listening <url>" line (waited for with a deadline), stopped by PID in the
// destructor. Its standard input stays open while it runs; when the test process dies the
// pipe closes and the server exits by itself.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

extern char** environ;

namespace velkor::testing {

class OpcPeer {
 public:
  // Empty when the peer cannot run here; the reason is then in Missing().
  static std::string Missing() {
#if !defined(VELKOR_NODE) || !defined(VELKOR_OPC_PEER_DIR)
    return "nodejs is not installed";
#else
    if (!std::filesystem::exists(std::string(VELKOR_OPC_PEER_DIR) +
                                 "/node_modules/node-opcua-server"))
      return "run `npm ci` in tests/opc/peer (./velkor.sh test does)";
    return {};
#endif
  }

  OpcPeer() {
#if defined(VELKOR_NODE) && defined(VELKOR_OPC_PEER_DIR)
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    // A folder per server: peers started at once by parallel tests never share one.
    static int s_count = 0;
    m_pki = std::string(VELKOR_OPC_PKI) + "/" + std::to_string(::getpid()) + "-" +
            std::to_string(++s_count);
    std::filesystem::create_directories(m_pki);
    const std::string script = std::string(VELKOR_OPC_PEER_DIR) + "/server.js";
    const std::string& pki = m_pki;
    const std::string log = m_pki + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char* argv[] = {VELKOR_NODE, script.c_str(), pki.c_str(), nullptr};
    if (posix_spawn(&m_pid, VELKOR_NODE, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    ReadUrl();
#endif
  }

  ~OpcPeer() { Stop(); }

  const std::string& Url() const { return m_url; }
  pid_t Pid() const { return m_pid; }
  // What the server wrote to its standard error, for a failure message.
  std::string Errors() const {
    std::ifstream in(m_pki + "/stderr.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  void Stop() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGCONT);  // a test may have paused it
      ::kill(m_pid, SIGTERM);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      int status = 0;
      while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          ::kill(m_pid, SIGKILL);
          ::waitpid(m_pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      m_pid = -1;
    }
    if (m_drain.joinable()) m_drain.join();
    for (int* fd : {&m_stdin, &m_stdout})
      if (*fd >= 0) ::close(*fd), *fd = -1;
    std::error_code ignored;
    if (!m_pki.empty()) std::filesystem::remove_all(m_pki, ignored);
  }

 private:
  // The first start writes the server's certificate, which takes a few seconds.
  void ReadUrl() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string text;
    char buffer[512];
    while (m_url.empty() && std::chrono::steady_clock::now() < deadline) {
      pollfd p{m_stdout, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, size_t(n));
      for (size_t at = text.find("listening "); at != std::string::npos;) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        m_url = text.substr(at + 10, end - at - 10);
        break;
      }
    }
    // Whatever it prints later must not fill the pipe and stall it.
    m_drain = std::thread([fd = m_stdout] {
      char sink[512];
      while (::read(fd, sink, sizeof sink) > 0) {
      }
    });
  }

  pid_t m_pid = -1;
  int m_stdin = -1, m_stdout = -1;
  std::string m_url, m_pki;
  std::thread m_drain;
};

}  // namespace velkor::testing
