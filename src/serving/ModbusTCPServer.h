#pragma once
// A configured server of the project: a Modbus TCP port (Mode true) or a Modbus RTU line.
// It owns its devices (ServerNode), while running its transport, and a protocol of its own
// failures that the user sees. A serial port that fails to open is not retried: the handler
// stays, idle, so the server counts as running and its protocol says why it is silent.
//
// A TCP connection costs a thread, so a server keeps at most kMaxConnections open; one
// more is closed at once and noted in the protocol. Connections whose peer has gone are
// freed when the next one arrives and at stop, so they never pile up.

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/DeviceClass.h"
#include "runtime/ThreadSafeLog.h"
#include "serving/ModbusProcessor.h"
#include "serving/ModbusRTUClient.h"
#include "serving/TcpTransport.h"

namespace velkor {

class TModbusTCPServer;

inline constexpr size_t kMaxConnections = 256;
// The largest Modbus TCP ADU: an unfinished receive tail announcing more is garbage.
inline constexpr size_t kMaxTcpAdu = 260;

// Cuts a TCP byte stream into Modbus TCP ADUs by their length fields. An ADU split over
// receives is completed from the kept tail. A header announcing more than kMaxTcpAdu bytes
// is no ADU: it is dropped with the rest of its receive, whether complete or not, and the
// next receive is framed from its first byte. So the ADUs served never depend on where the
// stream was cut, unless it held such garbage.
class MbapStream {
 public:
  // Returns false to stop: the rest of the receive is kept, unserved, as the tail.
  using Serve = std::function<bool(std::span<const uint8_t> adu)>;

  // Hands every complete ADU of the stream so far to `serve`, in order. Returns false when
  // it dropped bytes as garbage.
  bool Feed(std::span<const uint8_t> bytes, const Serve& serve);
  size_t TailSize() const { return m_tail.size(); }

 private:
  std::vector<uint8_t> m_tail;  // an unfinished ADU from earlier receives
};

// One Modbus TCP connection. TCP is a byte stream, cut by an MbapStream; the replies to the ADUs of
// one receive go out together, except where a reply delay makes the earlier ones leave first.
class TModbusTCPClient : public TTCPServerClient, public RequestConnection {
 public:
  TModbusTCPClient(TModbusTCPServer& server, int socket, const sockaddr_in& peer);
  ~TModbusTCPClient() override;

  TModbusTCPServer& Server() const { return m_server; }

  // RequestConnection
  const TDevicesList& Devices() const override;
  bool Send(const uint8_t* bytes, size_t length) override;
  void Delay(uint32_t ms) override;
  bool Terminated() const override { return TAuxilThread::Terminated(); }
  TraceSource Source() const override;

  // Frames the bytes of one receive (public for tests that drive it without a socket).
  void DataReceived(const uint8_t* bytes, size_t count) override;

 private:
  bool Flush();

  TModbusTCPServer& m_server;
  TraceSource m_source;  // made once: a traced frame costs no system call
  MbapStream m_stream;
  std::vector<uint8_t> m_out;     // replies not yet sent
  std::vector<size_t> m_replies;  // where each reply in m_out ends, for the trace
};

class TModbusTCPServer : public ServerNode {
 public:
  TModbusTCPServer();
  ~TModbusTCPServer() override;

  std::string Desc;
  bool Mode = true;  // true: Modbus TCP; false: Modbus RTU
  TThreadSafeLog Protocol{kProtocolCapacity};
  uint16_t Port = 503;
  int32_t BAUD = 9600;
  uint8_t BITS = 8;
  uint8_t PARITY = 0;  // 0 none, 1 even, 2 odd
  uint8_t STOPS = 0;   // 0 one stop bit, 2 two
  int32_t INTERVAL = 40;
  std::string COMMPORT = "COM1";
  size_t MaxConnections = kMaxConnections;

  void Start();
  void Stop();
  bool Running() const { return m_listener != nullptr || m_rtu != nullptr; }
  // Reports pending transport errors into the protocol; true while running (its devices
  // then get their update pass).
  bool Poll();
  int ClientCount() const;
  // Connection objects held, open or dead (dead ones wait for the next connect or stop).
  size_t ConnectionObjects() const;
  // The port the listener bound, 0 while not listening; valid when Start returns (so Port 0,
  // a port the system chooses, can be read back at once).
  uint16_t ListeningPort() const;

  std::string DisplayName() const;
  TDeviceClass* FindDevice(const std::string& name) const;
  TModbusRegister* FindTag(const std::string& fullName) const;
  std::string UniqueDeviceName(const std::string& name) const;

 private:
  void ClientConnectEvent(int socket, const sockaddr_in& peer);
  void RemoveDeadClients();

  mutable TCritSection m_lock;  // the clients list and Start
  std::unique_ptr<TTCPAccept> m_listener;
  std::vector<std::unique_ptr<TModbusTCPClient>> m_clients;
  // The serial handler while an RTU server runs, also when its port failed to open.
  std::unique_ptr<TModbusRTUClient> m_rtu;
};

}  // namespace velkor
