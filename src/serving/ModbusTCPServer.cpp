#include "serving/ModbusTCPServer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "model/ModbusRegister.h"
#include "model/TextUtil.h"
#include "runtime/Log.h"

namespace velkor {

// --- stream ---

bool MbapStream::Feed(std::span<const uint8_t> bytes, const Serve& serve) {
  if (!m_tail.empty()) {
    m_tail.insert(m_tail.end(), bytes.begin(), bytes.end());
    bytes = m_tail;
  }
  bool whole = true;
  size_t offset = 0;
  while (offset < bytes.size()) {
    const size_t left = bytes.size() - offset;
    if (left < 6) break;  // not even the length field yet
    const size_t adu = size_t(bytes[offset + 4] << 8 | bytes[offset + 5]) + 6;
    if (adu > kMaxTcpAdu) {
      // Garbage, complete or not: serving it only when it happened to arrive whole would
      // make what is served depend on how the network cut the stream.
      offset = bytes.size();
      whole = false;
      break;
    }
    if (adu > left) break;
    if (!serve(bytes.subspan(offset, adu))) break;
    offset += adu;
  }
  // Keep the unfinished rest (it may point into m_tail itself, hence the copy).
  std::vector<uint8_t> rest(bytes.begin() + ptrdiff_t(offset), bytes.end());
  m_tail.swap(rest);
  return whole;
}

// --- connection ---

TModbusTCPClient::TModbusTCPClient(TModbusTCPServer& server, int socket, const sockaddr_in& peer)
    : TTCPServerClient(socket, peer), m_server(server) {
  m_source = TraceSource{TraceSource::Kind::Tcp, &m_server};
  m_source.peerAddress = ntohl(peer.sin_addr.s_addr);
  m_source.peerPort = ntohs(peer.sin_port);
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (socket >= 0 && ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
    m_source.localAddress = ntohl(local.sin_addr.s_addr);
    m_source.localPort = ntohs(local.sin_port);
  }
}

TModbusTCPClient::~TModbusTCPClient() { StopThread(); }

const TDevicesList& TModbusTCPClient::Devices() const { return m_server.Devices(); }

TraceSource TModbusTCPClient::Source() const { return m_source; }

bool TModbusTCPClient::Send(const uint8_t* bytes, size_t length) {
  m_out.insert(m_out.end(), bytes, bytes + length);
  m_replies.push_back(m_out.size());
  return true;
}

bool TModbusTCPClient::Flush() {
  if (m_out.empty()) return true;
  const bool sent = TTCPServerClient::Send(m_out.data(), m_out.size());
  if (sent) {
    size_t begin = 0;
    for (size_t end : m_replies) {
      AddTrace(m_out.data() + begin, end - begin, Source(), kTraceSent);
      begin = end;
    }
  }
  m_out.clear();
  m_replies.clear();
  return sent;
}

void TModbusTCPClient::Delay(uint32_t ms) {
  Flush();  // replies already made do not wait for this one's delay
  WakeEvent.Wait(std::chrono::milliseconds(ms));
  WakeEvent.ResetEvent();
}

void TModbusTCPClient::DataReceived(const uint8_t* bytes, size_t count) {
  m_stream.Feed({bytes, count}, [this](std::span<const uint8_t> adu) {
    if (Terminated()) return false;
    ProcessRequest(*this, adu);
    return true;
  });
  Flush();
}

// --- server ---

TModbusTCPServer::TModbusTCPServer() {
  SetName("Сервер");
  LogMessage("TModbusTCPServer.Create - " + ThreadIdText());
}

TModbusTCPServer::~TModbusTCPServer() {
  LogMessage("TModbusTCPServer.Destroy - " + ThreadIdText());
  if (Running()) Stop();
}

void TModbusTCPServer::Start() {
  LogMessage("TModbusTCPServer.Start - " + ThreadIdText());
  LockGuard lock(m_lock);
  if (Running()) return;
  if (Mode) {
    m_listener = std::make_unique<TTCPAccept>(Port);
    m_listener->OnAccept = [this](TTCPAccept&, int socket, const sockaddr_in& peer) {
      ClientConnectEvent(socket, peer);
    };
    m_listener->Listen();  // ListeningPort is known when Start returns
    m_listener->Activate();
  } else {
    m_rtu = std::make_unique<TModbusRTUClient>(*this);
    m_rtu->BaudRate = BAUD;
    m_rtu->DataBits = BITS;
    m_rtu->Parity = PARITY;
    m_rtu->StopBits = STOPS;
    m_rtu->Interval = INTERVAL;
    m_rtu->PortName = COMMPORT;
    m_rtu->Open();  // a failure stays in LastError for Poll
  }
}

void TModbusTCPServer::RemoveDeadClients() {
  std::erase_if(m_clients, [](const std::unique_ptr<TModbusTCPClient>& client) {
    if (client->IsConnected()) return false;
    LogMessage("TModbusTCPServer.RemoveClient - " + ThreadIdText());
    return true;  // destroying it joins its (ended) thread
  });
}

void TModbusTCPServer::ClientConnectEvent(int socket, const sockaddr_in& peer) {
  LogMessage("TModbusTCPServer.ClientConnectEvent - " + ThreadIdText());
  LockGuard lock(m_lock);
  RemoveDeadClients();
  if (m_clients.size() >= MaxConnections) {
    const std::string text = "Подключение " + PeerText(peer) + " отклонено: открыто " +
                             std::to_string(MaxConnections) + " подключений";
    LogMessage("TModbusTCPServer.ClientConnectEvent - " + text);
    Protocol.Add(text);
    ::close(socket);
    return;
  }
  auto client = std::make_unique<TModbusTCPClient>(*this, socket, peer);
  client->OnDisconnect = [](TTCPServerClient& sender, int) {
    LogMessage("TModbusTCPServer.OnClientDisconnect - " + ThreadIdText());
    LockGuard clientLock(sender.ThreadLock());
    sender.OnDisconnect = nullptr;  // Disconnect runs a copy, so this is safe
  };
  LogMessage("TModbusTCPServer.AddClient - " + ThreadIdText());
  TModbusTCPClient* raw = client.get();
  m_clients.push_back(std::move(client));
  LogMessage("TModbusTCPClient.Start");
  raw->Activate();
}

void TModbusTCPServer::Stop() {
  LogMessage("TModbusTCPServer.Stop - " + ThreadIdText());
  if (m_listener) {
    m_listener->StopThread();
    m_listener.reset();
  }
  if (m_rtu) {
    m_rtu->StopThread();
    m_rtu.reset();
  }
  LockGuard lock(m_lock);
  for (auto& client : m_clients) {
    LockGuard clientLock(client->ThreadLock());
    client->OnDisconnect = nullptr;
  }
  m_clients.clear();  // each destructor wakes a reply delay, closes and joins
}

bool TModbusTCPServer::Poll() {
  if (m_listener) {
    if (const int error = m_listener->LastError.exchange(0)) Protocol.Add(SystemErrorText(error));
  }
  if (m_rtu) {
    if (const int error = m_rtu->LastError.exchange(0)) Protocol.Add(SystemErrorText(error));
  }
  return Running();
}

int TModbusTCPServer::ClientCount() const {
  LockGuard lock(m_lock);
  int count = 0;
  for (const auto& client : m_clients) count += client->IsConnected();
  return count;
}

size_t TModbusTCPServer::ConnectionObjects() const {
  LockGuard lock(m_lock);
  return m_clients.size();
}

uint16_t TModbusTCPServer::ListeningPort() const {
  return m_listener ? m_listener->BoundPort() : 0;
}

std::string TModbusTCPServer::DisplayName() const {
  return Name() + " (" + (Mode ? std::to_string(Port) : COMMPORT) + ")";
}

TDeviceClass* TModbusTCPServer::FindDevice(const std::string& name) const {
  for (const auto& device : Devices())
    if (device->Name() == name) return device.get();
  return nullptr;
}

TModbusRegister* TModbusTCPServer::FindTag(const std::string& fullName) const {
  for (const auto& device : Devices())
    if (TModbusRegister* tag = device->Tags().FindByFullName(fullName)) return tag;
  return nullptr;
}

std::string TModbusTCPServer::UniqueDeviceName(const std::string& name) const {
  std::string candidate = name;
  for (int k = 1; FindDevice(candidate); ++k) candidate = name + "_" + std::to_string(k);
  return candidate;
}

}  // namespace velkor
