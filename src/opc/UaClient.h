#pragma once
// An OPC UA binary client over UA TCP with SecurityPolicy None and an anonymous session.
// Small on purpose: the services a data client needs (endpoints, browse, read, write,
// subscriptions), each request with a time-out. Anything that breaks the protocol, a request
// that times out, a renewal that fails or a server that stops answering keep-alives ends the
// connection at once: the client reports the reason once (SetLostHandler) and every later
// call throws. Reconnecting is the owner's job: a fresh UaClient per connection.
//
// Threads: a receiver reads the socket and hands responses to waiting callers; a keeper
// renews the channel at three quarters of its lifetime and reads the server state when the
// link has been quiet; a publisher keeps one Publish request outstanding while subscriptions
// exist, acknowledges what it got and calls the subscriptions' handlers.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "opc/UaServices.h"
#include "opc/UaTransport.h"

namespace velkor::opc {

struct EndpointAddress {
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 4840;
};
// "opc.tcp://host[:port][/path]"; nullopt for anything else.
std::optional<EndpointAddress> ParseEndpointUrl(std::string_view url);

struct ClientOptions {
  std::chrono::milliseconds requestTimeout{5000};
  // For the whole connect: socket, handshake, channel and session.
  std::chrono::milliseconds connectTimeout{5000};
  // A quiet link is checked by reading the server's state this often.
  std::chrono::milliseconds keepAliveInterval{5000};
  uint32_t channelLifetimeMs = 600000;
  double sessionTimeoutMs = 60000;
  std::string sessionName = "Velkor";
  // References per Browse answer (0: as many as the server likes); the rest by BrowseNext.
  uint32_t browsePageSize = 0;
  TransportLimits limits;
};

class UaClient {
 public:
  // Called on the publisher thread, holding no client lock.
  using DataChangeHandler = std::function<void(uint32_t clientHandle, const DataValue& value)>;
  // Called once per connection when it is lost (not after Disconnect), holding no client lock,
  // on a client thread or on the caller whose request timed out; it must not call Disconnect
  // (which joins those threads): it only tells the owner, who disconnects from its own thread.
  using LostHandler = std::function<void(const std::string& reason)>;
  // Called on the publisher thread when the server reports a status change of a subscription
  // (BadShutdown, BadTimeout, ...).
  using StatusHandler = std::function<void(uint32_t subscriptionId, StatusCode status)>;

  explicit UaClient(ClientOptions options = {});
  ~UaClient();
  UaClient(const UaClient&) = delete;
  UaClient& operator=(const UaClient&) = delete;

  // Set these before connecting.
  void SetLostHandler(LostHandler handler) { m_onLost = std::move(handler); }
  void SetStatusHandler(StatusHandler handler) { m_onStatus = std::move(handler); }

  // The secure channel only (enough for GetEndpoints); throws OpcError.
  void OpenChannel(const std::string& endpointUrl);
  // Channel and an activated anonymous session; throws OpcError.
  void Connect(const std::string& endpointUrl);
  // Deletes the subscriptions, closes the session and the channel; never throws.
  void Disconnect();
  bool Connected() const;
  std::string LostReason() const;

  std::vector<EndpointDescription> GetEndpoints();
  // Forward hierarchical references, following continuation points.
  std::vector<ReferenceDescription> Browse(const NodeId& node);
  std::vector<DataValue> Read(const std::vector<NodeId>& nodes,
                              uint32_t attributeId = kAttributeValue);
  std::vector<StatusCode> Write(const std::vector<WriteValue>& values);

  // Returns the subscription id; the revised interval is in RevisedInterval.
  uint32_t CreateSubscription(double publishingIntervalMs, DataChangeHandler onChange);
  std::vector<MonitoredItemResult> CreateMonitoredItems(
      uint32_t subscriptionId, const std::vector<MonitoredItemRequest>& items, double samplingMs);
  void DeleteSubscription(uint32_t subscriptionId);

  // Observation for tests and the log.
  uint32_t TokenId() const;
  uint32_t ChannelId() const { return m_channelId; }
  size_t Renewals() const;

 private:
  struct Pending;
  struct Subscription {
    DataChangeHandler onChange;
    SubscriptionParams params;
  };
  using Encoder = std::function<void(UaWriter&, const RequestHeader&)>;

  void Open(const std::string& endpointUrl);
  void SendAll(std::span<const uint8_t> bytes);
  ServerMessage ReceiveOne(std::chrono::steady_clock::time_point deadline);
  std::vector<uint8_t> Exchange(const char* type, const Encoder& encode,
                                std::chrono::milliseconds timeout);
  template <class Decode>
  auto Call(const Encoder& encode, Decode decode,
            std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  void Lose(const std::string& reason);
  void ThrowIfLost() const;
  void Receiver();
  void Keeper();
  void Publisher();
  void Renew();
  void StopThreads();

  ClientOptions m_options;
  LostHandler m_onLost;
  StatusHandler m_onStatus;
  std::string m_url;
  int m_fd = -1;
  TransportLimits m_server;
  MessageAssembler m_assembler;

  mutable std::mutex m_sendMutex;  // one message's chunks go out together
  uint32_t m_channelId = 0;
  uint32_t m_tokenId = 0;  // guarded by m_sendMutex
  uint32_t m_sequence = 1;
  uint32_t m_lifetimeMs = 0;

  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::map<uint32_t, std::shared_ptr<Pending>> m_pending;
  uint32_t m_nextRequestId = 1;
  NodeId m_authToken;
  bool m_session = false;
  bool m_wantSession = false;  // set before the keeper starts
  bool m_lost = false;
  bool m_stopping = false;
  bool m_lostReported = false;
  std::string m_lostReason;
  size_t m_renewals = 0;
  std::chrono::steady_clock::time_point m_lastTraffic;
  std::map<uint32_t, Subscription> m_subscriptions;
  std::vector<Acknowledgement> m_acks;

  std::thread m_receiver, m_keeper, m_publisher;
};

}  // namespace velkor::opc
