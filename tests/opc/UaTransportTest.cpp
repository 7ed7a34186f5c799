// UA TCP framing: requests cut into chunks and put together again, whatever pieces the
// stream arrives in; then each way a server's stream can lie, refused with its reason; and a
// fake server on 127.0.0.1 that answers the handshake wrongly, which the client must turn
// into an error without hanging.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "opc/UaBinary.h"
#include "opc/UaClient.h"
#include "opc/UaTransport.h"

using namespace velkor::opc;

namespace {

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& chunks) {
  std::vector<uint8_t> out;
  for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

std::vector<uint8_t> Body(size_t n) {
  std::vector<uint8_t> body(n);
  for (size_t k = 0; k < n; ++k) body[k] = uint8_t(k * 7 + 1);
  return body;
}

const TransportLimits kSmall{8192, 8192, 1 << 20, 64};

TEST(Chunks, LargeRequestIsCutAndPutTogetherInAnyPieces) {
  const auto body = Body(30000);
  uint32_t sequence = 10;
  const auto chunks = EncodeChunks("MSG", 5, 7, sequence, 42, body, kSmall, kSmall);
  ASSERT_EQ(chunks.size(), 4u);  // 8192 - 24 bytes of body each
  EXPECT_EQ(sequence, 14u);
  for (size_t k = 0; k < chunks.size(); ++k) {
    EXPECT_LE(chunks[k].size(), 8192u);
    EXPECT_EQ(chunks[k][3], k + 1 == chunks.size() ? 'F' : 'C');
  }
  const auto stream = Join(chunks);
  for (size_t piece : {size_t(1), size_t(7), size_t(8), size_t(4096), stream.size()}) {
    MessageAssembler assembler(kSmall);
    assembler.SetChannelId(5);
    std::vector<ServerMessage> got;
    for (size_t at = 0; at < stream.size(); at += piece)
      assembler.Feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)),
                     [&](ServerMessage&& m) { got.push_back(std::move(m)); });
    ASSERT_EQ(got.size(), 1u) << piece;
    EXPECT_EQ(got[0].requestId, 42u);
    EXPECT_EQ(got[0].tokenId, 7u);
    EXPECT_EQ(got[0].body, body);
    EXPECT_EQ(assembler.Buffered(), 0u);
  }
}

TEST(Chunks, RequestBeyondTheServersLimitsIsNotSent) {
  uint32_t sequence = 1;
  TransportLimits server = kSmall;
  server.maxMessageSize = 1000;
  EXPECT_THROW(EncodeChunks("MSG", 1, 1, sequence, 1, Body(1001), kSmall, server), OpcError);
  server = kSmall;
  server.maxChunkCount = 2;
  EXPECT_THROW(EncodeChunks("MSG", 1, 1, sequence, 1, Body(20000), kSmall, server), OpcError);
  EXPECT_EQ(EncodeChunks("MSG", 1, 1, sequence, 1, Body(16000), kSmall, server).size(), 2u);
}

TEST(Hello, EncodesTheLimitsAndTheUrl) {
  const auto hello = EncodeHello({65536, 65536, 0, 0}, "opc.tcp://a");
  const std::vector<uint8_t> expected = {'H', 'E', 'L', 'F', 43,  0,   0,   0,   0,   0,  0,
                                         0,   0,   0,   1,   0,   0,   0,   1,   0,   0,  0,
                                         0,   0,   0,   0,   0,   0,   11,  0,   0,   0,  'o',
                                         'p', 'c', '.', 't', 'c', 'p', ':', '/', '/', 'a'};
  EXPECT_EQ(hello, expected);
}

// A server chunk, built by hand so that any field can lie.
std::vector<uint8_t> Chunk(const char* type, char final, uint32_t channel, uint32_t token,
                           uint32_t sequence, uint32_t request,
                           const std::vector<uint8_t>& body = {1, 2, 3},
                           std::optional<uint32_t> size = std::nullopt) {
  UaWriter w;
  w.Raw(std::string_view(type, 3));
  w.Byte(uint8_t(final));
  w.U32(0);
  w.U32(channel);
  w.U32(token);
  w.U32(sequence);
  w.U32(request);
  w.Bytes(body);
  w.PatchU32(4, size.value_or(uint32_t(w.Size())));
  return w.Take();
}

std::vector<uint8_t> Error(uint32_t code, const std::string& reason) {
  UaWriter w;
  w.Raw("ERRF");
  w.U32(0);
  w.U32(code);
  w.String(reason);
  w.PatchU32(4, uint32_t(w.Size()));
  return w.Take();
}

struct StreamCase {
  const char* name;
  std::vector<std::vector<uint8_t>> chunks;
  const char* error;
};

std::vector<StreamCase> StreamCases() {
  std::vector<uint8_t> huge(20000, 0);
  return {
      {"ChunkLargerThanOurBuffer", {Chunk("MSG", 'F', 1, 1, 1, 1, {}, 8193)}, "a chunk of 8193"},
      {"ChunkSmallerThanAHeader", {Chunk("MSG", 'F', 1, 1, 1, 1, {}, 11)}, "a chunk of 11"},
      {"UnknownType", {Chunk("XYZ", 'F', 1, 1, 1, 1)}, "unknown message type 'XYZ'"},
      {"UnknownChunkType", {Chunk("MSG", 'X', 1, 1, 1, 1)}, "unknown chunk type"},
      {"OtherChannel", {Chunk("MSG", 'F', 2, 1, 1, 1)}, "for secure channel 2"},
      {"SequenceSkips",
       {Chunk("MSG", 'F', 1, 1, 1, 1), Chunk("MSG", 'F', 1, 1, 3, 2)},
       "sequence number 3 after 1"},
      {"SequenceRepeats",
       {Chunk("MSG", 'F', 1, 1, 5, 1), Chunk("MSG", 'F', 1, 1, 5, 2)},
       "sequence number 5 after 5"},
      {"TokenChangesInAMessage",
       {Chunk("MSG", 'C', 1, 1, 1, 1), Chunk("MSG", 'F', 1, 2, 2, 1)},
       "under two tokens"},
      {"ServerError", {Error(0x80820000, "too busy")}, "the server reports 0x80820000: too busy"},
      {"ErrorWithLyingReason",
       {[] {
         auto e = Error(0x80820000, "x");
         e[12] = 0xFF;  // reason length 255 in a 17-byte message
         return e;
       }()},
       "truncated"},
      {"TooManyChunks",
       [] {
         std::vector<std::vector<uint8_t>> chunks;
         for (uint32_t k = 1; k <= 65; ++k) chunks.push_back(Chunk("MSG", 'C', 1, 1, k, 9));
         return chunks;
       }(),
       "more than 64 chunks"},
      {"MessageTooLarge",
       [&] {
         std::vector<std::vector<uint8_t>> chunks;
         std::vector<uint8_t> body(8000, 0);
         for (uint32_t k = 1; k <= 40; ++k) chunks.push_back(Chunk("MSG", 'C', 1, 1, k, 9, body));
         return chunks;
       }(),
       "more than 262144 bytes"},
      {"ChunkedOpen",
       {[] {
         UaWriter w;
         w.Raw("OPNC");
         w.U32(0);
         w.U32(1);
         w.String(kSecurityPolicyNone);
         w.I32(-1);
         w.I32(-1);
         w.U32(1);
         w.U32(1);
         w.PatchU32(4, uint32_t(w.Size()));
         return w.Take();
       }()},
       "a chunked OpenSecureChannel"},
      {"OpenWithOtherPolicy",
       {[] {
         UaWriter w;
         w.Raw("OPNF");
         w.U32(0);
         w.U32(1);
         w.String("http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256");
         w.I32(-1);
         w.I32(-1);
         w.U32(1);
         w.U32(1);
         w.PatchU32(4, uint32_t(w.Size()));
         return w.Take();
       }()},
       "a security policy other than None"},
  };
}

class HostileStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(HostileStream, IsRefusedWithItsReason) {
  TransportLimits limits = kSmall;
  limits.maxMessageSize = 1 << 18;
  MessageAssembler assembler(limits);
  assembler.SetChannelId(1);
  try {
    for (const auto& chunk : GetParam().chunks) assembler.Feed(chunk, [](ServerMessage&&) {});
    FAIL() << "accepted";
  } catch (const OpcError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
  }
  EXPECT_LE(assembler.Buffered(), size_t(1 << 18));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileStream, ::testing::ValuesIn(StreamCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Chunks, AbortDropsOnlyItsMessage) {
  MessageAssembler assembler(kSmall);
  std::vector<ServerMessage> got;
  auto feed = [&](const std::vector<uint8_t>& c) {
    assembler.Feed(c, [&](ServerMessage&& m) { got.push_back(std::move(m)); });
  };
  feed(Chunk("MSG", 'C', 1, 1, 1, 7));
  feed(Chunk("MSG", 'C', 1, 1, 2, 8, {9}));
  feed(Chunk("MSG", 'A', 1, 1, 3, 7, {0, 0, 0x0A, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}));
  feed(Chunk("MSG", 'F', 1, 1, 4, 8, {10}));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].kind, MessageKind::Abort);
  EXPECT_EQ(got[0].requestId, 7u);
  EXPECT_EQ(got[1].requestId, 8u);
  EXPECT_EQ(got[1].body, (std::vector<uint8_t>{9, 10}));
  EXPECT_EQ(assembler.Buffered(), 0u);
}

TEST(Chunks, SequenceMayWrapNearItsEnd) {
  MessageAssembler assembler(kSmall);
  int got = 0;
  for (uint32_t sequence : {0xFFFFFFFEu, 0xFFFFFFFFu, 1u, 2u})
    assembler.Feed(Chunk("MSG", 'F', 1, 1, sequence, sequence), [&](ServerMessage&&) { ++got; });
  EXPECT_EQ(got, 4);
}

TEST(Acknowledge, RefusesBuffersBelowTheMinimum) {
  UaWriter w;
  for (uint32_t v : {0u, 8191u, 65536u, 0u, 0u}) w.U32(v);
  EXPECT_THROW(DecodeAcknowledge(w.Out()), OpcError);
  UaWriter ok;
  for (uint32_t v : {0u, 8192u, 65536u, 0u, 0u}) ok.U32(v);
  EXPECT_EQ(DecodeAcknowledge(ok.Out()).receiveBufferSize, 8192u);
  ok.Byte(0);
  EXPECT_THROW(DecodeAcknowledge(ok.Out()), OpcError);
}

// A fake server: accepts one connection, reads the Hello, answers with `reply`, then stays
// silent with the connection open until the client goes.
class FakeServer {
 public:
  explicit FakeServer(std::vector<uint8_t> reply) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 1);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_url = "opc.tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/fake";
    m_thread = std::thread([this, reply = std::move(reply)] {
      const int fd = ::accept(m_listen, nullptr, nullptr);
      if (fd < 0) return;
      uint8_t buffer[1024];
      if (::recv(fd, buffer, sizeof buffer, 0) > 0 && !reply.empty())
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
      }
      ::close(fd);
    });
  }
  ~FakeServer() {
    ::shutdown(m_listen, SHUT_RDWR);
    m_thread.join();
    ::close(m_listen);
  }
  const std::string& Url() const { return m_url; }

 private:
  int m_listen;
  std::string m_url;
  std::thread m_thread;
};

std::vector<uint8_t> Ack(uint32_t receive) {
  UaWriter w;
  w.Raw("ACKF");
  w.U32(28);
  for (uint32_t v : {0u, receive, 65536u, 0u, 0u}) w.U32(v);
  return w.Take();
}

struct HandshakeCase {
  const char* name;
  std::vector<uint8_t> reply;
  const char* error;
};

class Handshake : public ::testing::TestWithParam<HandshakeCase> {};

TEST_P(Handshake, FailsWithAClearError) {
  FakeServer server(GetParam().reply);
  ClientOptions options;
  options.connectTimeout = std::chrono::milliseconds(500);
  UaClient client(options);
  try {
    client.Connect(server.Url());
    FAIL() << "connected";
  } catch (const OpcError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
  }
  EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Handshake,
    ::testing::Values(
        HandshakeCase{"Silence", {}, "did not answer in time"},
        HandshakeCase{"Error", Error(0x807E0000, "no"), "the server reports 0x807E0000: no"},
        HandshakeCase{"SmallBuffers", Ack(100), "smaller than 8192"},
        HandshakeCase{"AckThenSilence", Ack(65536), "did not answer in time"},
        HandshakeCase{
            "HugeChunk", {'M', 'S', 'G', 'F', 0xFF, 0xFF, 0xFF, 0xFF}, "a chunk of 4294967295"},
        HandshakeCase{"MessageInsteadOfAck", Chunk("MSG", 'F', 1, 1, 1, 1),
                      "no Acknowledge to Hello"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndpointUrl, IsParsedStrictly) {
  const auto a = ParseEndpointUrl("opc.tcp://127.0.0.1:4841/x/y");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "127.0.0.1");
  EXPECT_EQ(a->port, 4841);
  EXPECT_EQ(ParseEndpointUrl("opc.tcp://plc")->port, 4840);
  EXPECT_EQ(ParseEndpointUrl("opc.tcp://[::1]:5000")->host, "::1");
  for (const char* bad :
       {"", "opc.tcp://", "opc.tcp://:4840", "http://h:1", "opc.tcp://h:", "opc.tcp://h:0",
        "opc.tcp://h:65536", "opc.tcp://h:12a", "opc.tcp://[::1", "opc.tcp://u@h", "OPC.TCP://h"})
    EXPECT_FALSE(ParseEndpointUrl(bad)) << bad;
}

}  // namespace
