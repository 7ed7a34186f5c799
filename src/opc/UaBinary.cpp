#include "opc/UaBinary.h"

#include <cstring>

namespace velkor::opc {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw OpcError("OPC UA decoding error: " + what, status::kBadDecodingError);
}

// The smallest encoded size of a scalar of each built-in type, for bounding array counts.
size_t MinSize(BuiltinType t) {
  switch (t) {
    case BuiltinType::Boolean:
    case BuiltinType::SByte:
    case BuiltinType::Byte:
    case BuiltinType::LocalizedText:
    case BuiltinType::DataValue:
    case BuiltinType::Variant:
    case BuiltinType::DiagnosticInfo:
      return 1;
    case BuiltinType::Int16:
    case BuiltinType::UInt16:
    case BuiltinType::NodeId:
    case BuiltinType::ExpandedNodeId:
      return 2;
    case BuiltinType::Int64:
    case BuiltinType::UInt64:
    case BuiltinType::Double:
    case BuiltinType::DateTime:
      return 8;
    case BuiltinType::Guid:
      return 16;
    case BuiltinType::QualifiedName:
      return 6;
    case BuiltinType::ExtensionObject:
      return 3;
    default:
      return 4;
  }
}

}  // namespace

// --- writer ---------------------------------------------------------------------------

void UaWriter::U16(uint16_t v) {
  Byte(uint8_t(v));
  Byte(uint8_t(v >> 8));
}
void UaWriter::U32(uint32_t v) {
  for (int k = 0; k < 4; ++k) Byte(uint8_t(v >> (8 * k)));
}
void UaWriter::U64(uint64_t v) {
  for (int k = 0; k < 8; ++k) Byte(uint8_t(v >> (8 * k)));
}
void UaWriter::F32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  U32(bits);
}
void UaWriter::F64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  U64(bits);
}
void UaWriter::String(std::string_view s) {
  I32(int32_t(s.size()));
  Raw(s);
}
void UaWriter::Guid(const opc::Guid& g) {
  U32(g.data1);
  U16(g.data2);
  U16(g.data3);
  Bytes(g.data4);
}

void UaWriter::NodeId(const opc::NodeId& id) {
  using K = opc::NodeId::Kind;
  switch (id.kind) {
    case K::Numeric:
      if (id.ns == 0 && id.numeric <= 0xFF) {
        Byte(0);
        Byte(uint8_t(id.numeric));
      } else if (id.ns <= 0xFF && id.numeric <= 0xFFFF) {
        Byte(1);
        Byte(uint8_t(id.ns));
        U16(uint16_t(id.numeric));
      } else {
        Byte(2);
        U16(id.ns);
        U32(id.numeric);
      }
      return;
    case K::String:
      Byte(3);
      U16(id.ns);
      String(id.text);
      return;
    case K::Guid:
      Byte(4);
      U16(id.ns);
      Guid(id.guid);
      return;
    case K::Opaque:
      Byte(5);
      U16(id.ns);
      String(id.text);
      return;
  }
}

void UaWriter::ExpandedNodeId(const opc::ExpandedNodeId& id) {
  const size_t at = Size();
  NodeId(id.id);
  if (!id.namespaceUri.empty()) m_out[at] |= 0x80;
  if (id.serverIndex != 0) m_out[at] |= 0x40;
  if (!id.namespaceUri.empty()) String(id.namespaceUri);
  if (id.serverIndex != 0) U32(id.serverIndex);
}

void UaWriter::QualifiedName(const opc::QualifiedName& q) {
  U16(q.ns);
  String(q.name);
}

void UaWriter::LocalizedText(const opc::LocalizedText& t) {
  Byte(uint8_t((t.locale.empty() ? 0 : 1) | (t.text.empty() ? 0 : 2)));
  if (!t.locale.empty()) String(t.locale);
  if (!t.text.empty()) String(t.text);
}

void UaWriter::ExtensionObject(const opc::ExtensionObject& e) {
  NodeId(e.typeId);
  Byte(e.encoding);
  if (e.encoding != 0) String(e.body);
}

void UaWriter::Scalar(const UaVariant& v) {
  using T = BuiltinType;
  auto i = [&] { return std::get<int64_t>(v.value); };
  auto u = [&] { return std::get<uint64_t>(v.value); };
  auto d = [&] { return std::get<double>(v.value); };
  switch (v.type) {
    case T::Boolean:
      Bool(std::get<bool>(v.value));
      break;
    case T::SByte:
      Byte(uint8_t(i()));
      break;
    case T::Byte:
      Byte(uint8_t(u()));
      break;
    case T::Int16:
      U16(uint16_t(i()));
      break;
    case T::UInt16:
      U16(uint16_t(u()));
      break;
    case T::Int32:
      I32(int32_t(i()));
      break;
    case T::UInt32:
    case T::StatusCode:
      U32(uint32_t(u()));
      break;
    case T::Int64:
    case T::DateTime:
      I64(i());
      break;
    case T::UInt64:
      U64(u());
      break;
    case T::Float:
      F32(float(d()));
      break;
    case T::Double:
      F64(d());
      break;
    case T::String:
    case T::ByteString:
    case T::XmlElement:
      String(std::get<std::string>(v.value));
      break;
    case T::Guid:
      Guid(std::get<opc::Guid>(v.value));
      break;
    case T::NodeId:
      NodeId(std::get<opc::NodeId>(v.value));
      break;
    case T::ExpandedNodeId:
      ExpandedNodeId(std::get<opc::ExpandedNodeId>(v.value));
      break;
    case T::QualifiedName:
      QualifiedName(std::get<opc::QualifiedName>(v.value));
      break;
    case T::LocalizedText:
      LocalizedText(std::get<opc::LocalizedText>(v.value));
      break;
    case T::ExtensionObject:
      ExtensionObject(std::get<opc::ExtensionObject>(v.value));
      break;
    case T::Variant:
      if (v.array.size() != 1) throw OpcError("a nested Variant needs one inner value");
      Variant(v.array[0]);
      break;
    default:
      throw OpcError("cannot encode a Variant of built-in type " + std::to_string(int(v.type)));
  }
}

void UaWriter::Variant(const UaVariant& v) {
  if (v.type == BuiltinType::Null) {
    Byte(0);
    return;
  }
  uint8_t mask = uint8_t(v.type);
  if (v.isArray) mask |= 0x80;
  if (v.isArray && !v.dimensions.empty()) mask |= 0x40;
  Byte(mask);
  if (!v.isArray) return Scalar(v);
  I32(int32_t(v.array.size()));
  for (const UaVariant& e : v.array) {
    if (e.type != v.type) throw OpcError("an array element of another type");
    Scalar(e);
  }
  if (!v.dimensions.empty()) {
    I32(int32_t(v.dimensions.size()));
    for (int32_t dim : v.dimensions) I32(dim);
  }
}

void UaWriter::DataValue(const opc::DataValue& v) {
  uint8_t mask = 0;
  if (v.value) mask |= 0x01;
  if (v.status != 0) mask |= 0x02;
  if (v.sourceTime != 0) mask |= 0x04;
  if (v.serverTime != 0) mask |= 0x08;
  if (v.sourcePico != 0) mask |= 0x10;
  if (v.serverPico != 0) mask |= 0x20;
  Byte(mask);
  if (v.value) Variant(*v.value);
  if (mask & 0x02) U32(v.status);
  if (mask & 0x04) I64(v.sourceTime);
  if (mask & 0x10) U16(v.sourcePico);
  if (mask & 0x08) I64(v.serverTime);
  if (mask & 0x20) U16(v.serverPico);
}

void UaWriter::StringArray(const std::vector<std::string>& a) {
  I32(int32_t(a.size()));
  for (const std::string& s : a) String(s);
}

void UaWriter::PatchU32(size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) m_out.at(at + size_t(k)) = uint8_t(v >> (8 * k));
}

// --- reader ---------------------------------------------------------------------------

void UaReader::Need(size_t n) const {
  if (n > Left())
    Fail("message truncated: " + std::to_string(n) + " bytes needed at offset " +
         std::to_string(m_pos) + ", " + std::to_string(Left()) + " left");
}

std::span<const uint8_t> UaReader::Take(size_t n) {
  Need(n);
  auto out = m_in.subspan(m_pos, n);
  m_pos += n;
  return out;
}

uint8_t UaReader::Byte() {
  Need(1);
  return m_in[m_pos++];
}
uint16_t UaReader::U16() {
  auto b = Take(2);
  return uint16_t(b[0] | b[1] << 8);
}
uint32_t UaReader::U32() {
  auto b = Take(4);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
uint64_t UaReader::U64() {
  const uint64_t lo = U32();
  return lo | uint64_t(U32()) << 32;
}
float UaReader::F32() {
  const uint32_t bits = U32();
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}
double UaReader::F64() {
  const uint64_t bits = U64();
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

std::string UaReader::String() {
  const int32_t n = I32();
  if (n == -1) return {};
  if (n < 0) Fail("negative string length " + std::to_string(n));
  auto b = Take(size_t(n));
  return std::string(b.begin(), b.end());
}

size_t UaReader::ArrayLength(size_t minElementSize) {
  const int32_t n = I32();
  if (n == -1) return 0;
  if (n < 0) Fail("negative array length " + std::to_string(n));
  if (size_t(n) > Left() / minElementSize)
    Fail("array of " + std::to_string(n) + " elements in " + std::to_string(Left()) + " bytes");
  return size_t(n);
}

std::vector<std::string> UaReader::StringArray() {
  std::vector<std::string> out(ArrayLength(4));
  for (std::string& s : out) s = String();
  return out;
}

opc::Guid UaReader::Guid() {
  opc::Guid g;
  g.data1 = U32();
  g.data2 = U16();
  g.data3 = U16();
  auto b = Take(8);
  std::copy(b.begin(), b.end(), g.data4.begin());
  return g;
}

namespace {
opc::NodeId ReadNodeIdBody(UaReader& r, uint8_t encoding) {
  using K = opc::NodeId::Kind;
  opc::NodeId id;
  switch (encoding & 0x3F) {
    case 0:
      id.numeric = r.Byte();
      return id;
    case 1:
      id.ns = r.Byte();
      id.numeric = r.U16();
      return id;
    case 2:
      id.ns = r.U16();
      id.numeric = r.U32();
      return id;
    case 3:
      id.ns = r.U16();
      id.kind = K::String;
      id.text = r.String();
      return id;
    case 4:
      id.ns = r.U16();
      id.kind = K::Guid;
      id.guid = r.Guid();
      return id;
    case 5:
      id.ns = r.U16();
      id.kind = K::Opaque;
      id.text = r.String();
      return id;
    default:
      Fail("unknown NodeId encoding " + std::to_string(encoding));
  }
}
}  // namespace

opc::NodeId UaReader::NodeId() {
  const uint8_t encoding = Byte();
  if (encoding & 0xC0) Fail("NodeId with ExpandedNodeId flags");
  return ReadNodeIdBody(*this, encoding);
}

opc::ExpandedNodeId UaReader::ExpandedNodeId() {
  const uint8_t encoding = Byte();
  opc::ExpandedNodeId out;
  out.id = ReadNodeIdBody(*this, encoding);
  if (encoding & 0x80) out.namespaceUri = String();
  if (encoding & 0x40) out.serverIndex = U32();
  return out;
}

opc::QualifiedName UaReader::QualifiedName() {
  opc::QualifiedName q;
  q.ns = U16();
  q.name = String();
  return q;
}

opc::LocalizedText UaReader::LocalizedText() {
  const uint8_t mask = Byte();
  if (mask & ~0x03) Fail("LocalizedText mask " + std::to_string(mask));
  opc::LocalizedText t;
  if (mask & 1) t.locale = String();
  if (mask & 2) t.text = String();
  return t;
}

opc::ExtensionObject UaReader::ExtensionObject() {
  opc::ExtensionObject e;
  e.typeId = NodeId();
  e.encoding = Byte();
  if (e.encoding > 2) Fail("ExtensionObject encoding " + std::to_string(e.encoding));
  if (e.encoding != 0) e.body = String();
  return e;
}

UaVariant UaReader::Scalar(BuiltinType type, int depth) {
  using T = BuiltinType;
  UaVariant v;
  v.type = type;
  switch (type) {
    case T::Boolean:
      v.value = Bool();
      break;
    case T::SByte:
      v.value = int64_t(int8_t(Byte()));
      break;
    case T::Byte:
      v.value = uint64_t(Byte());
      break;
    case T::Int16:
      v.value = int64_t(int16_t(U16()));
      break;
    case T::UInt16:
      v.value = uint64_t(U16());
      break;
    case T::Int32:
      v.value = int64_t(I32());
      break;
    case T::UInt32:
    case T::StatusCode:
      v.value = uint64_t(U32());
      break;
    case T::Int64:
    case T::DateTime:
      v.value = I64();
      break;
    case T::UInt64:
      v.value = U64();
      break;
    case T::Float:
      v.value = double(F32());
      break;
    case T::Double:
      v.value = F64();
      break;
    case T::String:
    case T::ByteString:
    case T::XmlElement:
      v.value = String();
      break;
    case T::Guid:
      v.value = Guid();
      break;
    case T::NodeId:
      v.value = NodeId();
      break;
    case T::ExpandedNodeId:
      v.value = ExpandedNodeId();
      break;
    case T::QualifiedName:
      v.value = QualifiedName();
      break;
    case T::LocalizedText:
      v.value = LocalizedText();
      break;
    case T::ExtensionObject:
      v.value = ExtensionObject();
      break;
    case T::DataValue: {
      opc::DataValue inner = DataValue(depth + 1);
      if (inner.value) v.array.push_back(std::move(*inner.value));
      break;
    }
    case T::Variant:
      v.array.push_back(Variant(depth + 1));
      break;
    case T::DiagnosticInfo:
      SkipDiagnosticInfo(depth + 1);
      break;
    default:
      Fail("unknown built-in type " + std::to_string(int(type)));
  }
  return v;
}

UaVariant UaReader::Variant() { return Variant(0); }

UaVariant UaReader::Variant(int depth) {
  if (depth > kMaxDepth) Fail("values nested too deep");
  const uint8_t mask = Byte();
  const auto type = BuiltinType(mask & 0x3F);
  if (uint8_t(type) > uint8_t(BuiltinType::DiagnosticInfo))
    Fail("unknown built-in type " + std::to_string(int(type)));
  if (!(mask & 0x80)) {
    if (mask & 0x40) Fail("dimensions on a scalar Variant");
    if (type == BuiltinType::Null) return {};
    return Scalar(type, depth);
  }
  UaVariant v;
  v.type = type;
  v.isArray = true;
  const size_t n = ArrayLength(MinSize(type));
  if (type == BuiltinType::Null && n != 0) Fail("array of Null");
  v.array.reserve(n);
  for (size_t k = 0; k < n; ++k) v.array.push_back(Scalar(type, depth));
  if (mask & 0x40) {
    const size_t dims = ArrayLength(4);
    uint64_t product = 1;
    for (size_t k = 0; k < dims; ++k) {
      const int32_t dim = I32();
      if (dim < 0) Fail("negative array dimension");
      v.dimensions.push_back(dim);
      product = std::min<uint64_t>(product * uint64_t(dim), uint64_t(1) << 40);
    }
    if (product != n) Fail("array dimensions do not match its length");
  }
  return v;
}

opc::DataValue UaReader::DataValue() { return DataValue(0); }

opc::DataValue UaReader::DataValue(int depth) {
  if (depth > kMaxDepth) Fail("values nested too deep");
  const uint8_t mask = Byte();
  if (mask & 0xC0) Fail("DataValue mask " + std::to_string(mask));
  opc::DataValue v;
  if (mask & 0x01) v.value = Variant(depth + 1);
  if (mask & 0x02) v.status = U32();
  if (mask & 0x04) v.sourceTime = I64();
  if (mask & 0x10) v.sourcePico = U16();
  if (mask & 0x08) v.serverTime = I64();
  if (mask & 0x20) v.serverPico = U16();
  return v;
}

void UaReader::SkipDiagnosticInfo() { SkipDiagnosticInfo(0); }

void UaReader::SkipDiagnosticInfo(int depth) {
  if (depth > kMaxDepth) Fail("diagnostics nested too deep");
  const uint8_t mask = Byte();
  if (mask & 0x80) Fail("DiagnosticInfo mask " + std::to_string(mask));
  for (uint8_t bit : {0x01, 0x02, 0x04, 0x08})
    if (mask & bit) I32();
  if (mask & 0x10) String();
  if (mask & 0x20) U32();
  if (mask & 0x40) SkipDiagnosticInfo(depth + 1);
}

void UaReader::ExpectEnd(const char* what) const {
  if (Left() != 0) Fail(std::string(what) + " has " + std::to_string(Left()) + " bytes too many");
}

}  // namespace velkor::opc
