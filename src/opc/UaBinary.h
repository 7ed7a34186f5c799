#pragma once
// OPC UA binary encoding (little-endian) of the built-in types. The reader never reads past
// its input and throws OpcError on the first inconsistency: a length or count is checked
// against the bytes left before anything is allocated for it, so a hostile message can cost
// no more memory than its own size. Nesting (Variant in Variant, DiagnosticInfo in
// DiagnosticInfo) is bounded by kMaxDepth.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "opc/UaTypes.h"

namespace velkor::opc {

class UaWriter {
 public:
  void Byte(uint8_t v) { m_out.push_back(v); }
  void Bool(bool v) { Byte(v ? 1 : 0); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void I32(int32_t v) { U32(uint32_t(v)); }
  void I64(int64_t v) { U64(uint64_t(v)); }
  void F32(float v);
  void F64(double v);
  void String(std::string_view s);  // UTF-8 String and ByteString alike
  void NullString() { I32(-1); }
  void Bytes(std::span<const uint8_t> b) { m_out.insert(m_out.end(), b.begin(), b.end()); }
  void Raw(std::string_view b) { m_out.insert(m_out.end(), b.begin(), b.end()); }
  void Guid(const opc::Guid& g);
  void NodeId(const opc::NodeId& id);
  void ExpandedNodeId(const opc::ExpandedNodeId& id);
  void QualifiedName(const opc::QualifiedName& q);
  void LocalizedText(const opc::LocalizedText& t);
  void ExtensionObject(const opc::ExtensionObject& e);
  void Variant(const UaVariant& v);
  void DataValue(const opc::DataValue& v);
  void StringArray(const std::vector<std::string>& a);

  // Overwrites a little-endian u32 already written (message sizes).
  void PatchU32(size_t at, uint32_t v);
  size_t Size() const { return m_out.size(); }
  std::vector<uint8_t>& Out() { return m_out; }
  std::vector<uint8_t> Take() { return std::move(m_out); }

 private:
  void Scalar(const UaVariant& v);
  std::vector<uint8_t> m_out;
};

class UaReader {
 public:
  static constexpr int kMaxDepth = 16;

  explicit UaReader(std::span<const uint8_t> in) : m_in(in) {}

  uint8_t Byte();
  bool Bool() { return Byte() != 0; }
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  int32_t I32() { return int32_t(U32()); }
  int64_t I64() { return int64_t(U64()); }
  float F32();
  double F64();
  std::string String();  // a null String reads as empty
  opc::Guid Guid();
  opc::NodeId NodeId();
  opc::ExpandedNodeId ExpandedNodeId();
  opc::QualifiedName QualifiedName();
  opc::LocalizedText LocalizedText();
  opc::ExtensionObject ExtensionObject();
  UaVariant Variant();
  opc::DataValue DataValue();
  void SkipDiagnosticInfo();
  std::vector<std::string> StringArray();

  // An array length: -1 (null) reads as 0; a count that cannot fit in the bytes left, at
  // minElementSize bytes each, is an error.
  size_t ArrayLength(size_t minElementSize);
  std::span<const uint8_t> Take(size_t n);
  size_t Left() const { return m_in.size() - m_pos; }
  size_t Pos() const { return m_pos; }
  // Throws unless every byte was read (a message with trailing bytes lies about itself).
  void ExpectEnd(const char* what) const;

 private:
  UaVariant Variant(int depth);
  opc::DataValue DataValue(int depth);
  UaVariant Scalar(BuiltinType type, int depth);
  void SkipDiagnosticInfo(int depth);
  void Need(size_t n) const;

  std::span<const uint8_t> m_in;
  size_t m_pos = 0;
};

}  // namespace velkor::opc
