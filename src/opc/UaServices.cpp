#include "opc/UaServices.h"

namespace velkor::opc {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw OpcError("OPC UA decoding error: " + what, status::kBadDecodingError);
}

// Arrays of diagnostics are skipped; their count is still checked.
void SkipDiagnostics(UaReader& r) {
  const size_t n = r.ArrayLength(1);
  for (size_t k = 0; k < n; ++k) r.SkipDiagnosticInfo();
}

std::vector<StatusCode> StatusArray(UaReader& r) {
  std::vector<StatusCode> out(r.ArrayLength(4));
  for (StatusCode& s : out) s = r.U32();
  return out;
}

void NullSignature(UaWriter& w) {
  w.NullString();  // algorithm
  w.NullString();  // signature
}

EndpointDescription ReadEndpoint(UaReader& r) {
  EndpointDescription e;
  e.endpointUrl = r.String();
  // ApplicationDescription
  e.applicationUri = r.String();
  r.String();  // product URI
  e.applicationName = r.LocalizedText().text;
  r.U32();          // application type
  r.String();       // gateway server URI
  r.String();       // discovery profile URI
  r.StringArray();  // discovery URLs
  r.String();       // server certificate
  e.securityMode = r.U32();
  e.securityPolicyUri = r.String();
  e.userIdentityTokens.resize(r.ArrayLength(16));
  for (UserTokenPolicy& p : e.userIdentityTokens) {
    p.policyId = r.String();
    p.tokenType = r.U32();
    r.String();  // issued token type
    r.String();  // issuer endpoint URL
    p.securityPolicyUri = r.String();
  }
  e.transportProfileUri = r.String();
  e.securityLevel = r.Byte();
  return e;
}

std::vector<EndpointDescription> ReadEndpoints(UaReader& r) {
  std::vector<EndpointDescription> out(r.ArrayLength(30));
  for (EndpointDescription& e : out) e = ReadEndpoint(r);
  return out;
}

}  // namespace

void BeginRequest(UaWriter& w, uint32_t typeId, const RequestHeader& h) {
  w.NodeId(NodeId::Numeric(0, typeId));
  w.NodeId(h.authenticationToken);
  w.I64(UtcNow());
  w.U32(h.requestHandle);
  w.U32(0);        // return diagnostics: none
  w.NullString();  // audit entry
  w.U32(h.timeoutHintMs);
  w.ExtensionObject({});
}

ResponseHeader BeginResponse(UaReader& r, uint32_t expectedTypeId) {
  const NodeId type = r.NodeId();
  const bool fault = type == NodeId::Numeric(0, typeid_::kServiceFault);
  if (!fault && type != NodeId::Numeric(0, expectedTypeId))
    Fail("response of type " + NodeIdText(type) + " where i=" + std::to_string(expectedTypeId) +
         " was expected");
  ResponseHeader h;
  h.timestamp = r.I64();
  h.requestHandle = r.U32();
  h.serviceResult = r.U32();
  r.SkipDiagnosticInfo();
  r.StringArray();
  r.ExtensionObject();
  if (fault || IsBad(h.serviceResult))
    throw OpcError("OPC UA service failed: " + StatusText(h.serviceResult), h.serviceResult);
  return h;
}

void EncodeOpenSecureChannel(UaWriter& w, const RequestHeader& h, bool renew, uint32_t lifetimeMs) {
  BeginRequest(w, typeid_::kOpenSecureChannelRequest, h);
  w.U32(0);  // protocol version
  w.U32(renew ? 1 : 0);
  w.U32(1);        // security mode None
  w.NullString();  // client nonce
  w.U32(lifetimeMs);
}

OpenSecureChannelResponse DecodeOpenSecureChannel(UaReader& r) {
  OpenSecureChannelResponse out;
  out.header = BeginResponse(r, typeid_::kOpenSecureChannelResponse);
  r.U32();  // server protocol version
  out.channelId = r.U32();
  out.tokenId = r.U32();
  out.createdAt = r.I64();
  out.revisedLifetimeMs = r.U32();
  r.String();  // server nonce
  r.ExpectEnd("OpenSecureChannelResponse");
  return out;
}

void EncodeGetEndpoints(UaWriter& w, const RequestHeader& h, const std::string& url) {
  BeginRequest(w, typeid_::kGetEndpointsRequest, h);
  w.String(url);
  w.I32(-1);  // locales
  w.I32(-1);  // profiles
}

std::vector<EndpointDescription> DecodeGetEndpoints(UaReader& r) {
  BeginResponse(r, typeid_::kGetEndpointsResponse);
  auto out = ReadEndpoints(r);
  r.ExpectEnd("GetEndpointsResponse");
  return out;
}

void EncodeCreateSession(UaWriter& w, const RequestHeader& h, const std::string& url,
                         const std::string& sessionName, const std::string& nonce,
                         double timeoutMs) {
  BeginRequest(w, typeid_::kCreateSessionRequest, h);
  // ApplicationDescription of the client
  w.String("urn:velkor:client");
  w.String("urn:velkor");
  w.LocalizedText({"", "Velkor"});
  w.U32(1);  // client
  w.NullString();
  w.NullString();
  w.I32(-1);
  w.NullString();  // server URI
  w.String(url);
  w.String(sessionName);
  w.String(nonce);
  w.NullString();  // client certificate
  w.F64(timeoutMs);
  w.U32(0);  // max response size: no limit beyond the transport's
}

CreateSessionResponse DecodeCreateSession(UaReader& r) {
  BeginResponse(r, typeid_::kCreateSessionResponse);
  CreateSessionResponse out;
  out.sessionId = r.NodeId();
  out.authenticationToken = r.NodeId();
  out.revisedTimeoutMs = r.F64();
  r.String();  // server nonce
  r.String();  // server certificate
  out.endpoints = ReadEndpoints(r);
  const size_t certificates = r.ArrayLength(8);
  for (size_t k = 0; k < certificates; ++k) {
    r.String();
    r.String();
  }
  r.String();  // signature algorithm
  r.String();  // signature
  out.maxRequestMessageSize = r.U32();
  r.ExpectEnd("CreateSessionResponse");
  return out;
}

void EncodeActivateSession(UaWriter& w, const RequestHeader& h, const std::string& policyId) {
  BeginRequest(w, typeid_::kActivateSessionRequest, h);
  NullSignature(w);
  w.I32(-1);  // software certificates
  w.I32(-1);  // locales
  UaWriter token;
  token.String(policyId);
  const auto& body = token.Out();
  w.ExtensionObject({NodeId::Numeric(0, typeid_::kAnonymousIdentityToken), 1,
                     std::string(body.begin(), body.end())});
  NullSignature(w);
}

void DecodeActivateSession(UaReader& r) {
  BeginResponse(r, typeid_::kActivateSessionResponse);
  r.String();  // server nonce
  for (StatusCode s : StatusArray(r))
    if (IsBad(s)) throw OpcError("OPC UA session activation failed: " + StatusText(s), s);
  SkipDiagnostics(r);
  r.ExpectEnd("ActivateSessionResponse");
}

void EncodeCloseSession(UaWriter& w, const RequestHeader& h, bool deleteSubscriptions) {
  BeginRequest(w, typeid_::kCloseSessionRequest, h);
  w.Bool(deleteSubscriptions);
}

void DecodeCloseSession(UaReader& r) {
  BeginResponse(r, typeid_::kCloseSessionResponse);
  r.ExpectEnd("CloseSessionResponse");
}

void EncodeBrowse(UaWriter& w, const RequestHeader& h, const std::vector<NodeId>& nodes,
                  uint32_t maxReferences) {
  BeginRequest(w, typeid_::kBrowseRequest, h);
  w.NodeId({});  // view
  w.I64(0);
  w.U32(0);
  w.U32(maxReferences);
  w.I32(int32_t(nodes.size()));
  for (const NodeId& node : nodes) {
    w.NodeId(node);
    w.U32(0);                          // forward
    w.NodeId(NodeId::Numeric(0, 33));  // HierarchicalReferences
    w.Bool(true);
    w.U32(0);     // every node class
    w.U32(0x3F);  // every result field
  }
}

void EncodeBrowseNext(UaWriter& w, const RequestHeader& h,
                      const std::vector<std::string>& continuationPoints, bool release) {
  BeginRequest(w, typeid_::kBrowseNextRequest, h);
  w.Bool(release);
  w.StringArray(continuationPoints);
}

std::vector<BrowseResult> DecodeBrowse(UaReader& r, bool next) {
  BeginResponse(r, next ? typeid_::kBrowseNextResponse : typeid_::kBrowseResponse);
  std::vector<BrowseResult> out(r.ArrayLength(12));
  for (BrowseResult& result : out) {
    result.status = r.U32();
    result.continuationPoint = r.String();
    result.references.resize(r.ArrayLength(20));
    for (ReferenceDescription& ref : result.references) {
      ref.referenceType = r.NodeId();
      ref.isForward = r.Bool();
      ref.nodeId = r.ExpandedNodeId();
      ref.browseName = r.QualifiedName();
      ref.displayName = r.LocalizedText();
      ref.nodeClass = r.U32();
      ref.typeDefinition = r.ExpandedNodeId();
    }
  }
  SkipDiagnostics(r);
  r.ExpectEnd("BrowseResponse");
  return out;
}

void EncodeRead(UaWriter& w, const RequestHeader& h, const std::vector<NodeId>& nodes,
                uint32_t attributeId) {
  BeginRequest(w, typeid_::kReadRequest, h);
  w.F64(0);  // max age: a fresh value
  w.U32(2);  // both time stamps
  w.I32(int32_t(nodes.size()));
  for (const NodeId& node : nodes) {
    w.NodeId(node);
    w.U32(attributeId);
    w.NullString();
    w.QualifiedName({});
  }
}

std::vector<DataValue> DecodeRead(UaReader& r) {
  BeginResponse(r, typeid_::kReadResponse);
  std::vector<DataValue> out(r.ArrayLength(1));
  for (DataValue& v : out) v = r.DataValue();
  SkipDiagnostics(r);
  r.ExpectEnd("ReadResponse");
  return out;
}

void EncodeWrite(UaWriter& w, const RequestHeader& h, const std::vector<WriteValue>& values) {
  BeginRequest(w, typeid_::kWriteRequest, h);
  w.I32(int32_t(values.size()));
  for (const WriteValue& v : values) {
    w.NodeId(v.node);
    w.U32(kAttributeValue);
    w.NullString();
    DataValue dv;
    dv.value = v.value;
    w.DataValue(dv);
  }
}

std::vector<StatusCode> DecodeWrite(UaReader& r) {
  BeginResponse(r, typeid_::kWriteResponse);
  auto out = StatusArray(r);
  SkipDiagnostics(r);
  r.ExpectEnd("WriteResponse");
  return out;
}

void EncodeCreateSubscription(UaWriter& w, const RequestHeader& h, const SubscriptionParams& p) {
  BeginRequest(w, typeid_::kCreateSubscriptionRequest, h);
  w.F64(p.publishingIntervalMs);
  w.U32(p.lifetimeCount);
  w.U32(p.maxKeepAliveCount);
  w.U32(0);  // notifications per publish: no limit
  w.Bool(true);
  w.Byte(0);
}

CreateSubscriptionResponse DecodeCreateSubscription(UaReader& r) {
  BeginResponse(r, typeid_::kCreateSubscriptionResponse);
  CreateSubscriptionResponse out;
  out.subscriptionId = r.U32();
  out.revised.publishingIntervalMs = r.F64();
  out.revised.lifetimeCount = r.U32();
  out.revised.maxKeepAliveCount = r.U32();
  r.ExpectEnd("CreateSubscriptionResponse");
  return out;
}

void EncodeCreateMonitoredItems(UaWriter& w, const RequestHeader& h, uint32_t subscriptionId,
                                const std::vector<MonitoredItemRequest>& items, double samplingMs) {
  BeginRequest(w, typeid_::kCreateMonitoredItemsRequest, h);
  w.U32(subscriptionId);
  w.U32(2);  // both time stamps
  w.I32(int32_t(items.size()));
  for (const MonitoredItemRequest& item : items) {
    w.NodeId(item.node);
    w.U32(kAttributeValue);
    w.NullString();
    w.QualifiedName({});
    w.U32(2);  // reporting
    w.U32(item.clientHandle);
    w.F64(samplingMs);
    w.ExtensionObject({});
    w.U32(1);  // queue size
    w.Bool(true);
  }
}

std::vector<MonitoredItemResult> DecodeCreateMonitoredItems(UaReader& r) {
  BeginResponse(r, typeid_::kCreateMonitoredItemsResponse);
  std::vector<MonitoredItemResult> out(r.ArrayLength(23));
  for (MonitoredItemResult& m : out) {
    m.status = r.U32();
    m.monitoredItemId = r.U32();
    m.revisedSamplingMs = r.F64();
    r.U32();  // queue size
    r.ExtensionObject();
  }
  SkipDiagnostics(r);
  r.ExpectEnd("CreateMonitoredItemsResponse");
  return out;
}

void EncodePublish(UaWriter& w, const RequestHeader& h, const std::vector<Acknowledgement>& acks) {
  BeginRequest(w, typeid_::kPublishRequest, h);
  w.I32(int32_t(acks.size()));
  for (const Acknowledgement& a : acks) {
    w.U32(a.subscriptionId);
    w.U32(a.sequenceNumber);
  }
}

PublishResponse DecodePublish(UaReader& r) {
  BeginResponse(r, typeid_::kPublishResponse);
  PublishResponse out;
  out.subscriptionId = r.U32();
  const size_t available = r.ArrayLength(4);
  for (size_t k = 0; k < available; ++k) r.U32();
  r.Bool();  // more notifications
  out.sequenceNumber = r.U32();
  r.I64();  // publish time
  const size_t notifications = r.ArrayLength(3);
  out.keepAlive = notifications == 0;
  for (size_t k = 0; k < notifications; ++k) {
    const ExtensionObject e = r.ExtensionObject();
    if (e.encoding != 1) continue;
    UaReader body({reinterpret_cast<const uint8_t*>(e.body.data()), e.body.size()});
    if (e.typeId == NodeId::Numeric(0, typeid_::kDataChangeNotification)) {
      const size_t n = body.ArrayLength(5);
      for (size_t j = 0; j < n; ++j) {
        ItemChange change;
        change.clientHandle = body.U32();
        change.value = body.DataValue();
        out.changes.push_back(std::move(change));
      }
      SkipDiagnostics(body);
      body.ExpectEnd("DataChangeNotification");
    } else if (e.typeId == NodeId::Numeric(0, typeid_::kStatusChangeNotification)) {
      out.statusChanges.push_back(body.U32());
      body.SkipDiagnosticInfo();
      body.ExpectEnd("StatusChangeNotification");
    }
    // Events are not subscribed to; any other notification is ignored.
  }
  StatusArray(r);  // acknowledgement results: a lost acknowledgement only delays a retry
  SkipDiagnostics(r);
  r.ExpectEnd("PublishResponse");
  return out;
}

void EncodeDeleteSubscriptions(UaWriter& w, const RequestHeader& h,
                               const std::vector<uint32_t>& ids) {
  BeginRequest(w, typeid_::kDeleteSubscriptionsRequest, h);
  w.I32(int32_t(ids.size()));
  for (uint32_t id : ids) w.U32(id);
}

std::vector<StatusCode> DecodeDeleteSubscriptions(UaReader& r) {
  BeginResponse(r, typeid_::kDeleteSubscriptionsResponse);
  auto out = StatusArray(r);
  SkipDiagnostics(r);
  r.ExpectEnd("DeleteSubscriptionsResponse");
  return out;
}

}  // namespace velkor::opc
