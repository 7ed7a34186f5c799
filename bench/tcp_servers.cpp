#include "tcp_servers.h"

#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "model/DeviceClass.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {
namespace {

constexpr int kMaxChildren = 4;
constexpr int kPortWaitMs = 10000;
constexpr int kStopGraceMs = 5000;

// Lock-free atomics, so signal handlers may read them.
std::atomic<pid_t> g_children[kMaxChildren];

void Remember(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void Forget(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t expected = pid;
    slot.compare_exchange_strong(expected, 0);
  }
}

void SleepMs(long ms) {
  timespec delay{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

// Async-signal-safe. Returns the wait status, or -1 when the child had to be killed.
int EndChild(pid_t pid) {
  kill(pid, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < kStopGraceMs; waited += 10) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return status;
    SleepMs(10);
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

// Blocks SIGTERM in the calling (only) thread, so every thread created later inherits the
// mask and the signal waits for sigwait or a signalfd.
sigset_t BlockTerm() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return set;
}

bool WritePort(int fd, uint16_t port) {
  const bool ok = write(fd, &port, sizeof port) == ssize_t(sizeof port);
  close(fd);
  return ok;
}

int RunOurs(int portFd) {
  sigset_t term = BlockTerm();
  TModbusTCPServer server;
  server.Port = 0;
  auto device = std::make_unique<TDeviceClass>();
  device->Number = 1;
  server.Devices().Add(std::move(device));
  server.Start();  // bound when it returns
  if (server.ListeningPort() == 0 || !WritePort(portFd, server.ListeningPort())) {
    server.Stop();
    return 2;
  }
  int signal = 0;
  sigwait(&term, &signal);
  server.Stop();
  return 0;
}

// Serves what one readable client had sent when select() saw it. libmodbus takes exactly
// one ADU per modbus_receive, so pipelined requests already buffered are served in a row
// instead of costing one select() round each; requests arriving meanwhile wait for the
// next round, so a quick client cannot starve the others.
bool ServeClient(modbus_t* ctx, modbus_mapping_t* mapping, int fd, uint8_t* query) {
  int buffered = 0;
  if (ioctl(fd, FIONREAD, &buffered) != 0) buffered = 0;
  do {
    modbus_set_socket(ctx, fd);
    const int rc = modbus_receive(ctx, query);
    if (rc == -1) return false;
    if (rc == 0) break;  // a request not for this server: nothing to say how long it was
    modbus_reply(ctx, query, rc, mapping);
    buffered -= rc;
  } while (buffered > 0);
  return true;
}

int RunReference(int portFd) {
  sigset_t term = BlockTerm();
  const int termFd = signalfd(-1, &term, SFD_CLOEXEC);
  // Our server's threads lower their priority by one; the reference does the same, so
  // both meet the load generator on equal terms.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);
  if (errno == 0) setpriority(PRIO_PROCESS, 0, nice + 1);

  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  if (!ctx || termFd < 0) return 2;
  const int listenFd = modbus_tcp_listen(ctx, 64);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  if (listenFd < 0 || getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
    return 2;
  modbus_mapping_t* mapping = modbus_mapping_new(65536, 65536, 65536, 65536);
  if (!mapping || !WritePort(portFd, ntohs(bound.sin_port))) return 2;

  std::vector<int> clients;
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listenFd, &readable);
    FD_SET(termFd, &readable);
    int maxFd = std::max(listenFd, termFd);
    for (int fd : clients) {
      FD_SET(fd, &readable);
      maxFd = std::max(maxFd, fd);
    }
    if (select(maxFd + 1, &readable, nullptr, nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (FD_ISSET(termFd, &readable)) break;
    if (FD_ISSET(listenFd, &readable)) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= FD_SETSIZE) {
        close(fd);
      } else if (fd >= 0) {
        // libmodbus sends each reply on its own; without this, Nagle would hold the
        // replies to pipelined requests back until the previous one is acknowledged.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        clients.push_back(fd);
      }
    }
    for (size_t i = 0; i < clients.size();) {
      const int fd = clients[i];
      if (FD_ISSET(fd, &readable) && !ServeClient(ctx, mapping, fd, query)) {
        close(fd);
        clients[i] = clients.back();  // not in this round's set unless it was readable
        clients.pop_back();
        continue;
      }
      ++i;
    }
  }
  for (int fd : clients) close(fd);
  close(listenFd);
  modbus_mapping_free(mapping);
  modbus_free(ctx);
  return 0;
}

TChildServer ForkServer(const std::string& name, const std::function<int(int)>& body) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::to_string(errno));
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    close(fds[0]);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    int code = 3;
    try {
      code = body(fds[1]);
    } catch (...) {
    }
    _exit(code);
  }
  Remember(pid);
  close(fds[1]);
  TChildServer child{name, pid, 0};
  pollfd wait{fds[0], POLLIN, 0};
  uint16_t port = 0;
  const bool got = poll(&wait, 1, kPortWaitMs) == 1 &&
                   read(fds[0], &port, sizeof port) == ssize_t(sizeof port) && port != 0;
  close(fds[0]);
  if (!got) {
    StopChild(child);
    throw std::runtime_error(name + " server did not report a listening port");
  }
  child.Port = port;
  return child;
}

std::string StatusText(const TChildServer& child, int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status)) return child.Name + ": exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return child.Name + ": ended by signal " + std::to_string(WTERMSIG(status));
  return child.Name + ": wait status " + std::to_string(status);
}

}  // namespace

TChildServer StartOurServer() { return ForkServer("velkor", RunOurs); }

TChildServer StartReferenceServer() { return ForkServer("libmodbus", RunReference); }

std::string StopChild(TChildServer& child) {
  if (child.Pid <= 0) return {};
  const int status = EndChild(child.Pid);
  Forget(child.Pid);
  child.Pid = -1;
  if (status < 0) return child.Name + ": no exit within 5 s of SIGTERM, killed";
  return StatusText(child, status);
}

std::string CheckChild(TChildServer& child) {
  if (child.Pid <= 0) return child.Name + ": not running";
  int status = 0;
  if (waitpid(child.Pid, &status, WNOHANG) != child.Pid) return {};
  Forget(child.Pid);
  child.Pid = -1;
  const std::string how = StatusText(child, status);
  return how.empty() ? child.Name + ": exited early with status 0" : how;
}

void StopAllChildren() {
  for (auto& slot : g_children) {
    const pid_t pid = slot.exchange(0);
    if (pid > 0) EndChild(pid);
  }
}

}  // namespace velkor
