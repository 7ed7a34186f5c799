// Heap accounting is process-wide because texts outlive the call that made them (a global
// of one engine) and engines run on several threads; a relaxed counter is enough for a cap.

#include "script/Value.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "script/ScriptEngine.h"

namespace velkor {
namespace {

std::atomic<int64_t> g_heapBytes{0};

int64_t AggBytes(uint32_t count) { return int64_t(sizeof(AggObj) + sizeof(Value) * count); }

}  // namespace

void ThrowOutOfMemory() { throw ScriptError("Out of memory: the script uses too much memory", 0); }

void ChargeHeap(int64_t bytes) {
  if (g_heapBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes > kMaxScriptHeapBytes) {
    g_heapBytes.fetch_sub(bytes, std::memory_order_relaxed);
    ThrowOutOfMemory();
  }
}

void ReleaseHeap(int64_t bytes) { g_heapBytes.fetch_sub(bytes, std::memory_order_relaxed); }

StrObj* NewStr(std::string_view text) { return NewStr(std::string(text)); }

StrObj* NewStr(std::string&& text) {
  if (text.size() > kMaxStringLength) ThrowOutOfMemory();
  ChargeHeap(int64_t(text.capacity()));
  StrObj* s = new StrObj;
  s->text = std::move(text);
  return s;
}

void FreeStr(StrObj* s) {
  ReleaseHeap(int64_t(s->text.capacity()));
  delete s;
}

AggObj* NewAgg(uint32_t count) {
  const int64_t bytes = AggBytes(count);
  ChargeHeap(bytes);
  void* memory = std::calloc(1, size_t(bytes));
  if (!memory) {
    ReleaseHeap(bytes);
    ThrowOutOfMemory();
  }
  AggObj* a = static_cast<AggObj*>(memory);
  a->refs = 1;
  a->count = count;
  return a;
}

void FreeAgg(AggObj* a) {
  for (uint32_t k = 0; k < a->count; ++k) Release(a->Slots()[k]);
  ReleaseHeap(AggBytes(a->count));
  std::free(a);
}

void CopyAggInto(AggObj* dst, const AggObj* src) {
  if (dst == src) return;
  for (uint32_t k = 0; k < dst->count && k < src->count; ++k) {
    const Value& from = src->Slots()[k];
    if (from.tag == Tag::Agg && dst->Slots()[k].tag == Tag::Agg)
      CopyAggInto(dst->Slots()[k].a, from.a);
    else
      Copy(dst->Slots()[k], from);
  }
}

AggObj* CloneAgg(const AggObj* src) {
  AggObj* a = NewAgg(src->count);
  for (uint32_t k = 0; k < src->count; ++k) {
    const Value& from = src->Slots()[k];
    if (from.tag == Tag::Agg) {
      a->Slots()[k].tag = Tag::Agg;
      try {
        a->Slots()[k].a = CloneAgg(from.a);
      } catch (...) {
        a->Slots()[k].tag = Tag::Empty;
        FreeAgg(a);
        throw;
      }
    } else {
      Copy(a->Slots()[k], from);
    }
  }
  return a;
}

Variant ToVariant(const Value& v) {
  switch (v.tag) {
    case Tag::Empty:
      return Variant();
    case Tag::Null:
      return Variant::Null();
    case Tag::ShortInt:
      return Variant::OfShortInt(int16_t(v.i));
    case Tag::Integer:
      return Variant::OfInteger(int32_t(v.i));
    case Tag::Word:
      return Variant::OfWord(uint16_t(v.i));
    case Tag::DWord:
      return Variant::OfDWord(uint32_t(v.i));
    case Tag::Int64:
      return Variant::OfInt64(v.i);
    case Tag::Float:
      return Variant::OfFloat(float(v.d));
    case Tag::Double:
      return Variant::OfDouble(v.d);
    case Tag::DateTime:
      return Variant::OfDateTime(v.d);
    case Tag::Bool:
      return Variant(v.i != 0);
    case Tag::String:
      return Variant(TextOf(v));
    case Tag::Char:
      return Variant(std::string(1, char(v.i)));
    case Tag::Agg:
    case Tag::Ref:
      break;
  }
  return Variant();
}

void FromVariant(Value& dst, const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty:
      SetEmpty(dst);
      return;
    case VarType::Null:
      SetNull(dst);
      return;
    case VarType::ShortInt:
    case VarType::Integer:
    case VarType::Word:
    case VarType::DWord:
    case VarType::Int64:
    case VarType::Bool:
      SetTaggedInt(dst, Tag(v.Type()), v.RawInt());
      return;
    case VarType::Float:
    case VarType::Double:
    case VarType::DateTime:
      SetTaggedReal(dst, Tag(v.Type()), v.RawReal());
      return;
    case VarType::String:
      SetStr(dst, v.RawText());
      return;
  }
  SetEmpty(dst);
}

}  // namespace velkor
