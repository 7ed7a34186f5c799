#pragma once
// UA TCP framing without sockets: Hello/Acknowledge/Error, and the secure-channel chunks of
// SecurityPolicy None (OPN with its asymmetric header, MSG and CLO with the symmetric one).
// MessageAssembler turns the byte stream from a server into whole messages: every header
// field and size is checked before use, sequence numbers must run on by one, and a message
// is bounded in size and chunk count by the limits the client announced, so what a server
// sends can never make the client buffer more than those limits.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "opc/UaTypes.h"

namespace velkor::opc {

struct TransportLimits {
  uint32_t receiveBufferSize = 65536;
  uint32_t sendBufferSize = 65536;
  uint32_t maxMessageSize = 16 * 1024 * 1024;  // 0: no limit (a peer's value only)
  uint32_t maxChunkCount = 1024;               // 0: no limit (a peer's value only)
};

inline constexpr size_t kMessageHeaderSize = 8;
inline constexpr uint32_t kMinBufferSize = 8192;

std::vector<uint8_t> EncodeHello(const TransportLimits& ours, const std::string& endpointUrl);
// The server's limits from an Acknowledge body (after the 8-byte header); checks them.
TransportLimits DecodeAcknowledge(std::span<const uint8_t> body);

enum class MessageKind { Acknowledge, Open, Message, Abort };

struct ServerMessage {
  MessageKind kind = MessageKind::Message;
  uint32_t channelId = 0, tokenId = 0, requestId = 0;
  // Acknowledge: its fields; Open and Message: the service body (type NodeId first);
  // Abort: the error code and reason of one aborted message.
  std::vector<uint8_t> body;
};

class MessageAssembler {
 public:
  explicit MessageAssembler(TransportLimits ours = {}) : m_limits(ours) {}

  // Feeds received bytes; passes each whole message on. Throws OpcError on anything
  // malformed and on an Error message (with the server's reason); the connection is then
  // unusable.
  void Feed(std::span<const uint8_t> bytes, const std::function<void(ServerMessage&&)>& out);
  // After the channel opens, every chunk must carry its id.
  void SetChannelId(uint32_t id) { m_channelId = id; }
  size_t Buffered() const;

 private:
  void Chunk(std::span<const uint8_t> chunk, const std::function<void(ServerMessage&&)>& out);

  struct Partial {
    MessageKind kind;
    uint32_t tokenId;
    std::vector<uint8_t> body;
    uint32_t chunks = 0;
  };
  TransportLimits m_limits;
  std::vector<uint8_t> m_pending;
  std::map<uint32_t, Partial> m_partials;
  size_t m_partialBytes = 0;
  std::optional<uint32_t> m_channelId;
  std::optional<uint32_t> m_lastSequence;
};

// Cuts one request into chunks of at most the server's receive buffer (and ours to send),
// numbering them from `sequence` on. Throws when the server's message or chunk limit would be
// exceeded. type: "OPN", "MSG" or "CLO"; OPN carries the None policy's asymmetric header.
std::vector<std::vector<uint8_t>> EncodeChunks(const char* type, uint32_t channelId,
                                               uint32_t tokenId, uint32_t& sequence,
                                               uint32_t requestId, std::span<const uint8_t> body,
                                               const TransportLimits& ours,
                                               const TransportLimits& server);

}  // namespace velkor::opc
