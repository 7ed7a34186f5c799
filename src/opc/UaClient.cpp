#include "opc/UaClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace velkor::opc {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr StatusCode kBadNoSubscription = 0x80790000;
constexpr StatusCode kBadTooManyPublishRequests = 0x80780000;

std::string Errno(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(std::min<int64_t>(left, 1 << 30));
}

std::string RandomBytes(size_t n) {
  std::random_device device;
  std::string out(n, '\0');
  for (char& c : out) c = char(device());
  return out;
}

}  // namespace

std::optional<EndpointAddress> ParseEndpointUrl(std::string_view url) {
  constexpr std::string_view kScheme = "opc.tcp://";
  if (url.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  std::string_view rest = url.substr(kScheme.size());
  rest = rest.substr(0, rest.find('/'));
  EndpointAddress out;
  std::string_view port;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    if (!rest.empty() && rest[0] != ':') return std::nullopt;
    if (!rest.empty())
      port = rest.substr(1);
    else
      port = {};
  } else {
    const size_t colon = rest.find(':');
    out.host = rest.substr(0, colon);
    if (colon != std::string_view::npos) port = rest.substr(colon + 1);
    if (colon != std::string_view::npos && port.empty()) return std::nullopt;
  }
  if (out.host.empty()) return std::nullopt;
  for (char c : out.host)
    if (c <= ' ' || c == '/' || c == '?' || c == '#' || c == '@') return std::nullopt;
  if (!port.empty()) {
    if (port.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + uint32_t(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    out.port = uint16_t(value);
  }
  return out;
}

struct UaClient::Pending {
  bool done = false;
  std::vector<uint8_t> body;
  std::string error;
  StatusCode code = 0;
};

UaClient::UaClient(ClientOptions options)
    : m_options(std::move(options)), m_assembler(m_options.limits) {}

UaClient::~UaClient() { Disconnect(); }

bool UaClient::Connected() const {
  std::lock_guard lock(m_mutex);
  return m_fd >= 0 && !m_lost;
}

std::string UaClient::LostReason() const {
  std::lock_guard lock(m_mutex);
  return m_lostReason;
}

uint32_t UaClient::TokenId() const {
  std::lock_guard lock(m_sendMutex);
  return m_tokenId;
}

size_t UaClient::Renewals() const {
  std::lock_guard lock(m_mutex);
  return m_renewals;
}

void UaClient::ThrowIfLost() const {
  std::lock_guard lock(m_mutex);
  if (m_fd < 0) throw OpcError("OPC UA client is not connected", status::kBadConnectionClosed);
  if (m_lost) throw OpcError(m_lostReason, status::kBadConnectionClosed);
}

void UaClient::SendAll(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw OpcError("OPC UA connection lost: " + Errno(errno), status::kBadConnectionClosed);
    bytes = bytes.subspan(size_t(n));
  }
}

// Before the receiver runs: the handshake reads its replies itself, with a deadline.
ServerMessage UaClient::ReceiveOne(Clock::time_point deadline) {
  std::optional<ServerMessage> got;
  uint8_t buffer[4096];
  while (!got) {
    pollfd p{m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) throw OpcError("OPC UA server did not answer in time", status::kBadTimeout);
    // Read only what is there, at most up to the next message, so nothing is read ahead.
    const ssize_t n = ::recv(m_fd, buffer, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw OpcError(n == 0 ? "OPC UA server closed the connection"
                            : "OPC UA connection failed: " + Errno(errno),
                     status::kBadConnectionClosed);
    m_assembler.Feed({buffer, size_t(n)}, [&](ServerMessage&& m) {
      if (got) throw OpcError("OPC UA transport error: an unexpected message");
      got = std::move(m);
    });
  }
  return std::move(*got);
}

template <class Decode>
auto UaClient::Call(const Encoder& encode, Decode decode, std::optional<milliseconds> timeout) {
  const std::vector<uint8_t> body =
      Exchange("MSG", encode, timeout.value_or(m_options.requestTimeout));
  UaReader r(body);
  try {
    return decode(r);
  } catch (const OpcError& e) {
    // A response that does not decode is a broken peer; a failed service is not.
    if (e.Status() == status::kBadDecodingError) Lose(e.what());
    throw;
  }
}

void UaClient::Open(const std::string& endpointUrl) {
  Disconnect();
  const auto address = ParseEndpointUrl(endpointUrl);
  if (!address) throw OpcError("not an opc.tcp:// endpoint URL: " + endpointUrl);
  m_url = endpointUrl;
  {
    std::lock_guard lock(m_mutex);
    m_lost = m_stopping = m_lostReported = m_session = false;
    m_lostReason.clear();
    m_renewals = 0;
    m_authToken = {};
  }
  m_assembler = MessageAssembler(m_options.limits);
  m_sequence = 1;
  const auto deadline = Clock::now() + m_options.connectTimeout;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address->port);
  if (const int rc = ::getaddrinfo(address->host.c_str(), port.c_str(), &hints, &found); rc != 0)
    throw OpcError("cannot resolve " + address->host + ": " + gai_strerror(rc),
                   status::kBadCommunicationError);
  std::string failure = "no address";
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc < 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      while ((rc = ::poll(&p, 1, MsLeft(deadline))) < 0 && errno == EINTR) {
      }
      int error = ETIMEDOUT;
      socklen_t len = sizeof error;
      if (rc > 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
      rc = error == 0 ? 0 : -1;
      errno = error;
    }
    if (rc < 0) {
      failure = Errno(errno);
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0)
    throw OpcError("cannot connect to " + endpointUrl + ": " + failure,
                   status::kBadCommunicationError);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  {
    std::lock_guard lock(m_mutex);
    m_fd = fd;
  }
  try {
    SendAll(EncodeHello(m_options.limits, endpointUrl));
    ServerMessage ack = ReceiveOne(deadline);
    if (ack.kind != MessageKind::Acknowledge)
      throw OpcError("OPC UA transport error: no Acknowledge to Hello");
    m_server = DecodeAcknowledge(ack.body);

    UaWriter request;
    EncodeOpenSecureChannel(request, {{}, m_nextRequestId, 0}, false, m_options.channelLifetimeMs);
    for (const auto& chunk : EncodeChunks("OPN", 0, 0, m_sequence, m_nextRequestId++, request.Out(),
                                          m_options.limits, m_server))
      SendAll(chunk);
    ServerMessage reply = ReceiveOne(deadline);
    if (reply.kind != MessageKind::Open)
      throw OpcError("OPC UA transport error: no OpenSecureChannel response");
    UaReader r(reply.body);
    const auto opened = DecodeOpenSecureChannel(r);
    if (opened.channelId == 0 || opened.channelId != reply.channelId)
      throw OpcError("OPC UA transport error: secure channel id " +
                     std::to_string(opened.channelId) + " in a chunk of " +
                     std::to_string(reply.channelId));
    m_channelId = opened.channelId;
    m_assembler.SetChannelId(m_channelId);
    {
      std::lock_guard lock(m_sendMutex);
      m_tokenId = opened.tokenId;
    }
    m_lifetimeMs = std::max<uint32_t>(opened.revisedLifetimeMs, 1000);
  } catch (...) {
    std::lock_guard lock(m_mutex);
    ::close(m_fd);
    m_fd = -1;
    throw;
  }
  m_lastTraffic = Clock::now();
  m_receiver = std::thread([this] { Receiver(); });
  m_keeper = std::thread([this] { Keeper(); });
}

void UaClient::OpenChannel(const std::string& endpointUrl) {
  m_wantSession = false;
  Open(endpointUrl);
}

void UaClient::Connect(const std::string& endpointUrl) {
  m_wantSession = true;
  Open(endpointUrl);
  try {
    const std::string nonce = RandomBytes(32);
    const auto session = Call(
        [&](UaWriter& w, const RequestHeader& h) {
          EncodeCreateSession(w, h, m_url, m_options.sessionName, nonce,
                              m_options.sessionTimeoutMs);
        },
        DecodeCreateSession, m_options.connectTimeout);
    {
      std::lock_guard lock(m_mutex);
      m_authToken = session.authenticationToken;
    }
    // The anonymous policy of a None endpoint; "anonymous" when the server lists none.
    std::string policyId = "anonymous";
    for (const EndpointDescription& e : session.endpoints) {
      if (e.securityMode != 1) continue;
      for (const UserTokenPolicy& p : e.userIdentityTokens)
        if (p.tokenType == 0) policyId = p.policyId;
    }
    Call([&](UaWriter& w, const RequestHeader& h) { EncodeActivateSession(w, h, policyId); },
         DecodeActivateSession, m_options.connectTimeout);
    std::lock_guard lock(m_mutex);
    m_session = true;
  } catch (...) {
    Disconnect();
    throw;
  }
}

std::vector<uint8_t> UaClient::Exchange(const char* type, const Encoder& encode,
                                        milliseconds timeout) {
  auto pending = std::make_shared<Pending>();
  RequestHeader header;
  {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) throw OpcError("OPC UA client is not connected", status::kBadConnectionClosed);
    if (m_lost) throw OpcError(m_lostReason, status::kBadConnectionClosed);
    header.requestHandle = m_nextRequestId++;
    if (m_nextRequestId == 0) m_nextRequestId = 1;
    header.authenticationToken = m_authToken;
    header.timeoutHintMs = uint32_t(timeout.count());
    m_pending[header.requestHandle] = pending;
  }
  const uint32_t requestId = header.requestHandle;
  try {
    UaWriter body;
    encode(body, header);
    std::lock_guard lock(m_sendMutex);
    for (const auto& chunk : EncodeChunks(type, m_channelId, m_tokenId, m_sequence, requestId,
                                          body.Out(), m_options.limits, m_server))
      SendAll(chunk);
  } catch (const OpcError& e) {
    {
      std::lock_guard lock(m_mutex);
      m_pending.erase(requestId);
    }
    if (e.Status() == status::kBadConnectionClosed) Lose(e.what());
    throw;
  }
  std::unique_lock lock(m_mutex);
  const bool answered = m_cv.wait_for(lock, timeout, [&] { return pending->done || m_lost; });
  m_pending.erase(requestId);
  if (pending->done && pending->error.empty()) return std::move(pending->body);
  if (pending->done) throw OpcError(pending->error, pending->code);
  if (m_lost) throw OpcError(m_lostReason, status::kBadConnectionClosed);
  (void)answered;
  lock.unlock();
  const std::string reason =
      "OPC UA server did not answer within " + std::to_string(timeout.count()) + " ms";
  Lose(reason);
  throw OpcError(reason, status::kBadTimeout);
}

void UaClient::Lose(const std::string& reason) {
  LostHandler report;
  {
    std::lock_guard lock(m_mutex);
    if (m_lost || m_fd < 0) return;
    m_lost = true;
    m_lostReason = reason;
    ::shutdown(m_fd, SHUT_RDWR);  // wakes the receiver
    if (!m_stopping && !m_lostReported) {
      m_lostReported = true;
      report = m_onLost;
    }
  }
  m_cv.notify_all();
  if (report) report(reason);
}

void UaClient::Receiver() {
  std::vector<uint8_t> buffer(65536);
  try {
    for (;;) {
      const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Lose(n == 0 ? "OPC UA server closed the connection"
                    : "OPC UA connection failed: " + Errno(errno));
        return;
      }
      m_assembler.Feed({buffer.data(), size_t(n)}, [&](ServerMessage&& m) {
        std::lock_guard lock(m_mutex);
        m_lastTraffic = Clock::now();
        if (m.kind == MessageKind::Acknowledge)
          throw OpcError("OPC UA transport error: an Acknowledge on an open channel");
        auto it = m_pending.find(m.requestId);
        if (it == m_pending.end()) return;  // a reply to a request that timed out
        Pending& p = *it->second;
        p.done = true;
        if (m.kind == MessageKind::Abort) {
          UaReader r(m.body);
          p.code = r.U32();
          p.error = "OPC UA server aborted the request: " + StatusText(p.code) + " " + r.String();
        } else {
          p.body = std::move(m.body);
        }
        m_cv.notify_all();
      });
    }
  } catch (const std::exception& e) {
    Lose(e.what());
  }
}

void UaClient::Renew() {
  const auto body = Exchange(
      "OPN",
      [&](UaWriter& w, const RequestHeader& h) {
        RequestHeader plain = h;
        plain.authenticationToken = {};
        EncodeOpenSecureChannel(w, plain, true, m_options.channelLifetimeMs);
      },
      m_options.requestTimeout);
  UaReader r(body);
  OpenSecureChannelResponse renewed;
  try {
    renewed = DecodeOpenSecureChannel(r);
  } catch (const OpcError& e) {
    Lose(e.what());
    throw;
  }
  if (renewed.channelId != m_channelId) {
    Lose("OPC UA transport error: renewal for another secure channel");
    return;
  }
  {
    std::lock_guard lock(m_sendMutex);
    m_tokenId = renewed.tokenId;
  }
  std::lock_guard lock(m_mutex);
  m_lifetimeMs = std::max<uint32_t>(renewed.revisedLifetimeMs, 1000);
  ++m_renewals;
}

void UaClient::Keeper() {
  auto renewAt = Clock::now() + milliseconds(m_lifetimeMs * 3 / 4);
  std::unique_lock lock(m_mutex);
  while (!m_lost && !m_stopping) {
    const auto pingAt = m_lastTraffic + m_options.keepAliveInterval;
    m_cv.wait_until(lock, std::min(renewAt, pingAt), [&] { return m_lost || m_stopping; });
    if (m_lost || m_stopping) return;
    const auto now = Clock::now();
    const bool renew = now >= renewAt;
    const bool ping = now >= m_lastTraffic + m_options.keepAliveInterval;
    if (!renew && !ping) continue;
    const bool session = m_session;
    // While the session is being made, its own requests show that the server lives.
    if (!renew && m_wantSession && !session) {
      m_lastTraffic = now;
      continue;
    }
    lock.unlock();
    try {
      if (renew) {
        Renew();
        renewAt = Clock::now() + milliseconds(m_lifetimeMs * 3 / 4);
      } else if (session) {
        Read({NodeId::Numeric(0, 2259)});  // ServerStatus.State
      } else {
        GetEndpoints();
      }
    } catch (const OpcError& e) {
      // Time-outs and broken replies already ended the connection; a failed service on a
      // ping means the session is gone.
      Lose(e.what());
    }
    lock.lock();
    m_lastTraffic = std::max(m_lastTraffic, now);
  }
}

void UaClient::Publisher() {
  std::unique_lock lock(m_mutex);
  while (!m_lost && !m_stopping) {
    if (m_subscriptions.empty()) {
      m_cv.wait(lock, [&] { return m_lost || m_stopping || !m_subscriptions.empty(); });
      continue;
    }
    // Long enough for the slowest subscription's keep-alive, then some.
    double keepAliveMs = 0;
    for (const auto& [id, s] : m_subscriptions)
      keepAliveMs = std::max(keepAliveMs, s.params.publishingIntervalMs *
                                              std::max<uint32_t>(s.params.maxKeepAliveCount, 1));
    const auto timeout = milliseconds(int64_t(keepAliveMs)) + m_options.requestTimeout;
    std::vector<Acknowledgement> acks = std::move(m_acks);
    m_acks.clear();
    lock.unlock();
    PublishResponse response;
    try {
      response = Call([&](UaWriter& w, const RequestHeader& h) { EncodePublish(w, h, acks); },
                      DecodePublish, timeout);
    } catch (const OpcError& e) {
      lock.lock();
      if (e.Status() == kBadNoSubscription || e.Status() == kBadTooManyPublishRequests) {
        m_cv.wait_for(lock, milliseconds(100), [&] { return m_lost || m_stopping; });
        continue;
      }
      if (!m_lost && !m_stopping) {
        lock.unlock();
        Lose(e.what());
        lock.lock();
      }
      continue;
    }
    lock.lock();
    auto it = m_subscriptions.find(response.subscriptionId);
    if (!response.keepAlive) m_acks.push_back({response.subscriptionId, response.sequenceNumber});
    if (it == m_subscriptions.end()) continue;
    const DataChangeHandler onChange = it->second.onChange;
    const StatusHandler onStatus = m_onStatus;
    lock.unlock();
    for (const ItemChange& change : response.changes)
      if (onChange) onChange(change.clientHandle, change.value);
    for (StatusCode s : response.statusChanges)
      if (onStatus) onStatus(response.subscriptionId, s);
    lock.lock();
  }
}

std::vector<EndpointDescription> UaClient::GetEndpoints() {
  return Call([&](UaWriter& w, const RequestHeader& h) { EncodeGetEndpoints(w, h, m_url); },
              DecodeGetEndpoints);
}

std::vector<ReferenceDescription> UaClient::Browse(const NodeId& node) {
  auto results =
      Call([&](UaWriter& w,
               const RequestHeader& h) { EncodeBrowse(w, h, {node}, m_options.browsePageSize); },
           [](UaReader& r) { return DecodeBrowse(r, false); });
  std::vector<ReferenceDescription> out;
  // A server that keeps handing out continuation points is cut off at this many pages.
  for (int page = 0; page < 10000; ++page) {
    if (results.size() != 1)
      throw OpcError(
          "OPC UA decoding error: a Browse answer for " + std::to_string(results.size()) + " nodes",
          status::kBadDecodingError);
    BrowseResult& result = results[0];
    if (IsBad(result.status))
      throw OpcError("OPC UA browse failed: " + StatusText(result.status), result.status);
    out.insert(out.end(), std::make_move_iterator(result.references.begin()),
               std::make_move_iterator(result.references.end()));
    if (result.continuationPoint.empty()) return out;
    const std::string point = result.continuationPoint;
    results =
        Call([&](UaWriter& w, const RequestHeader& h) { EncodeBrowseNext(w, h, {point}, false); },
             [](UaReader& r) { return DecodeBrowse(r, true); });
  }
  throw OpcError("OPC UA browse did not end", status::kBadUnexpectedError);
}

std::vector<DataValue> UaClient::Read(const std::vector<NodeId>& nodes, uint32_t attributeId) {
  auto values =
      Call([&](UaWriter& w, const RequestHeader& h) { EncodeRead(w, h, nodes, attributeId); },
           DecodeRead);
  if (values.size() != nodes.size()) {
    Lose("OPC UA decoding error: a Read answer of the wrong length");
    throw OpcError(LostReason(), status::kBadDecodingError);
  }
  return values;
}

std::vector<StatusCode> UaClient::Write(const std::vector<WriteValue>& values) {
  auto results =
      Call([&](UaWriter& w, const RequestHeader& h) { EncodeWrite(w, h, values); }, DecodeWrite);
  if (results.size() != values.size()) {
    Lose("OPC UA decoding error: a Write answer of the wrong length");
    throw OpcError(LostReason(), status::kBadDecodingError);
  }
  return results;
}

uint32_t UaClient::CreateSubscription(double publishingIntervalMs, DataChangeHandler onChange) {
  SubscriptionParams wanted;
  wanted.publishingIntervalMs = publishingIntervalMs;
  // Keep-alive at least every 10 s or 10 intervals; the server gives up after 3 of those.
  wanted.maxKeepAliveCount =
      uint32_t(std::clamp(10000.0 / std::max(publishingIntervalMs, 1.0), 1.0, 10.0));
  wanted.lifetimeCount = wanted.maxKeepAliveCount * 3;
  const auto created =
      Call([&](UaWriter& w, const RequestHeader& h) { EncodeCreateSubscription(w, h, wanted); },
           DecodeCreateSubscription);
  {
    std::lock_guard lock(m_mutex);
    m_subscriptions[created.subscriptionId] = {std::move(onChange), created.revised};
    if (!m_publisher.joinable()) m_publisher = std::thread([this] { Publisher(); });
  }
  m_cv.notify_all();
  return created.subscriptionId;
}

std::vector<MonitoredItemResult> UaClient::CreateMonitoredItems(
    uint32_t subscriptionId, const std::vector<MonitoredItemRequest>& items, double samplingMs) {
  auto results = Call(
      [&](UaWriter& w, const RequestHeader& h) {
        EncodeCreateMonitoredItems(w, h, subscriptionId, items, samplingMs);
      },
      DecodeCreateMonitoredItems);
  if (results.size() != items.size()) {
    Lose("OPC UA decoding error: a CreateMonitoredItems answer of the wrong length");
    throw OpcError(LostReason(), status::kBadDecodingError);
  }
  return results;
}

void UaClient::DeleteSubscription(uint32_t subscriptionId) {
  {
    std::lock_guard lock(m_mutex);
    m_subscriptions.erase(subscriptionId);
  }
  Call([&](UaWriter& w,
           const RequestHeader& h) { EncodeDeleteSubscriptions(w, h, {subscriptionId}); },
       DecodeDeleteSubscriptions);
}

void UaClient::StopThreads() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    // Wakes every caller still waiting, the publisher's outstanding Publish among them.
    if (!m_lost) m_lostReason = "OPC UA client disconnected";
    m_lost = true;
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
  }
  m_cv.notify_all();
  for (std::thread* t : {&m_publisher, &m_keeper, &m_receiver})
    if (t->joinable()) t->join();
}

void UaClient::Disconnect() {
  bool open;
  std::vector<uint32_t> subscriptions;
  bool session;
  {
    std::lock_guard lock(m_mutex);
    open = m_fd >= 0 && !m_lost;
    session = m_session;
    for (const auto& [id, s] : m_subscriptions) subscriptions.push_back(id);
    m_subscriptions.clear();
    m_stopping = true;  // the publisher stops asking; no lost report from here on
  }
  m_cv.notify_all();
  if (m_publisher.joinable()) {
    // The outstanding Publish is answered by the session's close below at the latest.
    if (!open) m_publisher.join();
  }
  const auto shortly = std::min(m_options.requestTimeout, milliseconds(2000));
  if (open) {
    try {
      if (!subscriptions.empty())
        Call([&](UaWriter& w,
                 const RequestHeader& h) { EncodeDeleteSubscriptions(w, h, subscriptions); },
             DecodeDeleteSubscriptions, shortly);
      if (session)
        Call([](UaWriter& w, const RequestHeader& h) { EncodeCloseSession(w, h, true); },
             DecodeCloseSession, shortly);
      UaWriter close;
      BeginRequest(close, typeid_::kCloseSecureChannelRequest, {});
      std::lock_guard lock(m_sendMutex);
      for (const auto& chunk : EncodeChunks("CLO", m_channelId, m_tokenId, m_sequence, 0,
                                            close.Out(), m_options.limits, m_server))
        SendAll(chunk);
    } catch (const OpcError&) {
      // Leaving anyway: the server drops what it holds when the socket closes.
    }
  }
  StopThreads();
  std::lock_guard lock(m_mutex);
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_session = false;
  m_pending.clear();
  m_acks.clear();
}

}  // namespace velkor::opc
