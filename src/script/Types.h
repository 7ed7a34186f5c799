#pragma once
// Static types. Pascal declares every variable's type, so the compiler picks a typed
// operation for each use and the VM runs integer and real code without looking at tags;
// only Variant values carry their kind at run time. Integer expressions are computed in
// 64 bits and checked against the range of the variable they are stored in, so 32-bit
// overflow gives a clear error instead of a wrapped value.

#include <cstdint>
#include <string>
#include <vector>

#include "script/Value.h"

namespace velkor {

enum class TypeKind : uint8_t { Void, Int, Real, Bool, Char, Str, Variant, Array, Record, Nil };

// Scalar kinds as stored and boxed. IntAny is a computed integer: it boxes as Integer
// when it fits 32 bits and as Int64 otherwise, as the variant rules widen.
enum class Scalar : uint8_t {
  None,
  Int8,
  Byte,
  Int16,
  Word,
  Int32,
  UInt32,
  Int64,
  IntAny,
  Single,
  Double,
  DateTime,
  Bool,
  Char,
  Str,
  Variant,
};

struct Type;

struct Field {
  std::string name;  // lower case
  std::string display;
  const Type* type;
};

struct Type {
  TypeKind kind = TypeKind::Void;
  Scalar scalar = Scalar::None;
  std::string name;  // as shown in messages
  // Array: bounds of the first dimension; element the type of one element.
  int64_t low = 0, high = -1;
  const Type* element = nullptr;
  std::vector<Field> fields;  // Record
  int layout = -1;            // Array, Record: index of the aggregate layout

  bool IsAggregate() const { return kind == TypeKind::Array || kind == TypeKind::Record; }
  bool IsOrdinal() const {
    return kind == TypeKind::Int || kind == TypeKind::Char || kind == TypeKind::Bool;
  }
  bool IsNumeric() const { return kind == TypeKind::Int || kind == TypeKind::Real; }
};

// The range an integer scalar holds.
struct IntRange {
  int64_t low, high;
};
IntRange RangeOf(Scalar s);
// The tag a value of the scalar gets when boxed into a Variant.
Tag BoxTag(Scalar s);

}  // namespace velkor
