#include "script/Types.h"

#include <limits>
#include <unordered_map>

#include "script/Bytecode.h"
#include "script/Compiler.h"
#include "script/Lexer.h"

namespace velkor {
namespace {

Type MakeScalar(TypeKind kind, Scalar scalar, const char* name) {
  Type t;
  t.kind = kind;
  t.scalar = scalar;
  t.name = name;
  return t;
}

const Type kScalarTypes[] = {
    MakeScalar(TypeKind::Void, Scalar::None, "untyped"),
    MakeScalar(TypeKind::Int, Scalar::Int8, "ShortInt"),
    MakeScalar(TypeKind::Int, Scalar::Byte, "Byte"),
    MakeScalar(TypeKind::Int, Scalar::Int16, "SmallInt"),
    MakeScalar(TypeKind::Int, Scalar::Word, "Word"),
    MakeScalar(TypeKind::Int, Scalar::Int32, "Integer"),
    MakeScalar(TypeKind::Int, Scalar::UInt32, "Cardinal"),
    MakeScalar(TypeKind::Int, Scalar::Int64, "Int64"),
    MakeScalar(TypeKind::Int, Scalar::IntAny, "Integer"),
    MakeScalar(TypeKind::Real, Scalar::Single, "Single"),
    MakeScalar(TypeKind::Real, Scalar::Double, "Double"),
    MakeScalar(TypeKind::Real, Scalar::DateTime, "TDateTime"),
    MakeScalar(TypeKind::Bool, Scalar::Bool, "Boolean"),
    MakeScalar(TypeKind::Char, Scalar::Char, "Char"),
    MakeScalar(TypeKind::Str, Scalar::Str, "String"),
    MakeScalar(TypeKind::Variant, Scalar::Variant, "Variant"),
};
const Type kVoid = MakeScalar(TypeKind::Void, Scalar::None, "no value");
const Type kNil = MakeScalar(TypeKind::Nil, Scalar::None, "Pointer");
// Longint carries the Int64 tags a host declares with it, so it is 64 bits wide here.
const Type kLongint = MakeScalar(TypeKind::Int, Scalar::Int64, "Longint");
const Type kExtended = MakeScalar(TypeKind::Real, Scalar::Double, "Extended");

}  // namespace

IntRange RangeOf(Scalar s) {
  switch (s) {
    case Scalar::Int8:
      return {-128, 127};
    case Scalar::Byte:
    case Scalar::Char:
      return {0, 255};
    case Scalar::Int16:
      return {-32768, 32767};
    case Scalar::Word:
      return {0, 65535};
    case Scalar::Int32:
      return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    case Scalar::UInt32:
      return {0, std::numeric_limits<uint32_t>::max()};
    case Scalar::Bool:
      return {0, 1};
    default:
      return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
  }
}

Tag BoxTag(Scalar s) {
  switch (s) {
    case Scalar::Int8:
    case Scalar::Int16:
      return Tag::ShortInt;
    case Scalar::Byte:
    case Scalar::Int32:
      return Tag::Integer;
    case Scalar::Word:
      return Tag::Word;
    case Scalar::UInt32:
      return Tag::DWord;
    case Scalar::Int64:
    case Scalar::IntAny:
      return Tag::Int64;
    case Scalar::Single:
      return Tag::Float;
    case Scalar::Double:
      return Tag::Double;
    case Scalar::DateTime:
      return Tag::DateTime;
    case Scalar::Bool:
      return Tag::Bool;
    case Scalar::Char:
    case Scalar::Str:
      return Tag::String;
    default:
      return Tag::Empty;
  }
}

const Type* StdType(Scalar s) { return &kScalarTypes[int(s)]; }
const Type* VoidType() { return &kVoid; }
const Type* NilType() { return &kNil; }

const Type* FindStdType(const std::string& name) {
  static const std::unordered_map<std::string, const Type*> kNames = {
      {"shortint", StdType(Scalar::Int8)},     {"byte", StdType(Scalar::Byte)},
      {"smallint", StdType(Scalar::Int16)},    {"word", StdType(Scalar::Word)},
      {"integer", StdType(Scalar::Int32)},     {"cardinal", StdType(Scalar::UInt32)},
      {"longword", StdType(Scalar::UInt32)},   {"dword", StdType(Scalar::UInt32)},
      {"int64", StdType(Scalar::Int64)},       {"longint", &kLongint},
      {"single", StdType(Scalar::Single)},     {"double", StdType(Scalar::Double)},
      {"real", StdType(Scalar::Double)},       {"extended", &kExtended},
      {"currency", StdType(Scalar::Double)},   {"tdatetime", StdType(Scalar::DateTime)},
      {"tdate", StdType(Scalar::DateTime)},    {"ttime", StdType(Scalar::DateTime)},
      {"boolean", StdType(Scalar::Bool)},      {"char", StdType(Scalar::Char)},
      {"ansichar", StdType(Scalar::Char)},     {"string", StdType(Scalar::Str)},
      {"ansistring", StdType(Scalar::Str)},    {"widestring", StdType(Scalar::Str)},
      {"unicodestring", StdType(Scalar::Str)}, {"shortstring", StdType(Scalar::Str)},
      {"variant", StdType(Scalar::Variant)},   {"olevariant", StdType(Scalar::Variant)},
  };
  const auto it = kNames.find(name);
  return it == kNames.end() ? nullptr : it->second;
}

const Type* HostVariableType(const std::string& typeName) {
  const Type* t = FindStdType(ToLowerAscii(typeName));
  return t ? t : StdType(Scalar::Variant);
}

}  // namespace velkor
