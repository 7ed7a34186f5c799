#pragma once
// The OPC UA built-in types the client needs, as plain values. Only what a data client
// uses is modelled in full (scalars, NodeIds, DataValue); anything else a server may send
// inside a value (structures, matrices) is kept as its encoded bytes or its elements, so a
// decoder never has to refuse a well-formed message it does not understand.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/Error.h"

namespace velkor::opc {

// Every protocol or transport failure: the connection that raised it is closed.
class OpcError : public VelkorError {
 public:
  explicit OpcError(const std::string& message, uint32_t status = 0)
      : VelkorError(message), m_status(status) {}
  uint32_t Status() const { return m_status; }

 private:
  uint32_t m_status;
};

using StatusCode = uint32_t;
namespace status {
inline constexpr StatusCode kGood = 0;
inline constexpr StatusCode kBadUnexpectedError = 0x80010000;
inline constexpr StatusCode kBadCommunicationError = 0x80050000;
inline constexpr StatusCode kBadDecodingError = 0x80070000;
inline constexpr StatusCode kBadTimeout = 0x800A0000;
inline constexpr StatusCode kBadNodeIdUnknown = 0x80340000;
inline constexpr StatusCode kBadNotWritable = 0x803B0000;
inline constexpr StatusCode kBadTypeMismatch = 0x80740000;
inline constexpr StatusCode kBadConnectionClosed = 0x80AE0000;
inline constexpr StatusCode kBadServerHalted = 0x800E0000;
}  // namespace status
inline bool IsGood(StatusCode s) { return (s >> 30) == 0; }
inline bool IsUncertain(StatusCode s) { return (s >> 30) == 1; }
inline bool IsBad(StatusCode s) { return (s >> 30) >= 2; }
// "Good", "BadNodeIdUnknown", ... for the codes above, else "0x803B0000".
std::string StatusText(StatusCode s);

// 100 ns ticks since 1601-01-01 UTC; 0 means "no time".
using DateTime = int64_t;
DateTime DateTimeFromUnixMs(int64_t ms);
int64_t UnixMsFromDateTime(DateTime t);
DateTime UtcNow();

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  std::array<uint8_t, 8> data4{};
  bool operator==(const Guid&) const = default;
};

struct NodeId {
  enum class Kind : uint8_t { Numeric, String, Guid, Opaque };
  uint16_t ns = 0;
  Kind kind = Kind::Numeric;
  uint32_t numeric = 0;
  std::string text;  // String: UTF-8; Opaque: raw bytes
  Guid guid;

  static NodeId Numeric(uint16_t ns, uint32_t id) { return {ns, Kind::Numeric, id, {}, {}}; }
  static NodeId String(uint16_t ns, std::string s) {
    return {ns, Kind::String, 0, std::move(s), {}};
  }
  bool IsNull() const;
  bool operator==(const NodeId&) const = default;
};
// The text forms "i=2258", "ns=2;s=Tank.Level", "ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63",
// "ns=3;b=<base64>". Parsing is strict: nullopt for anything else (blanks, a namespace of
// more than 65535, a number of more than 32 bits, a bad Guid or base64).
std::optional<NodeId> ParseNodeId(std::string_view text);
std::string NodeIdText(const NodeId& id);

struct ExpandedNodeId {
  NodeId id;
  std::string namespaceUri;
  uint32_t serverIndex = 0;
  bool operator==(const ExpandedNodeId&) const = default;
};

struct QualifiedName {
  uint16_t ns = 0;
  std::string name;
  bool operator==(const QualifiedName&) const = default;
};

struct LocalizedText {
  std::string locale, text;
  bool operator==(const LocalizedText&) const = default;
};

// A structure the client does not decode: its type and body, as on the wire.
struct ExtensionObject {
  NodeId typeId;
  uint8_t encoding = 0;  // 0 no body, 1 binary, 2 XML
  std::string body;
  bool operator==(const ExtensionObject&) const = default;
};

enum class BuiltinType : uint8_t {
  Null = 0,
  Boolean,
  SByte,
  Byte,
  Int16,
  UInt16,
  Int32,
  UInt32,
  Int64,
  UInt64,
  Float,
  Double,
  String,
  DateTime,
  Guid,
  ByteString,
  XmlElement,
  NodeId,
  ExpandedNodeId,
  StatusCode,
  QualifiedName,
  LocalizedText,
  ExtensionObject,
  DataValue,
  Variant,
  DiagnosticInfo
};

// A Variant: one scalar, or an array of scalars of one type (elements in `array`, each a
// scalar UaVariant). A Variant or DataValue nested in a Variant is kept as its inner value,
// the one element of `array` with isArray false.
struct UaVariant {
  BuiltinType type = BuiltinType::Null;
  bool isArray = false;
  // Boolean, signed kinds and DateTime in int64; unsigned and StatusCode in uint64; Float
  // and Double in double; String, ByteString, XmlElement in string.
  std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, NodeId, ExpandedNodeId,
               Guid, QualifiedName, LocalizedText, ExtensionObject>
      value;
  std::vector<UaVariant> array;
  std::vector<int32_t> dimensions;

  static UaVariant Of(BuiltinType type, decltype(value) v) {
    UaVariant out;
    out.type = type;
    out.value = std::move(v);
    return out;
  }
  bool operator==(const UaVariant&) const = default;
};

struct DataValue {
  std::optional<UaVariant> value;
  StatusCode status = status::kGood;
  DateTime sourceTime = 0, serverTime = 0;
  uint16_t sourcePico = 0, serverPico = 0;
  bool operator==(const DataValue&) const = default;
};

}  // namespace velkor::opc
