#include "opc/UaTypes.h"

#include <chrono>
#include <cstdio>

namespace velkor::opc {

std::string StatusText(StatusCode s) {
  struct Name {
    StatusCode code;
    const char* text;
  };
  static constexpr Name kNames[] = {
      {status::kGood, "Good"},
      {status::kBadUnexpectedError, "BadUnexpectedError"},
      {status::kBadCommunicationError, "BadCommunicationError"},
      {status::kBadDecodingError, "BadDecodingError"},
      {status::kBadTimeout, "BadTimeout"},
      {status::kBadNodeIdUnknown, "BadNodeIdUnknown"},
      {status::kBadNotWritable, "BadNotWritable"},
      {status::kBadTypeMismatch, "BadTypeMismatch"},
      {status::kBadConnectionClosed, "BadConnectionClosed"},
      {status::kBadServerHalted, "BadServerHalted"},
  };
  for (const Name& n : kNames)
    if (n.code == s) return n.text;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", s);
  return text;
}

// Seconds from 1601-01-01 to 1970-01-01.
static constexpr int64_t kEpochDelta = 11644473600LL;

DateTime DateTimeFromUnixMs(int64_t ms) { return (ms + kEpochDelta * 1000) * 10000; }
int64_t UnixMsFromDateTime(DateTime t) { return t / 10000 - kEpochDelta * 1000; }
DateTime UtcNow() {
  using namespace std::chrono;
  return DateTimeFromUnixMs(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

bool NodeId::IsNull() const {
  switch (kind) {
    case Kind::Numeric:
      return ns == 0 && numeric == 0;
    case Kind::String:
    case Kind::Opaque:
      return ns == 0 && text.empty();
    case Kind::Guid:
      return ns == 0 && guid == opc::Guid{};
  }
  return false;
}

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view in) {
  std::string out;
  size_t k = 0;
  for (; k + 2 < in.size(); k += 3) {
    const uint32_t v = uint8_t(in[k]) << 16 | uint8_t(in[k + 1]) << 8 | uint8_t(in[k + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kBase64[(v >> s) & 63];
  }
  if (k + 1 == in.size()) {
    const uint32_t v = uint8_t(in[k]) << 16;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (k + 2 == in.size()) {
    const uint32_t v = uint8_t(in[k]) << 16 | uint8_t(in[k + 1]) << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<std::string> FromBase64(std::string_view in) {
  if (in.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (size_t k = 0; k < in.size(); k += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t j = 0; j < 4; ++j) {
      const char c = in[k + j];
      int d;
      if (c == '=' && k + 4 == in.size() && j >= 2) {
        ++pad;
        d = 0;
      } else {
        if (pad) return std::nullopt;
        const char* p = c ? std::char_traits<char>::find(kBase64, 64, c) : nullptr;
        if (!p) return std::nullopt;
        d = int(p - kBase64);
      }
      v = v << 6 | uint32_t(d);
    }
    out += char(v >> 16);
    if (pad < 2) out += char(v >> 8);
    if (pad < 1) out += char(v);
  }
  return out;
}

// Decimal digits only, no sign, no blanks, at most max.
std::optional<uint64_t> Number(std::string_view s, uint64_t max) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

std::optional<uint64_t> Hex(std::string_view s, size_t digits) {
  if (s.size() != digits) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v << 4 | uint64_t(d);
  }
  return v;
}

std::optional<Guid> ParseGuid(std::string_view s) {
  // 8-4-4-4-12
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
    return std::nullopt;
  Guid g;
  auto d1 = Hex(s.substr(0, 8), 8), d2 = Hex(s.substr(9, 4), 4), d3 = Hex(s.substr(14, 4), 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  g.data1 = uint32_t(*d1);
  g.data2 = uint16_t(*d2);
  g.data3 = uint16_t(*d3);
  for (size_t k = 0; k < 8; ++k) {
    const size_t at = k < 2 ? 19 + 2 * k : 24 + 2 * (k - 2);
    auto b = Hex(s.substr(at, 2), 2);
    if (!b) return std::nullopt;
    g.data4[k] = uint8_t(*b);
  }
  return g;
}

}  // namespace

std::optional<NodeId> ParseNodeId(std::string_view text) {
  NodeId id;
  if (text.substr(0, 3) == "ns=") {
    const size_t semi = text.find(';');
    if (semi == std::string_view::npos) return std::nullopt;
    auto ns = Number(text.substr(3, semi - 3), 0xFFFF);
    if (!ns) return std::nullopt;
    id.ns = uint16_t(*ns);
    text.remove_prefix(semi + 1);
  }
  if (text.size() < 2 || text[1] != '=') return std::nullopt;
  const std::string_view body = text.substr(2);
  switch (text[0]) {
    case 'i': {
      auto v = Number(body, 0xFFFFFFFF);
      if (!v) return std::nullopt;
      id.numeric = uint32_t(*v);
      return id;
    }
    case 's':
      if (body.empty()) return std::nullopt;
      id.kind = NodeId::Kind::String;
      id.text = body;
      return id;
    case 'g': {
      auto g = ParseGuid(body);
      if (!g) return std::nullopt;
      id.kind = NodeId::Kind::Guid;
      id.guid = *g;
      return id;
    }
    case 'b': {
      auto bytes = FromBase64(body);
      if (!bytes || bytes->empty()) return std::nullopt;
      id.kind = NodeId::Kind::Opaque;
      id.text = std::move(*bytes);
      return id;
    }
    default:
      return std::nullopt;
  }
}

std::string NodeIdText(const NodeId& id) {
  std::string out = id.ns ? "ns=" + std::to_string(id.ns) + ";" : "";
  switch (id.kind) {
    case NodeId::Kind::Numeric:
      return out + "i=" + std::to_string(id.numeric);
    case NodeId::Kind::String:
      return out + "s=" + id.text;
    case NodeId::Kind::Opaque:
      return out + "b=" + Base64(id.text);
    case NodeId::Kind::Guid: {
      const Guid& g = id.guid;
      char text[40];
      std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.data1,
                    g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                    g.data4[5], g.data4[6], g.data4[7]);
      return out + "g=" + text;
    }
  }
  return out;
}

}  // namespace velkor::opc
