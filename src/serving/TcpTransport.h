#pragma once
// TCP carriage on POSIX sockets (IPv4). TTCPAccept listens on one port and hands every
// accepted connection to its owner; TTCPServerClient runs one connection, passing what it
// receives to DataReceived and sending replies. Neither knows Modbus.
//
// Stopping must never hang: StopThread shuts a socket down before closing it, which makes
// a blocked accept or recv return at once. The listening socket uses SO_REUSEADDR, so a
// restart binds at once while a port truly in use still fails (and is retried).

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/AuxilThread.h"

namespace velkor {

// "a.b.c.d:port"
std::string PeerText(const sockaddr_in& peer);
// The calling thread's identifier in decimal, as server log lines show it.
std::string ThreadIdText();

class TTCPAccept : public TAuxilThread {
 public:
  using AcceptHandler = std::function<void(TTCPAccept&, int socket, const sockaddr_in& peer)>;

  explicit TTCPAccept(uint16_t port);
  ~TTCPAccept() override;

  const uint16_t Port;
  // errno of the last failed set-up; the owner reads and clears it.
  std::atomic<int> LastError{0};
  AcceptHandler OnAccept;  // set before Activate

  // Binds and listens now, on the caller's thread, so the port is known (and a failure
  // reported) before the thread starts; the thread retries while it fails. True on success.
  bool Listen();
  // The port actually bound (differs from Port when Port is 0), or 0 while not listening.
  uint16_t BoundPort() const { return m_boundPort.load(); }
  void StopThread() override;

 protected:
  void Execute() override;

 private:
  void InitSocket();     // Listen, on the thread and only while it runs
  void CloseListener();  // on the listener's own thread, or after it was joined

  std::atomic<int> m_socket{-1};
  std::atomic<uint16_t> m_boundPort{0};
  std::atomic<bool> m_stopped{false};
};

class TTCPServerClient : public TAuxilThread {
 public:
  using DisconnectHandler = std::function<void(TTCPServerClient&, int error)>;
  static constexpr size_t kBufferSize = 32768;
  static constexpr size_t kReceiveSize = 32000;

  TTCPServerClient(int socket, const sockaddr_in& peer);
  ~TTCPServerClient() override;

  std::atomic<int> LastError{0};
  // Called once, when the connection closes; set and cleared under ThreadLock().
  DisconnectHandler OnDisconnect;

  // Sends all of it (short writes and interrupted calls are retried); on failure halts the
  // connection, closes it and returns false.
  bool Send(const uint8_t* bytes, size_t length);
  bool IsConnected() const { return m_connected.load(); }
  void Disconnect();
  const sockaddr_in& Peer() const { return m_peer; }
  void StopThread() override;

 protected:
  void Execute() override;
  virtual void DataReceived(const uint8_t* bytes, size_t count) = 0;

 private:
  // The descriptor stays allocated (shut down) until the thread is joined: closing it
  // while the thread may still be in recv would let the number be reused under it.
  const int m_socket;
  std::atomic<bool> m_connected{true};
  sockaddr_in m_peer;
  std::vector<uint8_t> m_buffer;
};

}  // namespace velkor
