#pragma once
// The services the client calls, each as a request encoder and a response decoder over the
// binary encoding. A response decoder reads the body after the type NodeId and insists on
// consuming it exactly; a ServiceFault, or any response whose service result is Bad, throws
// OpcError carrying the status, so callers only see responses that succeeded.

#include <cstdint>
#include <string>
#include <vector>

#include "opc/UaBinary.h"

namespace velkor::opc {

// Binary encoding ids (namespace 0) of the structures on the wire.
namespace typeid_ {
inline constexpr uint32_t kServiceFault = 397;
inline constexpr uint32_t kAnonymousIdentityToken = 321;
inline constexpr uint32_t kGetEndpointsRequest = 428, kGetEndpointsResponse = 431;
inline constexpr uint32_t kOpenSecureChannelRequest = 446, kOpenSecureChannelResponse = 449;
inline constexpr uint32_t kCloseSecureChannelRequest = 452;
inline constexpr uint32_t kCreateSessionRequest = 461, kCreateSessionResponse = 464;
inline constexpr uint32_t kActivateSessionRequest = 467, kActivateSessionResponse = 470;
inline constexpr uint32_t kCloseSessionRequest = 473, kCloseSessionResponse = 476;
inline constexpr uint32_t kBrowseRequest = 527, kBrowseResponse = 530;
inline constexpr uint32_t kBrowseNextRequest = 533, kBrowseNextResponse = 536;
inline constexpr uint32_t kReadRequest = 631, kReadResponse = 634;
inline constexpr uint32_t kWriteRequest = 673, kWriteResponse = 676;
inline constexpr uint32_t kCreateMonitoredItemsRequest = 751, kCreateMonitoredItemsResponse = 754;
inline constexpr uint32_t kCreateSubscriptionRequest = 787, kCreateSubscriptionResponse = 790;
inline constexpr uint32_t kDataChangeNotification = 811, kStatusChangeNotification = 820;
inline constexpr uint32_t kPublishRequest = 826, kPublishResponse = 829;
inline constexpr uint32_t kDeleteSubscriptionsRequest = 847, kDeleteSubscriptionsResponse = 850;
}  // namespace typeid_

inline constexpr char kSecurityPolicyNone[] = "http://opcfoundation.org/UA/SecurityPolicy#None";
inline constexpr uint32_t kAttributeValue = 13;

struct RequestHeader {
  NodeId authenticationToken;
  uint32_t requestHandle = 0;
  uint32_t timeoutHintMs = 0;
};

struct ResponseHeader {
  DateTime timestamp = 0;
  uint32_t requestHandle = 0;
  StatusCode serviceResult = 0;
};

// Starts a request body: its type NodeId, then the header.
void BeginRequest(UaWriter& w, uint32_t typeId, const RequestHeader& h);
// Reads the type NodeId and the response header; throws on a ServiceFault, on another type
// than expected, or on a Bad service result.
ResponseHeader BeginResponse(UaReader& r, uint32_t expectedTypeId);

// --- secure channel -------------------------------------------------------------------
struct OpenSecureChannelResponse {
  ResponseHeader header;
  uint32_t channelId = 0, tokenId = 0;
  DateTime createdAt = 0;
  uint32_t revisedLifetimeMs = 0;
};
void EncodeOpenSecureChannel(UaWriter& w, const RequestHeader& h, bool renew, uint32_t lifetimeMs);
OpenSecureChannelResponse DecodeOpenSecureChannel(UaReader& r);

// --- discovery and sessions -----------------------------------------------------------
struct UserTokenPolicy {
  std::string policyId;
  uint32_t tokenType = 0;  // 0 anonymous
  std::string securityPolicyUri;
};
struct EndpointDescription {
  std::string endpointUrl;
  std::string applicationUri, applicationName;
  uint32_t securityMode = 0;  // 1 None
  std::string securityPolicyUri;
  std::vector<UserTokenPolicy> userIdentityTokens;
  std::string transportProfileUri;
  uint8_t securityLevel = 0;
};
void EncodeGetEndpoints(UaWriter& w, const RequestHeader& h, const std::string& url);
std::vector<EndpointDescription> DecodeGetEndpoints(UaReader& r);

struct CreateSessionResponse {
  NodeId sessionId, authenticationToken;
  double revisedTimeoutMs = 0;
  std::vector<EndpointDescription> endpoints;
  uint32_t maxRequestMessageSize = 0;
};
void EncodeCreateSession(UaWriter& w, const RequestHeader& h, const std::string& url,
                         const std::string& sessionName, const std::string& nonce,
                         double timeoutMs);
CreateSessionResponse DecodeCreateSession(UaReader& r);
void EncodeActivateSession(UaWriter& w, const RequestHeader& h, const std::string& policyId);
void DecodeActivateSession(UaReader& r);
void EncodeCloseSession(UaWriter& w, const RequestHeader& h, bool deleteSubscriptions);
void DecodeCloseSession(UaReader& r);

// --- attributes and views -------------------------------------------------------------
struct ReferenceDescription {
  NodeId referenceType;
  bool isForward = true;
  ExpandedNodeId nodeId;
  QualifiedName browseName;
  LocalizedText displayName;
  uint32_t nodeClass = 0;
  ExpandedNodeId typeDefinition;
};
struct BrowseResult {
  StatusCode status = 0;
  std::string continuationPoint;
  std::vector<ReferenceDescription> references;
};
// Hierarchical references (i=33) forward with subtypes, all node classes, every field.
void EncodeBrowse(UaWriter& w, const RequestHeader& h, const std::vector<NodeId>& nodes,
                  uint32_t maxReferences);
void EncodeBrowseNext(UaWriter& w, const RequestHeader& h,
                      const std::vector<std::string>& continuationPoints, bool release);
std::vector<BrowseResult> DecodeBrowse(UaReader& r, bool next);

void EncodeRead(UaWriter& w, const RequestHeader& h, const std::vector<NodeId>& nodes,
                uint32_t attributeId);
std::vector<DataValue> DecodeRead(UaReader& r);

struct WriteValue {
  NodeId node;
  UaVariant value;
};
void EncodeWrite(UaWriter& w, const RequestHeader& h, const std::vector<WriteValue>& values);
std::vector<StatusCode> DecodeWrite(UaReader& r);

// --- subscriptions --------------------------------------------------------------------
struct SubscriptionParams {
  double publishingIntervalMs = 0;
  uint32_t lifetimeCount = 0, maxKeepAliveCount = 0;
};
struct CreateSubscriptionResponse {
  uint32_t subscriptionId = 0;
  SubscriptionParams revised;
};
void EncodeCreateSubscription(UaWriter& w, const RequestHeader& h, const SubscriptionParams& p);
CreateSubscriptionResponse DecodeCreateSubscription(UaReader& r);

struct MonitoredItemRequest {
  NodeId node;
  uint32_t clientHandle = 0;
};
struct MonitoredItemResult {
  StatusCode status = 0;
  uint32_t monitoredItemId = 0;
  double revisedSamplingMs = 0;
};
void EncodeCreateMonitoredItems(UaWriter& w, const RequestHeader& h, uint32_t subscriptionId,
                                const std::vector<MonitoredItemRequest>& items, double samplingMs);
std::vector<MonitoredItemResult> DecodeCreateMonitoredItems(UaReader& r);

struct Acknowledgement {
  uint32_t subscriptionId = 0, sequenceNumber = 0;
};
struct ItemChange {
  uint32_t clientHandle = 0;
  DataValue value;
};
struct PublishResponse {
  uint32_t subscriptionId = 0;
  uint32_t sequenceNumber = 0;
  bool keepAlive = true;  // no notification data
  std::vector<ItemChange> changes;
  std::vector<StatusCode> statusChanges;  // the subscription's own status changes
};
void EncodePublish(UaWriter& w, const RequestHeader& h, const std::vector<Acknowledgement>& acks);
PublishResponse DecodePublish(UaReader& r);

void EncodeDeleteSubscriptions(UaWriter& w, const RequestHeader& h,
                               const std::vector<uint32_t>& ids);
std::vector<StatusCode> DecodeDeleteSubscriptions(UaReader& r);

}  // namespace velkor::opc
