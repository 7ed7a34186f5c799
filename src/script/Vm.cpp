#include "script/Vm.h"

#include <sys/mman.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "script/ScriptEngine.h"
#include "script/VariantOps.h"

namespace velkor {
namespace {

constexpr size_t kStackSlots = 1 << 18;  // 4 MiB of registers, committed as used
constexpr size_t kStackBytes = kStackSlots * sizeof(Value);

// Mapped, not calloc'ed: once glibc has freed one such block it serves the next from the
// heap and clears all 4 MiB, making every engine of a reloaded project resident in full.
Value* MapStack() {
  void* p = ::mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<Value*>(p);  // zero-filled
}

// Ends the whole call: the script's handlers do not see it.
struct Abort {
  std::string text;
};

[[noreturn]] void IndexError(int64_t index, int64_t low, uint32_t count) {
  Raise(ErrorKind::Range, "Index out of range: " + std::to_string(index) + " (bounds " +
                              std::to_string(low) + ".." + std::to_string(low + count - 1) + ")");
}

int TextCompare(const Value& a, const Value& b) {
  const int c = TextOf(a).compare(TextOf(b));
  return (c > 0) - (c < 0);
}

StrObj* Unique(Value& v) {
  if (!v.s) return nullptr;
  if (v.s->refs > 1) {
    StrObj* copy = NewStr(std::string_view(v.s->text));
    --v.s->refs;
    v.s = copy;
  }
  return v.s;
}

void AppendText(Vm& vm, Value& target, std::string_view piece) {
  vm.Charge(int64_t(piece.size() >> 6));
  if (target.tag != Tag::String) SetStr(target, nullptr);
  if (piece.empty()) return;
  if (!target.s) {
    SetStr(target, piece);
    return;
  }
  if (target.s->refs > 1) {
    std::string text;
    text.reserve(target.s->text.size() + piece.size());
    text.append(target.s->text).append(piece);
    vm.Charge(int64_t(text.size() >> 6));
    SetStr(target, NewStr(std::move(text)));
    return;
  }
  std::string& text = target.s->text;
  if (text.size() + piece.size() > kMaxStringLength) ThrowOutOfMemory();
  const size_t before = text.capacity();
  if (text.size() + piece.size() > before) {
    // Grow ahead of need and charge the growth before making it.
    const size_t want = std::max(before * 2, text.size() + piece.size());
    ChargeHeap(int64_t(want - before));
    text.reserve(want);
    const int64_t extra = int64_t(text.capacity()) - int64_t(want);
    if (extra > 0) ChargeHeap(extra);
    if (extra < 0) ReleaseHeap(-extra);
  }
  text.append(piece);
}

// Out of line: the dispatch loop's indirect jumps must not leave the scope of a local
// with a destructor.
void Concat(Vm& vm, Value& dst, const Value& a, const Value& b) {
  const std::string_view x = TextOf(a), y = TextOf(b);
  if (x.size() + y.size() > kMaxStringLength) ThrowOutOfMemory();
  std::string text;
  text.reserve(x.size() + y.size());
  text.append(x).append(y);
  vm.Charge(int64_t(text.size() >> 6));
  SetStr(dst, text.empty() ? nullptr : NewStr(std::move(text)));
}

void AppendValue(Vm& vm, Value& target, const Value& piece) {
  if (piece.tag == Tag::String && target.tag == Tag::String && piece.s && piece.s == target.s) {
    const std::string copy(TextOf(piece));  // s := s + s
    AppendText(vm, target, copy);
  } else {
    AppendText(vm, target, TextOf(piece));
  }
}

}  // namespace

void Raise(ErrorKind kind, std::string text) { throw RaisedError{std::move(text), 0, kind}; }

Vm::Vm() = default;

Vm::~Vm() {
  UnwindAll();
  if (m_stack) ::munmap(m_stack, kStackBytes);
}

void Vm::Attach(const Program* program, std::vector<Value>* globals) {
  m_program = program;
  m_globals = globals;
}

void Vm::StepsOut() {
  if (m_stop && m_stop->load(std::memory_order_relaxed))
    throw Abort{"Script stopped: the emulation is stopping"};
  // m_steps + m_remaining is what is left of the budget; move it into the share up to
  // kStopCheckSteps. A large charge may need more than one share at once.
  const int64_t move = std::min(m_remaining, kStopCheckSteps - m_steps);
  m_remaining -= move;
  m_steps += move;
  if (m_steps < 0)
    throw Abort{"Script stopped: it ran more than " + std::to_string(m_budget) +
                " steps (an endless loop?)"};
}

void Vm::DepthExceeded() {
  throw Abort{"Script stopped: calls nested deeper than " + std::to_string(kMaxCallDepth) +
              " (endless recursion?)"};
}

const std::string& Vm::CurrentExceptionText() const {
  static const std::string kNone;
  return m_caught.empty() ? kNone : m_caught.back().text;
}

bool Vm::CurrentExceptionIs(unsigned mask) const {
  return !m_caught.empty() && (mask & (1u << unsigned(m_caught.back().kind)));
}

int Vm::CurrentLine() const {
  if (m_frames.empty()) return 0;
  const Frame& f = m_frames.back();
  const size_t at = size_t(f.pc - f.fn->code.data());
  return at < f.fn->lines.size() ? f.fn->lines[at] : 0;
}

void Vm::ReleaseFrame(const Frame& f) {
  for (int k = 0; k < f.fn->numRegs; ++k) {
    Value& v = f.base[k];
    if (v.IsHeap()) Release(v);
    v.tag = Tag::Empty;
    v.i = 0;
  }
}

void Vm::SaveGlobals(const Frame& f) {
  Value* G = m_globals->data();
  for (const PromotedGlobal& p : f.fn->promoted) Copy(G[p.global], f.base[p.reg]);
}

void Vm::LoadGlobals(const Frame& f) {
  const Value* G = m_globals->data();
  for (const PromotedGlobal& p : f.fn->promoted) Copy(f.base[p.reg], G[p.global]);
}

void Vm::UnwindAll() {
  // Only the running routine's registers are newer than the globals: every caller saved
  // its own before the call.
  if (!m_frames.empty()) SaveGlobals(m_frames.back());
  while (!m_frames.empty()) {
    ReleaseFrame(m_frames.back());
    m_frames.pop_back();
  }
  if (m_stack) SetEmpty(m_stack[0]);
  m_handlers.clear();
  m_caught.clear();
  m_pending.clear();
}

AggObj* Vm::BuildAgg(int layoutIndex) {
  const AggLayout& layout = m_program->layouts[size_t(layoutIndex)];
  AggObj* a = NewAgg(layout.count);
  Value* slots = a->Slots();
  try {
    for (uint32_t k = 0; k < layout.count; ++k) {
      const SlotInit& init = layout.uniform ? layout.element : layout.slots[k];
      if (init.tag == Tag::Agg) {
        slots[k].a = BuildAgg(init.layout);
        slots[k].tag = Tag::Agg;
      } else {
        slots[k].tag = init.tag;  // zero payload: 0, 0.0, '' and #0 alike
      }
    }
  } catch (...) {
    FreeAgg(a);
    throw;
  }
  if (layout.count > 4096) Charge(layout.count >> 6);
  return a;
}

void Vm::Call(int function, Value& result) {
  if (!m_frames.empty()) throw ScriptError("The script engine was called from inside a call", 0);
  if (!m_stack) {
    m_stack = MapStack();
    if (!m_stack) throw ScriptError("Out of memory", 0);
    m_frames.reserve(kMaxCallDepth + 2);
  }
  const FunctionCode* fn = m_program->functions[size_t(function)].get();
  m_steps = std::min(m_budget, kStopCheckSteps);
  m_remaining = m_budget - m_steps;
  if (size_t(fn->numRegs) + 2 > kStackSlots) throw ScriptError("Routine too large", 0);
  m_frames.push_back({fn, fn->code.data(), m_stack + 1, m_stack});
  for (;;) {
    try {
      Execute();
      break;
    } catch (Abort& a) {
      const int line = CurrentLine();
      UnwindAll();
      throw ScriptError(a.text, line);
    } catch (RaisedError& e) {
      Resume(std::move(e));
    } catch (OverflowError& e) {
      Resume({e.what(), 0, ErrorKind::Overflow});
    } catch (ConversionError& e) {
      Resume({e.what(), 0, ErrorKind::Convert});
    } catch (ScriptError& e) {  // out of memory from the value layer
      Resume({e.what(), 0, ErrorKind::Other});
    } catch (VelkorError& e) {
      const bool div = std::strcmp(e.what(), "Деление на ноль") == 0;
      Resume(
          {div ? "Division by zero" : e.what(), 0, div ? ErrorKind::DivByZero : ErrorKind::Other});
    } catch (std::bad_alloc&) {
      Resume({"Out of memory", 0, ErrorKind::Other});
    } catch (std::exception& e) {
      Resume({e.what(), 0, ErrorKind::Other});
    }
  }
  result = m_stack[0];
  m_stack[0].tag = Tag::Empty;
  m_stack[0].i = 0;
}

void Vm::Resume(RaisedError error) {
  if (error.line == 0) error.line = CurrentLine();
  if (m_handlers.empty()) {
    UnwindAll();
    throw ScriptError(error.text, error.line);
  }
  const Handler h = m_handlers.back();
  m_handlers.pop_back();
  if (m_frames.size() - 1 > h.frame) {
    // The handler's routine called out; what the callees left in the globals is current.
    SaveGlobals(m_frames.back());
    while (m_frames.size() - 1 > h.frame) {
      ReleaseFrame(m_frames.back());
      m_frames.pop_back();
    }
    LoadGlobals(m_frames.back());
  }
  m_caught.resize(std::min(m_caught.size(), h.caught));
  m_pending.resize(std::min(m_pending.size(), h.pending));
  Frame& f = m_frames.back();
  f.pc = f.fn->code.data() + h.target;
  if (h.finally) {
    SetInt(f.base[h.stateReg], -1);
    m_pending.push_back(std::move(error));
  } else {
    m_caught.push_back(std::move(error));
  }
}

void Vm::Execute() {
  static void* const kLabels[] = {
#define VELKOR_OP_LABEL(name) &&L_##name,
      VELKOR_OPCODES(VELKOR_OP_LABEL)
#undef VELKOR_OP_LABEL
  };
  static_assert(sizeof(kLabels) / sizeof(kLabels[0]) == size_t(Op::Count));

  Frame* fr = &m_frames.back();
  const Instr* pc = fr->pc;
  Value* R = fr->base;
  Value* G = m_globals->data();
  const Value* K = m_program->constants.data();
  const Instr* ip = nullptr;

#define DISPATCH()              \
  do {                          \
    ip = pc++;                  \
    fr->pc = ip;                \
    goto* kLabels[int(ip->op)]; \
  } while (0)
#define RA R[ip->a]
#define RB R[ip->b]
#define RC R[ip->c]

  DISPATCH();

L_Nop:
  DISPATCH();
L_Move:
  Copy(RA, RB);
  DISPATCH();
L_LoadK:
  Copy(RA, K[ip->BC()]);
  DISPATCH();
L_LoadInt:
  SetInt(RA, ip->BC());
  DISPATCH();
L_LoadChar:
  SetChar(RA, ip->b);
  DISPATCH();
L_LoadBool:
  SetBool(RA, ip->b != 0);
  DISPATCH();
L_LoadStr0:
  SetStr(RA, nullptr);
  DISPATCH();
L_LoadEmpty:
  SetEmpty(RA);
  DISPATCH();
L_LoadNull:
  SetNull(RA);
  DISPATCH();
L_GetGlobal:
  Copy(RA, G[ip->BC()]);
  DISPATCH();
L_SetGlobal:
  Copy(G[ip->BC()], RA);
  DISPATCH();
L_LoadGlobals:
  LoadGlobals(*fr);
  DISPATCH();
L_SaveGlobals:
  SaveGlobals(*fr);
  DISPATCH();
L_GetUp : {
  Value* f = R;
  for (int h = 0; h < ip->x; ++h) f = f[0].ref;
  Copy(RA, f[ip->b]);
  DISPATCH();
}
L_SetUp : {
  Value* f = R;
  for (int h = 0; h < ip->x; ++h) f = f[0].ref;
  Copy(f[ip->b], RA);
  DISPATCH();
}
L_RefReg:
  SetRef(RA, &RB);
  DISPATCH();
L_RefGlobal:
  SetRef(RA, &G[ip->BC()]);
  DISPATCH();
L_RefUp : {
  Value* f = R;
  for (int h = 0; h < ip->x; ++h) f = f[0].ref;
  SetRef(RA, &f[ip->b]);
  DISPATCH();
}
L_RefIdx : {
  AggObj* agg = RB.a;
  const int64_t index = RC.i - ip->SX();
  if (uint64_t(index) >= agg->count) IndexError(RC.i, ip->SX(), agg->count);
  SetRef(RA, &agg->Slots()[index]);
  DISPATCH();
}
L_RefFld:
  SetRef(RA, &RB.a->Slots()[ip->c]);
  DISPATCH();
L_LoadRef:
  Copy(RA, *RB.ref);
  DISPATCH();
L_StoreRef:
  Copy(*RA.ref, RB);
  DISPATCH();
L_NewAgg : {
  AggObj* a = BuildAgg(ip->BC());
  if (RA.IsHeap()) Release(RA);
  RA.tag = Tag::Agg;
  RA.a = a;
  DISPATCH();
}
L_CopyAgg:
  CopyAggInto(RA.a, RB.a);
  if (RA.a->count > 4096) Charge(RA.a->count >> 6);
  DISPATCH();
L_CloneAgg : {
  AggObj* a = CloneAgg(RB.a);
  if (RA.IsHeap()) Release(RA);
  RA.tag = Tag::Agg;
  RA.a = a;
  DISPATCH();
}
L_GetIdx : {
  AggObj* agg = RB.a;
  const int64_t index = RC.i - ip->SX();
  if (uint64_t(index) >= agg->count) IndexError(RC.i, ip->SX(), agg->count);
  Copy(RA, agg->Slots()[index]);
  DISPATCH();
}
L_SetIdx : {
  AggObj* agg = RA.a;
  const int64_t index = RB.i - ip->SX();
  if (uint64_t(index) >= agg->count) IndexError(RB.i, ip->SX(), agg->count);
  Copy(agg->Slots()[index], RC);
  DISPATCH();
}
L_GetFld:
  Copy(RA, RB.a->Slots()[ip->c]);
  DISPATCH();
L_SetFld:
  Copy(RA.a->Slots()[ip->b], RC);
  DISPATCH();
L_StrIdx : {
  const std::string_view text = TextOf(RB);
  const int64_t index = RC.i;
  if (index < 1 || uint64_t(index) > text.size())
    Raise(ErrorKind::Range, "String index out of range: " + std::to_string(index) + " (length " +
                                std::to_string(text.size()) + ")");
  SetChar(RA, static_cast<unsigned char>(text[size_t(index - 1)]));
  DISPATCH();
}
L_StrSet : {
  const int64_t index = RB.i;
  const size_t size = RA.s ? RA.s->text.size() : 0;
  if (index < 1 || uint64_t(index) > size)
    Raise(ErrorKind::Range, "String index out of range: " + std::to_string(index) + " (length " +
                                std::to_string(size) + ")");
  Unique(RA)->text[size_t(index - 1)] = char(RC.i);
  DISPATCH();
}
L_AddI : {
  int64_t r;
  if (__builtin_add_overflow(RB.i, RC.i, &r)) Overflow();
  SetInt(RA, r);
  DISPATCH();
}
L_SubI : {
  int64_t r;
  if (__builtin_sub_overflow(RB.i, RC.i, &r)) Overflow();
  SetInt(RA, r);
  DISPATCH();
}
L_MulI : {
  int64_t r;
  if (__builtin_mul_overflow(RB.i, RC.i, &r)) Overflow();
  SetInt(RA, r);
  DISPATCH();
}
L_DivI : {
  const int64_t y = RC.i;
  if (y == 0) DivByZero();
  if (y == -1 && RB.i == INT64_MIN) Overflow();
  SetInt(RA, RB.i / y);
  DISPATCH();
}
L_ModI : {
  const int64_t y = RC.i;
  if (y == 0) DivByZero();
  SetInt(RA, y == -1 ? 0 : RB.i % y);
  DISPATCH();
}
L_AndI:
  SetInt(RA, RB.i & RC.i);
  DISPATCH();
L_OrI:
  SetInt(RA, RB.i | RC.i);
  DISPATCH();
L_XorI:
  SetInt(RA, RB.i ^ RC.i);
  DISPATCH();
L_ShlI:
  SetInt(RA, int64_t(uint64_t(RB.i) << (RC.i & 63)));
  DISPATCH();
L_ShrI:
  SetInt(RA, int64_t(uint64_t(RB.i) >> (RC.i & 63)));
  DISPATCH();
L_AddIK : {
  int64_t r;
  if (__builtin_add_overflow(RB.i, int64_t(ip->SC()), &r)) Overflow();
  SetInt(RA, r);
  DISPATCH();
}
L_NegI:
  if (RB.i == INT64_MIN) Overflow();
  SetInt(RA, -RB.i);
  DISPATCH();
L_NotI:
  SetInt(RA, ~RB.i);
  DISPATCH();
L_AddF:
  SetReal(RA, RB.d + RC.d);
  DISPATCH();
L_SubF:
  SetReal(RA, RB.d - RC.d);
  DISPATCH();
L_MulF:
  SetReal(RA, RB.d * RC.d);
  DISPATCH();
L_DivF:
  if (RC.d == 0.0) DivByZero();
  SetReal(RA, RB.d / RC.d);
  DISPATCH();
L_NegF:
  SetReal(RA, -RB.d);
  DISPATCH();
L_IToF:
  SetReal(RA, double(RB.i));
  DISPATCH();
L_ToSingle : {
  const double v = RB.d;
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX)
    Raise(ErrorKind::Overflow, "Floating point overflow: " + FormatReal(v) + " exceeds Single");
  SetReal(RA, double(float(v)));
  DISPATCH();
}
L_MoveChk : {
  const int64_t v = RB.i;
  const Scalar s = Scalar(ip->x);
  const IntRange r = RangeOf(s);
  if (v < r.low || v > r.high) Raise(ErrorKind::Range, RangeText(v, s));
  SetTaggedInt(RA, s == Scalar::Char ? Tag::Char : Tag::Int64, v);
  DISPATCH();
}
// The twelve numeric comparisons: one handler each, alike but for the field and operator.
#define VELKOR_COMPARE(name, field, op)         \
  L_##name : SetBool(RA, RB.field op RC.field); \
  DISPATCH();
  VELKOR_COMPARE(EqI, i, ==)
  VELKOR_COMPARE(NeI, i, !=)
  VELKOR_COMPARE(LtI, i, <)
  VELKOR_COMPARE(LeI, i, <=)
  VELKOR_COMPARE(GtI, i, >)
  VELKOR_COMPARE(GeI, i, >=)
  VELKOR_COMPARE(EqF, d, ==)
  VELKOR_COMPARE(NeF, d, !=)
  VELKOR_COMPARE(LtF, d, <)
  VELKOR_COMPARE(LeF, d, <=)
  VELKOR_COMPARE(GtF, d, >)
  VELKOR_COMPARE(GeF, d, >=)
#undef VELKOR_COMPARE
L_EqS:
  SetBool(RA, TextOf(RB) == TextOf(RC));
  DISPATCH();
L_NeS:
  SetBool(RA, TextOf(RB) != TextOf(RC));
  DISPATCH();
L_LtS:
  SetBool(RA, TextCompare(RB, RC) < 0);
  DISPATCH();
L_LeS:
  SetBool(RA, TextCompare(RB, RC) <= 0);
  DISPATCH();
L_GtS:
  SetBool(RA, TextCompare(RB, RC) > 0);
  DISPATCH();
L_GeS:
  SetBool(RA, TextCompare(RB, RC) >= 0);
  DISPATCH();
L_EqV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c == 0);
  DISPATCH();
}
L_NeV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c != 0 && !(c == 2 && RB.tag == Tag::Null && RC.tag == Tag::Null));
  DISPATCH();
}
L_LtV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c == -1);
  DISPATCH();
}
L_LeV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c == -1 || c == 0);
  DISPATCH();
}
L_GtV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c == 1);
  DISPATCH();
}
L_GeV : {
  const int c = VarCompare(RB, RC);
  SetBool(RA, c == 1 || c == 0);
  DISPATCH();
}
L_LtIJ:
  if (RA.i < RB.i) ++pc;
  DISPATCH();
L_Not:
  SetBool(RA, RB.i == 0);
  DISPATCH();
L_Concat:
  Concat(*this, RA, RB, RC);
  DISPATCH();
L_Append:
  AppendValue(*this, RA, RB);
  DISPATCH();
L_AppendG:
  AppendValue(*this, G[ip->a], RB);
  DISPATCH();
L_CharToStr : {
  const char c = char(RB.i);
  SetStr(RA, std::string_view(&c, 1));
  DISPATCH();
}
L_ToVar:
  Box(RA, RB, Scalar(ip->x));
  DISPATCH();
L_FromVar:
  Unbox(RA, RB, Scalar(ip->x));
  DISPATCH();
L_AddV:
  VarArith(Op::AddV, RA, RB, RC);
  DISPATCH();
L_SubV:
  VarArith(Op::SubV, RA, RB, RC);
  DISPATCH();
L_MulV:
  VarArith(Op::MulV, RA, RB, RC);
  DISPATCH();
L_DivV:
  VarArith(Op::DivV, RA, RB, RC);
  DISPATCH();
L_IDivV:
  VarIntOp(Op::IDivV, RA, RB, RC);
  DISPATCH();
L_ModV:
  VarIntOp(Op::ModV, RA, RB, RC);
  DISPATCH();
L_AndV:
  VarIntOp(Op::AndV, RA, RB, RC);
  DISPATCH();
L_OrV:
  VarIntOp(Op::OrV, RA, RB, RC);
  DISPATCH();
L_XorV:
  VarIntOp(Op::XorV, RA, RB, RC);
  DISPATCH();
L_ShlV:
  VarIntOp(Op::ShlV, RA, RB, RC);
  DISPATCH();
L_ShrV:
  VarIntOp(Op::ShrV, RA, RB, RC);
  DISPATCH();
L_NegV:
  VarNeg(RA, RB);
  DISPATCH();
L_NotV:
  VarNot(RA, RB);
  DISPATCH();
L_Jmp:
  pc += ip->BC();
  DISPATCH();
L_Loop:
  pc += ip->BC();
  if (--m_steps < 0) StepsOut();
  DISPATCH();
L_JT:
  if (RA.i) pc += ip->BC();
  DISPATCH();
L_JF:
  if (!RA.i) pc += ip->BC();
  DISPATCH();
L_ForUp:
  if (RA.i < RB.i) {
    ++RA.i;
    pc -= int(ip->c) | int(ip->x) << 16;
    if (--m_steps < 0) StepsOut();
  }
  DISPATCH();
L_ForDown:
  if (RA.i > RB.i) {
    --RA.i;
    pc -= int(ip->c) | int(ip->x) << 16;
    if (--m_steps < 0) StepsOut();
  }
  DISPATCH();
L_Call : {
  const FunctionCode* callee = m_program->functions[ip->b].get();
  Value* base = R + ip->c;
  if (m_frames.size() > size_t(kMaxCallDepth)) DepthExceeded();
  if (size_t(base - m_stack) + size_t(callee->numRegs) + 1 > kStackSlots) DepthExceeded();
  if (--m_steps < 0) StepsOut();
  if (ip->x != 255) {
    Value* link = R;
    for (int h = 0; h < ip->x; ++h) link = link[0].ref;
    SetRef(base[0], link);
  }
  fr->pc = pc;
  m_frames.push_back({callee, callee->code.data(), base, &RA});
  fr = &m_frames.back();
  R = base;
  pc = callee->code.data();
  DISPATCH();
}
L_CallB : {
  const BuiltinInfo& b = BuiltinAt(ip->b);
  b.fn(*this, R + ip->c, ip->x, RA);
  DISPATCH();
}
L_Ret : {
  Value result{};
  const FunctionCode* fn = fr->fn;
  if (fn->resultReg >= 0) {
    result = R[fn->resultReg];
    R[fn->resultReg].tag = Tag::Empty;
  }
  while (!m_handlers.empty() && m_handlers.back().frame + 1 >= m_frames.size())
    m_handlers.pop_back();
  if (!fn->promoted.empty()) SaveGlobals(*fr);
  ReleaseFrame(*fr);
  Value* ret = fr->ret;
  m_frames.pop_back();
  if (ret->IsHeap()) Release(*ret);
  *ret = result;
  if (m_frames.empty()) return;
  fr = &m_frames.back();
  R = fr->base;
  pc = fr->pc;
  DISPATCH();
}
L_TryExcept:
  m_handlers.push_back({m_frames.size() - 1, int(pc - fr->fn->code.data()) + ip->BC(), false, 0,
                        m_caught.size(), m_pending.size()});
  DISPATCH();
L_TryFinally:
  m_handlers.push_back({m_frames.size() - 1, int(pc - fr->fn->code.data()) + ip->BC(), true, ip->a,
                        m_caught.size(), m_pending.size()});
  DISPATCH();
L_PopTry:
  if (!m_handlers.empty()) m_handlers.pop_back();
  DISPATCH();
L_EndExcept:
  if (!m_caught.empty()) m_caught.pop_back();
  DISPATCH();
L_EndFinally : {
  const int64_t state = RA.i;
  if (state == -1 && !m_pending.empty()) {
    RaisedError e = std::move(m_pending.back());
    m_pending.pop_back();
    throw e;
  }
  if (state > 0) pc = fr->fn->code.data() + (state - 1);
  DISPATCH();
}
L_SetJump:
  SetInt(RA, ip->BC() + 1);
  DISPATCH();
L_Raise:
  Raise(ErrorKind::Custom, std::string(TextOf(RA)));
L_Reraise : {
  if (m_caught.empty()) Raise(ErrorKind::Other, "Re-raise outside an except block");
  RaisedError e = std::move(m_caught.back());
  m_caught.pop_back();
  throw e;
}

#undef DISPATCH
#undef RA
#undef RB
#undef RC
}

}  // namespace velkor
