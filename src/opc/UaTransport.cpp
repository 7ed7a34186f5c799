#include "opc/UaTransport.h"

#include <algorithm>
#include <cstring>

#include "opc/UaBinary.h"
#include "opc/UaServices.h"

namespace velkor::opc {

namespace {

[[noreturn]] void Fail(const std::string& what, StatusCode code = status::kBadDecodingError) {
  throw OpcError("OPC UA transport error: " + what, code);
}

uint32_t U32At(std::span<const uint8_t> b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

bool TypeIs(std::span<const uint8_t> chunk, const char* type) {
  return std::memcmp(chunk.data(), type, 3) == 0;
}

// Asymmetric header of None: the policy URI and two null certificates.
void WriteOpenHeader(UaWriter& w) {
  w.String(kSecurityPolicyNone);
  w.I32(-1);
  w.I32(-1);
}

// Sequence numbers may wrap only near the top of their range, to a small number.
bool FollowsOn(uint32_t last, uint32_t next) {
  if (next == last + 1) return true;
  return last >= 0xFFFFFFFFu - 1024 && next < 1024;
}

}  // namespace

std::vector<uint8_t> EncodeHello(const TransportLimits& ours, const std::string& endpointUrl) {
  UaWriter w;
  w.Raw("HELF");
  w.U32(0);
  w.U32(0);  // protocol version
  w.U32(ours.receiveBufferSize);
  w.U32(ours.sendBufferSize);
  w.U32(ours.maxMessageSize);
  w.U32(ours.maxChunkCount);
  w.String(endpointUrl);
  w.PatchU32(4, uint32_t(w.Size()));
  return w.Take();
}

TransportLimits DecodeAcknowledge(std::span<const uint8_t> body) {
  UaReader r(body);
  r.U32();  // protocol version
  TransportLimits server;
  server.receiveBufferSize = r.U32();
  server.sendBufferSize = r.U32();
  server.maxMessageSize = r.U32();
  server.maxChunkCount = r.U32();
  r.ExpectEnd("Acknowledge");
  if (server.receiveBufferSize < kMinBufferSize || server.sendBufferSize < kMinBufferSize)
    Fail("the server's buffers are smaller than 8192 bytes");
  return server;
}

size_t MessageAssembler::Buffered() const { return m_pending.size() + m_partialBytes; }

void MessageAssembler::Feed(std::span<const uint8_t> bytes,
                            const std::function<void(ServerMessage&&)>& out) {
  while (!bytes.empty()) {
    // Complete the header first, then the chunk it announces; never buffer more than one
    // chunk of at most our receive buffer.
    if (m_pending.size() < kMessageHeaderSize) {
      const size_t take = std::min(bytes.size(), kMessageHeaderSize - m_pending.size());
      m_pending.insert(m_pending.end(), bytes.begin(), bytes.begin() + ptrdiff_t(take));
      bytes = bytes.subspan(take);
      if (m_pending.size() < kMessageHeaderSize) break;
      const uint32_t size = U32At(m_pending, 4);
      if (size < kMessageHeaderSize + 4 || size > m_limits.receiveBufferSize)
        Fail("a chunk of " + std::to_string(size) + " bytes (buffer " +
             std::to_string(m_limits.receiveBufferSize) + ")");
    }
    const size_t size = U32At(m_pending, 4);
    const size_t take = std::min(bytes.size(), size - m_pending.size());
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.begin() + ptrdiff_t(take));
    bytes = bytes.subspan(take);
    if (m_pending.size() < size) break;
    std::vector<uint8_t> chunk;
    chunk.swap(m_pending);
    Chunk(chunk, out);
  }
}

void MessageAssembler::Chunk(std::span<const uint8_t> chunk,
                             const std::function<void(ServerMessage&&)>& out) {
  const char final = char(chunk[3]);
  UaReader r(chunk.subspan(kMessageHeaderSize));
  if (TypeIs(chunk, "ACK")) {
    if (final != 'F') Fail("a chunked Acknowledge");
    ServerMessage m;
    m.kind = MessageKind::Acknowledge;
    m.body.assign(chunk.begin() + kMessageHeaderSize, chunk.end());
    return out(std::move(m));
  }
  if (TypeIs(chunk, "ERR")) {
    const StatusCode code = r.U32();
    const std::string reason = r.String();
    Fail("the server reports " + StatusText(code) + (reason.empty() ? "" : ": " + reason), code);
  }
  const bool open = TypeIs(chunk, "OPN");
  if (!open && !TypeIs(chunk, "MSG") && !TypeIs(chunk, "CLO"))
    Fail("unknown message type '" + std::string(chunk.begin(), chunk.begin() + 3) + "'");
  if (final != 'F' && final != 'C' && final != 'A') Fail("unknown chunk type");
  const uint32_t channelId = r.U32();
  if (m_channelId && channelId != *m_channelId)
    Fail("a chunk for secure channel " + std::to_string(channelId));
  uint32_t tokenId = 0;
  if (open) {
    if (final != 'F') Fail("a chunked OpenSecureChannel");
    if (r.String() != kSecurityPolicyNone) Fail("a security policy other than None");
    r.String();  // sender certificate
    r.String();  // receiver thumbprint
  } else {
    tokenId = r.U32();
  }
  const uint32_t sequence = r.U32();
  const uint32_t requestId = r.U32();
  if (m_lastSequence && !FollowsOn(*m_lastSequence, sequence))
    Fail("sequence number " + std::to_string(sequence) + " after " +
         std::to_string(*m_lastSequence));
  m_lastSequence = sequence;
  const auto body = r.Take(r.Left());

  if (final == 'A') {
    if (auto it = m_partials.find(requestId); it != m_partials.end()) {
      m_partialBytes -= it->second.body.size();
      m_partials.erase(it);
    }
    ServerMessage m;
    m.kind = MessageKind::Abort;
    m.channelId = channelId;
    m.requestId = requestId;
    m.body.assign(body.begin(), body.end());
    return out(std::move(m));
  }
  auto [it, fresh] = m_partials.try_emplace(
      requestId, Partial{open ? MessageKind::Open : MessageKind::Message, tokenId, {}, 0});
  Partial& p = it->second;
  if (!fresh && p.tokenId != tokenId) Fail("a message's chunks under two tokens");
  if (m_limits.maxChunkCount != 0 && ++p.chunks > m_limits.maxChunkCount)
    Fail("a message of more than " + std::to_string(m_limits.maxChunkCount) + " chunks");
  if (m_partialBytes + body.size() > m_limits.maxMessageSize)
    Fail("messages of more than " + std::to_string(m_limits.maxMessageSize) + " bytes");
  p.body.insert(p.body.end(), body.begin(), body.end());
  m_partialBytes += body.size();
  if (final == 'C') return;
  ServerMessage m;
  m.kind = p.kind;
  m.channelId = channelId;
  m.tokenId = tokenId;
  m.requestId = requestId;
  m.body = std::move(p.body);
  m_partialBytes -= m.body.size();
  m_partials.erase(it);
  out(std::move(m));
}

std::vector<std::vector<uint8_t>> EncodeChunks(const char* type, uint32_t channelId,
                                               uint32_t tokenId, uint32_t& sequence,
                                               uint32_t requestId, std::span<const uint8_t> body,
                                               const TransportLimits& ours,
                                               const TransportLimits& server) {
  const bool open = std::strcmp(type, "OPN") == 0;
  UaWriter security;
  if (open)
    WriteOpenHeader(security);
  else
    security.U32(tokenId);
  const size_t headerSize = kMessageHeaderSize + 4 + security.Size() + 8;
  const size_t chunkSize = std::min(ours.sendBufferSize, server.receiveBufferSize);
  if (chunkSize <= headerSize) Fail("no room for a chunk body");
  const size_t room = chunkSize - headerSize;
  if (server.maxMessageSize != 0 && body.size() > server.maxMessageSize)
    Fail("a request of " + std::to_string(body.size()) + " bytes (server limit " +
             std::to_string(server.maxMessageSize) + ")",
         status::kBadUnexpectedError);
  const size_t count = std::max<size_t>(1, (body.size() + room - 1) / room);
  if (open && count > 1) Fail("an OpenSecureChannel request larger than one chunk");
  if (server.maxChunkCount != 0 && count > server.maxChunkCount)
    Fail("a request of " + std::to_string(count) + " chunks (server limit " +
             std::to_string(server.maxChunkCount) + ")",
         status::kBadUnexpectedError);
  std::vector<std::vector<uint8_t>> chunks;
  for (size_t k = 0; k < count; ++k) {
    const auto part = body.subspan(k * room, std::min(room, body.size() - k * room));
    UaWriter w;
    w.Raw(std::string_view(type, 3));
    w.Byte(k + 1 == count ? 'F' : 'C');
    w.U32(0);
    w.U32(channelId);
    w.Bytes(security.Out());
    w.U32(sequence++);
    w.U32(requestId);
    w.Bytes(part);
    w.PatchU32(4, uint32_t(w.Size()));
    chunks.push_back(w.Take());
  }
  return chunks;
}

}  // namespace velkor::opc
