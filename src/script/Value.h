#pragma once
// The interpreter's register value. It is a trivial 16-byte struct whose all-zero bytes are
// Empty, so the VM's register stack is a block of zeroed memory that the OS commits only as
// deep as calls go. The tag reuses the model's VarType codes so that a Variant-typed script
// variable keeps the exact kind a tag gave it (Word, DWord, DateTime...), which the variant
// arithmetic rules depend on. Statically typed code never looks at the tag: the compiler
// chose the operation already. Texts and aggregates are reference counted; an aggregate
// (static array or record) is owned by its variable and assignment copies into it, so a
// pointer to one of its slots stays valid while the variable lives.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/Variant.h"

namespace velkor {

enum class Tag : uint16_t {
  Empty = 0,
  Null = 1,
  ShortInt = 2,
  Integer = 3,
  Float = 4,
  Double = 5,
  DateTime = 7,
  Bool = 11,
  Word = 18,
  DWord = 19,
  Int64 = 20,
  String = 256,  // heap
  Agg = 257,     // heap
  Char = 512,
  Ref = 513,  // pointer to another value: a var parameter
};

struct StrObj;
struct AggObj;

struct Value {
  Tag tag;
  union {
    int64_t i;
    double d;
    StrObj* s;
    AggObj* a;
    Value* ref;
  };

  bool IsHeap() const { return (uint16_t(tag) & ~1u) == 256; }
};
static_assert(sizeof(Value) == 16);

// Limits that keep a script from exhausting memory: one text, and all live texts and
// aggregate slots of the process together.
constexpr size_t kMaxStringLength = 64u << 20;
constexpr int64_t kMaxScriptHeapBytes = int64_t(512) << 20;

// Raised when a script would exceed the memory limits (a run-time error of the script).
void ThrowOutOfMemory();
void ChargeHeap(int64_t bytes);
void ReleaseHeap(int64_t bytes);

struct StrObj {
  int32_t refs = 1;
  std::string text;
};

struct AggObj {
  int32_t refs = 1;
  uint32_t count = 0;
  // The slots follow the header in the same allocation.
  Value* Slots() { return reinterpret_cast<Value*>(this + 1); }
  const Value* Slots() const { return reinterpret_cast<const Value*>(this + 1); }
};

StrObj* NewStr(std::string_view text);
StrObj* NewStr(std::string&& text);
void FreeStr(StrObj* s);
AggObj* NewAgg(uint32_t count);
void FreeAgg(AggObj* a);

inline void Retain(const Value& v) {
  if (v.tag == Tag::String) {
    if (v.s) ++v.s->refs;
  } else if (v.tag == Tag::Agg) {
    ++v.a->refs;
  }
}

inline void Release(Value& v) {
  if (v.tag == Tag::String) {
    if (v.s && --v.s->refs == 0) FreeStr(v.s);
  } else if (v.tag == Tag::Agg) {
    if (--v.a->refs == 0) FreeAgg(v.a);
  }
}

// Register writes: each drops what the register held before.
inline void SetTaggedInt(Value& v, Tag tag, int64_t x) {
  if (v.IsHeap()) Release(v);
  v.tag = tag;
  v.i = x;
}
inline void SetTaggedReal(Value& v, Tag tag, double x) {
  if (v.IsHeap()) Release(v);
  v.tag = tag;
  v.d = x;
}
inline void SetInt(Value& v, int64_t x) { SetTaggedInt(v, Tag::Int64, x); }
inline void SetReal(Value& v, double x) { SetTaggedReal(v, Tag::Double, x); }
inline void SetBool(Value& v, bool x) { SetTaggedInt(v, Tag::Bool, x); }
inline void SetChar(Value& v, int64_t code) { SetTaggedInt(v, Tag::Char, code); }
inline void SetRef(Value& v, Value* target) {
  if (v.IsHeap()) Release(v);
  v.tag = Tag::Ref;
  v.ref = target;
}
// Takes over the caller's reference to s (null is the empty text).
inline void SetStr(Value& v, StrObj* s) {
  if (v.IsHeap()) Release(v);
  v.tag = Tag::String;
  v.s = s;
}
inline void SetStr(Value& v, std::string_view text) {
  SetStr(v, text.empty() ? nullptr : NewStr(text));
}
inline void SetEmpty(Value& v) {
  if (v.IsHeap()) Release(v);
  v.tag = Tag::Empty;
  v.i = 0;
}
inline void SetNull(Value& v) {
  if (v.IsHeap()) Release(v);
  v.tag = Tag::Null;
  v.i = 0;
}
// Reads src before dropping dst: src may live inside what dst holds.
inline void Copy(Value& dst, const Value& src) {
  const Value v = src;
  Retain(v);
  if (dst.IsHeap()) Release(dst);
  dst = v;
}

inline std::string_view TextOf(const Value& v) {
  return v.s ? std::string_view(v.s->text) : std::string_view();
}

// Deep copy of an aggregate's contents into another of the same shape.
void CopyAggInto(AggObj* dst, const AggObj* src);
AggObj* CloneAgg(const AggObj* src);

// The boundary with the model: exact kinds both ways. A Char becomes a one-letter text;
// aggregates and references do not cross (ToVariant gives Empty for them).
Variant ToVariant(const Value& v);
void FromVariant(Value& dst, const Variant& v);

}  // namespace velkor
