// The binary encoding both ways, as tables of bytes; then what a hostile peer might send:
// every prefix of a valid encoding, lengths and counts that lie, nesting without end.

#include <gtest/gtest.h>

#include <functional>

#include "opc/UaBinary.h"

using namespace velkor::opc;

namespace {

std::vector<uint8_t> Bytes(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t k = 0; k < hex.size();) {
    if (hex[k] == ' ') {
      ++k;
      continue;
    }
    out.push_back(uint8_t(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16)));
    k += 2;
  }
  return out;
}

UaVariant V(BuiltinType t, decltype(UaVariant::value) v) { return UaVariant::Of(t, std::move(v)); }

UaVariant Array(BuiltinType t, std::vector<UaVariant> elements, std::vector<int32_t> dims = {}) {
  UaVariant v;
  v.type = t;
  v.isArray = true;
  v.array = std::move(elements);
  v.dimensions = std::move(dims);
  return v;
}

const Guid kGuid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};

struct VariantCase {
  const char* name;
  UaVariant value;
  const char* bytes;
};

const VariantCase kVariants[] = {
    {"Null", {}, "00"},
    {"BooleanTrue", V(BuiltinType::Boolean, true), "01 01"},
    {"SByte", V(BuiltinType::SByte, int64_t(-2)), "02 FE"},
    {"Byte", V(BuiltinType::Byte, uint64_t(200)), "03 C8"},
    {"Int16", V(BuiltinType::Int16, int64_t(-32768)), "04 00 80"},
    {"UInt16", V(BuiltinType::UInt16, uint64_t(0xBEEF)), "05 EF BE"},
    {"Int32", V(BuiltinType::Int32, int64_t(-1)), "06 FF FF FF FF"},
    {"UInt32", V(BuiltinType::UInt32, uint64_t(0x01020304)), "07 04 03 02 01"},
    {"Int64", V(BuiltinType::Int64, int64_t(-2)), "08 FE FF FF FF FF FF FF FF"},
    {"UInt64", V(BuiltinType::UInt64, uint64_t(0x8000000000000001)), "09 01 00 00 00 00 00 00 80"},
    {"Float", V(BuiltinType::Float, 1.5), "0A 00 00 C0 3F"},
    {"Double", V(BuiltinType::Double, -2.0), "0B 00 00 00 00 00 00 00 C0"},
    {"String", V(BuiltinType::String, std::string("Ёж")), "0C 04 00 00 00 D0 81 D0 B6"},
    {"EmptyString", V(BuiltinType::String, std::string()), "0C 00 00 00 00"},
    {"DateTime", V(BuiltinType::DateTime, DateTimeFromUnixMs(0)), "0D 00 80 3E D5 DE B1 9D 01"},
    {"Guid", V(BuiltinType::Guid, kGuid), "0E 91 2B 96 72 75 FA E6 4A 8D 28 B4 04 DC 7D AF 63"},
    {"ByteString", V(BuiltinType::ByteString, std::string("\x00\xFF", 2)), "0F 02 00 00 00 00 FF"},
    {"NodeId", V(BuiltinType::NodeId, NodeId::Numeric(0, 2258)), "11 01 00 D2 08"},
    {"ExpandedNodeIdWithUri",
     V(BuiltinType::ExpandedNodeId, ExpandedNodeId{NodeId::Numeric(0, 5), "u", 2}),
     "12 C0 05 01 00 00 00 75 02 00 00 00"},
    {"StatusCode", V(BuiltinType::StatusCode, uint64_t(0x80340000)), "13 00 00 34 80"},
    {"QualifiedName", V(BuiltinType::QualifiedName, QualifiedName{2, "Ab"}),
     "14 02 00 02 00 00 00 41 62"},
    {"LocalizedText", V(BuiltinType::LocalizedText, LocalizedText{"ru", "Да"}),
     "15 03 02 00 00 00 72 75 04 00 00 00 D0 94 D0 B0"},
    {"LocalizedTextTextOnly", V(BuiltinType::LocalizedText, LocalizedText{"", "x"}),
     "15 02 01 00 00 00 78"},
    {"ExtensionObject",
     V(BuiltinType::ExtensionObject, ExtensionObject{NodeId::Numeric(0, 321), 1, "ab"}),
     "16 01 00 41 01 01 02 00 00 00 61 62"},
    {"NestedVariant",
     [] {
       UaVariant v = V(BuiltinType::Variant, std::monostate{});
       v.array.push_back(V(BuiltinType::Byte, uint64_t(7)));
       return v;
     }(),
     "18 03 07"},
    {"Int16Array",
     Array(BuiltinType::Int16,
           {V(BuiltinType::Int16, int64_t(1)), V(BuiltinType::Int16, int64_t(-1))}),
     "84 02 00 00 00 01 00 FF FF"},
    {"EmptyArray", Array(BuiltinType::Double, {}), "8B 00 00 00 00"},
    {"Matrix",
     Array(BuiltinType::Byte,
           {V(BuiltinType::Byte, uint64_t(1)), V(BuiltinType::Byte, uint64_t(2))}, {1, 2}),
     "C3 02 00 00 00 01 02 02 00 00 00 01 00 00 00 02 00 00 00"},
};

class VariantCodec : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantCodec, EncodesAndDecodes) {
  const VariantCase& c = GetParam();
  UaWriter w;
  w.Variant(c.value);
  EXPECT_EQ(w.Out(), Bytes(c.bytes));
  const auto bytes = Bytes(c.bytes);
  UaReader r(bytes);
  EXPECT_EQ(r.Variant(), c.value);
  r.ExpectEnd("Variant");
}

// No prefix of a valid encoding decodes: the reader notices the missing bytes.
TEST_P(VariantCodec, EveryPrefixIsRefused) {
  const auto bytes = Bytes(GetParam().bytes);
  for (size_t n = 0; n < bytes.size(); ++n) {
    UaReader r{std::span<const uint8_t>(bytes).first(n)};
    EXPECT_THROW(r.Variant(), OpcError) << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Types, VariantCodec, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

struct NodeIdCase {
  const char* name;
  const char* text;
  const char* bytes;
};

// Each wire form, chosen by the smallest that holds the id, and its text.
const NodeIdCase kNodeIds[] = {
    {"TwoByte", "i=85", "00 55"},
    {"FourByte", "ns=2;i=1025", "01 02 01 04"},
    {"NumericLargeNamespace", "ns=300;i=1", "02 2C 01 01 00 00 00"},
    {"NumericLargeId", "i=70000", "02 00 00 70 11 01 00"},
    {"String", "ns=2;s=Tank.Level", "03 02 00 0A 00 00 00 54 61 6E 6B 2E 4C 65 76 65 6C"},
    {"StringWithSemicolon", "ns=1;s=a;b=c", "03 01 00 05 00 00 00 61 3B 62 3D 63"},
    {"Guid", "ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63",
     "04 01 00 91 2B 96 72 75 FA E6 4A 8D 28 B4 04 DC 7D AF 63"},
    {"Opaque", "ns=3;b=AAH/", "05 03 00 03 00 00 00 00 01 FF"},
    {"OpaquePadded", "ns=3;b=YQ==", "05 03 00 01 00 00 00 61"},
};

class NodeIdCodec : public ::testing::TestWithParam<NodeIdCase> {};

TEST_P(NodeIdCodec, TextAndBytesAgree) {
  const NodeIdCase& c = GetParam();
  const auto id = ParseNodeId(c.text);
  ASSERT_TRUE(id);
  EXPECT_EQ(NodeIdText(*id), c.text);
  UaWriter w;
  w.NodeId(*id);
  EXPECT_EQ(w.Out(), Bytes(c.bytes));
  const auto bytes = Bytes(c.bytes);
  UaReader r(bytes);
  EXPECT_EQ(r.NodeId(), *id);
  r.ExpectEnd("NodeId");
  for (size_t n = 0; n < bytes.size(); ++n) {
    UaReader prefix{std::span<const uint8_t>(bytes).first(n)};
    EXPECT_THROW(prefix.NodeId(), OpcError) << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, NodeIdCodec, ::testing::ValuesIn(kNodeIds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NodeIdText, RefusesWhatIsNoNodeId) {
  for (const char* text :
       {"", "i=", "i=-1", "i=4294967296", "i= 5", "ns=2", "ns=65536;i=1", "ns=;i=1",
        "ns=1;s=", "x=1", "ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF6",
        "ns=1;g=72962B91+FA75-4AE6-8D28-B404DC7DAF63",
        "ns=1;g=Z2962B91-FA75-4AE6-8D28-B404DC7DAF63", "ns=3;b=", "ns=3;b=abc", "ns=3;b=a=bc",
        "Tank.Level", " i=5", "ns=1 ;i=5"})
    EXPECT_FALSE(ParseNodeId(text)) << text;
  // Lower-case Guid digits are read; the text form writes upper case.
  const auto id = ParseNodeId("g=72962b91-fa75-4ae6-8d28-b404dc7daf63");
  ASSERT_TRUE(id);
  EXPECT_EQ(NodeIdText(*id), "g=72962B91-FA75-4AE6-8D28-B404DC7DAF63");
}

struct DataValueCase {
  const char* name;
  DataValue value;
  const char* bytes;
};

DataValue Dv(std::optional<UaVariant> v, StatusCode s, DateTime source, DateTime server,
             uint16_t sourcePico = 0, uint16_t serverPico = 0) {
  DataValue d;
  d.value = std::move(v);
  d.status = s;
  d.sourceTime = source;
  d.serverTime = server;
  d.sourcePico = sourcePico;
  d.serverPico = serverPico;
  return d;
}

const DataValueCase kDataValues[] = {
    {"Empty", Dv(std::nullopt, 0, 0, 0), "00"},
    {"ValueOnly", Dv(V(BuiltinType::Byte, uint64_t(5)), 0, 0, 0), "01 03 05"},
    {"StatusOnly", Dv(std::nullopt, 0x80340000, 0, 0), "02 00 00 34 80"},
    {"Everything", Dv(V(BuiltinType::Boolean, false), 0x40940000, 1, 2, 3, 4),
     "3F 01 00 00 00 94 40 01 00 00 00 00 00 00 00 03 00 02 00 00 00 00 00 00 00 04 00"},
};

class DataValueCodec : public ::testing::TestWithParam<DataValueCase> {};

TEST_P(DataValueCodec, EncodesAndDecodes) {
  const DataValueCase& c = GetParam();
  UaWriter w;
  w.DataValue(c.value);
  EXPECT_EQ(w.Out(), Bytes(c.bytes));
  const auto bytes = Bytes(c.bytes);
  UaReader r(bytes);
  EXPECT_EQ(r.DataValue(), c.value);
  r.ExpectEnd("DataValue");
  for (size_t n = 0; n < bytes.size(); ++n) {
    UaReader prefix{std::span<const uint8_t>(bytes).first(n)};
    EXPECT_THROW(prefix.DataValue(), OpcError) << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Masks, DataValueCodec, ::testing::ValuesIn(kDataValues),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiagnosticInfo, IsSkippedWhateverItHolds) {
  // Every field, an inner status and an inner DiagnosticInfo with a symbolic id; then a byte
  // that must remain.
  const auto bytes = Bytes(
      "7F 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 02 00 00 00 68 69 00 00 34 80"
      " 01 09 00 00 00  AA");
  UaReader r(bytes);
  r.SkipDiagnosticInfo();
  EXPECT_EQ(r.Byte(), 0xAA);
  r.ExpectEnd("DiagnosticInfo");
}

struct HostileCase {
  const char* name;
  const char* bytes;
  const char* error;  // part of the message
};

// Lengths and counts that promise more than the message holds are refused before anything
// is allocated for them; so are nesting without end and flags no encoder sets.
const HostileCase kHostile[] = {
    {"StringLongerThanMessage", "0C FF FF FF 7F 41", "truncated"},
    {"NegativeStringLength", "0C FE FF FF FF", "negative string length -2"},
    {"ArrayCountTooLarge", "86 FF FF FF 7F 00 00 00 00", "array of 2147483647 elements"},
    {"NegativeArrayCount", "86 F0 FF FF FF", "negative array length"},
    {"UnknownType", "1A", "unknown built-in type 26"},
    {"UnknownTypeInArray", "BF 00 00 00 00", "unknown built-in type 63"},
    {"DimensionsOnScalar", "46 00 00 00 00", "dimensions on a scalar"},
    {"DimensionsDisagree", "C3 02 00 00 00 01 02 01 00 00 00 03 00 00 00", "do not match"},
    {"NegativeDimension", "C3 00 00 00 00 01 00 00 00 FF FF FF FF", "negative array dimension"},
    {"UnknownNodeIdEncoding", "11 06 00", "unknown NodeId encoding 6"},
    {"LocalizedTextMask", "15 04", "LocalizedText mask 4"},
    {"ExtensionObjectEncoding", "16 00 00 03", "ExtensionObject encoding 3"},
    {"VariantNestedTooDeep", "18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 18 01 01",
     "nested too deep"},
    {"ArrayOfNull", "80 01 00 00 00 00 00 00 00", "array of Null"},
};

class HostileBytes : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileBytes, AreRefusedWithAClearError) {
  const auto bytes = Bytes(GetParam().bytes);
  UaReader r(bytes);
  try {
    r.Variant();
    FAIL() << "decoded";
  } catch (const OpcError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
    EXPECT_EQ(e.Status(), status::kBadDecodingError);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileBytes, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiagnosticInfo, NestingWithoutEndIsRefused) {
  std::vector<uint8_t> bytes(100, 0x40);
  UaReader r(bytes);
  EXPECT_THROW(r.SkipDiagnosticInfo(), OpcError);
}

TEST(DateTime, ConvertsFromAndToUnixTime) {
  EXPECT_EQ(DateTimeFromUnixMs(0), 116444736000000000);
  EXPECT_EQ(UnixMsFromDateTime(DateTimeFromUnixMs(1704164645600)), 1704164645600);
}

}  // namespace
