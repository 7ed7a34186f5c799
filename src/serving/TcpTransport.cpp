#include "serving/TcpTransport.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "runtime/CrashReport.h"
#include "runtime/Log.h"

namespace velkor {

using namespace std::chrono_literals;

std::string PeerText(const sockaddr_in& peer) {
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

std::string ThreadIdText() { return std::to_string(gettid()); }

// --- listener ---

TTCPAccept::TTCPAccept(uint16_t port) : TAuxilThread("tcp-accept"), Port(port) {
  LogMessage("TTCPAccept.Create IN, Port = " + std::to_string(port));
  LogMessage("TTCPAccept.Create OUT");
}

TTCPAccept::~TTCPAccept() {
  LogMessage("TTCPAccept.Destroy IN");
  StopThread();
  LogMessage("TTCPAccept.Destroy OUT");
}

void TTCPAccept::InitSocket() {
  LockGuard lock(ThreadLock());
  if (Paused()) return;
  Listen();
}

bool TTCPAccept::Listen() {
  LockGuard lock(ThreadLock());
  LogMessage("TTCPAccept.InitSocket IN");
  if (m_socket.load() >= 0) return true;
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    LastError = errno;
    LogMessage("TTCPAccept.InitSocket - Failed to create socket!");
    return false;
  }
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(Port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    LastError = errno;  // before the log call can change it
    LogMessage("TTCPAccept.InitSocket - Failed to bind socket!");
    ::close(s);
    return false;
  }
  // A backlog of a handful drops the SYNs of masters that connect in a burst, each one
  // then waiting a second for its retransmit; the system's maximum costs nothing.
  if (::listen(s, SOMAXCONN) != 0) {
    LastError = errno;  // before the log call can change it
    LogMessage("TTCPAccept.InitSocket - Failed to listen socket!");
    ::close(s);
    return false;
  }
  socklen_t size = sizeof address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    m_boundPort = ntohs(address.sin_port);
  m_socket = s;
  LogMessage("TTCPAccept.InitSocket - OUT");
  return true;
}

void TTCPAccept::CloseListener() {
  LockGuard lock(ThreadLock());
  const int s = m_socket.exchange(-1);
  if (s < 0) return;
  ::close(s);
  m_boundPort = 0;
}

void TTCPAccept::Execute() {
  LowerPriority();
  LogMessage("TTCPAccept.Execute IN");
  while (!Terminated()) {
    try {
      if (!RunEvent.Wait(10ms)) continue;
      InitSocket();
      if (m_socket.load() < 0) {
        WakeEvent.Wait(100ms);
        InitSocket();
        continue;
      }
      sockaddr_in peer{};
      socklen_t size = sizeof peer;
      const int client =
          ::accept4(m_socket.load(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
      if (Terminated()) {
        LogMessage("TTCPAccept.Execute - Terminating thread");
        if (client >= 0) ::close(client);
        return;  // a stop seen here is logged by the line above, not by OUT
      }
      if (client < 0) {
        // Out of descriptors and the like: do not spin while it lasts.
        if (errno != EINTR) WakeEvent.Wait(10ms);
        continue;
      }
      if (Paused()) {
        ::close(client);
        continue;
      }
      if (OnAccept)
        OnAccept(*this, client, peer);
      else
        ::close(client);
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      LogMessage("TTCPAccept.Execute - " + message);
      ReportCrash(Name(), message);
    }
  }
  LogMessage("TTCPAccept.Execute OUT");
}

void TTCPAccept::StopThread() {
  if (m_stopped.exchange(true)) return;  // the destructor stops too
  LogMessage("TTCPAccept.StopThread IN");
  Halt();
  {
    LockGuard lock(ThreadLock());
    if (m_socket.load() >= 0) ::shutdown(m_socket.load(), SHUT_RD);  // wakes a blocked accept
  }
  WakeEvent.Set();
  WaitFor();
  CloseListener();
  LogMessage("TTCPAccept.StopThread OUT");
}

// --- connection ---

TTCPServerClient::TTCPServerClient(int socket, const sockaddr_in& peer)
    : TAuxilThread("tcp-client"), m_socket(socket), m_peer(peer) {}

TTCPServerClient::~TTCPServerClient() {
  StopThread();
  ::close(m_socket);
}

bool TTCPServerClient::Send(const uint8_t* bytes, size_t length) {
  size_t sent = 0;
  while (sent < length && m_connected.load()) {
    const ssize_t n = ::send(m_socket, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      LastError = n < 0 ? errno : 0;
      break;
    }
  }
  if (sent == length && length > 0) return true;
  Halt();
  Disconnect();
  return false;
}

void TTCPServerClient::Disconnect() {
  DisconnectHandler handler;
  {
    LockGuard lock(ThreadLock());
    if (!m_connected.exchange(false)) return;
    ::shutdown(m_socket, SHUT_RDWR);  // wakes a blocked recv; the peer sees the close
    handler = OnDisconnect;
  }
  if (handler) handler(*this, LastError.load());
}

void TTCPServerClient::Execute() {
  LowerPriority();
  WakeEvent.ResetEvent();
  LastError = 0;
  m_buffer.resize(kBufferSize);
  while (!Terminated()) {
    try {
      if (!RunEvent.Wait(10ms)) continue;
      const ssize_t n =
          m_connected.load() ? ::recv(m_socket, m_buffer.data(), kReceiveSize, 0) : -1;
      if (n < 0 && errno == EINTR) continue;
      LastError = n < 0 ? errno : 0;
      if (Terminated()) break;
      if (n > 0) {
        DataReceived(m_buffer.data(), size_t(n));
      } else {
        // Peer gone: nothing more will arrive, so the thread ends here instead of idling;
        // the owner frees the object at the next connection or at stop.
        Disconnect();
        break;
      }
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      LogMessage("TTCPServerClient.Execute - " + message);
      ReportCrash(Name(), message);
    }
  }
  m_buffer.clear();
  m_buffer.shrink_to_fit();
}

void TTCPServerClient::StopThread() {
  Halt();
  WakeEvent.Set();  // ends a reply delay in progress
  Disconnect();
  WaitFor();
}

}  // namespace velkor
