#pragma once
// The instruction set, as one list that makes the enum and the dispatch table of the VM, so
// the two cannot drift apart. Instructions are 8 bytes:
// op, x, and three 16-bit operands a, b, c (b and c together make a 32-bit jump or
// constant operand). Registers are frame-relative. Typed families (I integer, F real,
// S text, V variant) are chosen by the compiler; only the V family looks at tags.

#include <cstdint>

namespace velkor {

// clang-format off
#define VELKOR_OPCODES(X)                                                                \
  X(Nop)                                                                                 \
  X(Move)       /* R[a] = R[b] */                                                        \
  X(LoadK)      /* R[a] = K[bc] */                                                       \
  X(LoadInt)    /* R[a] = sbc */                                                         \
  X(LoadChar)   /* R[a] = char b */                                                      \
  X(LoadBool)   /* R[a] = b != 0 */                                                      \
  X(LoadStr0)   /* R[a] = '' */                                                          \
  X(LoadEmpty)  /* R[a] = Unassigned */                                                  \
  X(LoadNull)   /* R[a] = Null */                                                        \
  X(GetGlobal)  /* R[a] = G[bc] */                                                       \
  X(SetGlobal)  /* G[bc] = R[a] */                                                       \
  X(LoadGlobals) /* the routine's registers that hold globals = the globals */          \
  X(SaveGlobals) /* the globals = the routine's registers that hold them */              \
  X(GetUp)      /* R[a] = Outer(x)[b] */                                                 \
  X(SetUp)      /* Outer(x)[b] = R[a] */                                                 \
  X(RefReg)     /* R[a] = &R[b] */                                                       \
  X(RefGlobal)  /* R[a] = &G[bc] */                                                      \
  X(RefUp)      /* R[a] = &Outer(x)[b] */                                                \
  X(RefIdx)     /* R[a] = &Agg(R[b])[R[c] - sx] */                                       \
  X(RefFld)     /* R[a] = &Agg(R[b])[c] */                                               \
  X(LoadRef)    /* R[a] = *R[b] */                                                       \
  X(StoreRef)   /* *R[a] = R[b] */                                                       \
  X(NewAgg)     /* R[a] = new aggregate of layout bc */                                  \
  X(CopyAgg)    /* Agg(R[a]) = deep copy of Agg(R[b]) */                                 \
  X(CloneAgg)   /* R[a] = new deep copy of Agg(R[b]) */                                  \
  X(GetIdx)     /* R[a] = Agg(R[b])[R[c] - sx] */                                        \
  X(SetIdx)     /* Agg(R[a])[R[b] - sx] = R[c] */                                        \
  X(GetFld)     /* R[a] = Agg(R[b])[c] */                                                \
  X(SetFld)     /* Agg(R[a])[b] = R[c] */                                                \
  X(StrIdx)     /* R[a] = R[b][R[c]] as a Char, from 1 */                                \
  X(StrSet)     /* R[a][R[b]] = R[c], copying a shared text first */                     \
  X(AddI)       /* R[a] = R[b] op R[c], 64-bit, overflow raises */                       \
  X(SubI)                                                                                \
  X(MulI)                                                                                \
  X(DivI)                                                                                \
  X(ModI)                                                                                \
  X(AndI)                                                                                \
  X(OrI)                                                                                 \
  X(XorI)                                                                                \
  X(ShlI)                                                                                \
  X(ShrI)                                                                                \
  X(AddIK)      /* R[a] = R[b] + sc */                                                   \
  X(NegI)                                                                                \
  X(NotI)                                                                                \
  X(AddF)                                                                                \
  X(SubF)                                                                                \
  X(MulF)                                                                                \
  X(DivF)                                                                                \
  X(NegF)                                                                                \
  X(IToF)       /* R[a] = double(R[b]) */                                                \
  X(ToSingle)   /* R[a] = float(R[b]) */                                                 \
  X(MoveChk)    /* R[a] = R[b], checked against the range of scalar x */                 \
  X(EqI)        /* R[a] = R[b] cmp R[c] */                                               \
  X(NeI)                                                                                 \
  X(LtI)                                                                                 \
  X(LeI)                                                                                 \
  X(GtI)                                                                                 \
  X(GeI)                                                                                 \
  X(EqF)                                                                                 \
  X(NeF)                                                                                 \
  X(LtF)                                                                                 \
  X(LeF)                                                                                 \
  X(GtF)                                                                                 \
  X(GeF)                                                                                 \
  X(EqS)                                                                                 \
  X(NeS)                                                                                 \
  X(LtS)                                                                                 \
  X(LeS)                                                                                 \
  X(GtS)                                                                                 \
  X(GeS)                                                                                 \
  X(EqV)                                                                                 \
  X(NeV)                                                                                 \
  X(LtV)                                                                                 \
  X(LeV)                                                                                 \
  X(GtV)                                                                                 \
  X(GeV)                                                                                 \
  X(LtIJ)       /* if R[a] < R[b], skip the next instruction (the jump out of a loop) */ \
  X(Not)                                                                                 \
  X(Concat)     /* R[a] = R[b] + R[c] (texts) */                                         \
  X(Append)     /* R[a] = R[a] + R[b], in place when the text is not shared */           \
  X(AppendG)    /* G[a] = G[a] + R[b] */                                                 \
  X(CharToStr)                                                                           \
  X(ToVar)      /* R[a] = R[b] boxed from scalar x */                                    \
  X(FromVar)    /* R[a] = R[b] converted to scalar x */                                  \
  X(AddV)       /* R[a] = R[b] op R[c] by the variant rules */                           \
  X(SubV)                                                                                \
  X(MulV)                                                                                \
  X(DivV)                                                                                \
  X(IDivV)                                                                               \
  X(ModV)                                                                                \
  X(AndV)                                                                                \
  X(OrV)                                                                                 \
  X(XorV)                                                                                \
  X(ShlV)                                                                                \
  X(ShrV)                                                                                \
  X(NegV)                                                                                \
  X(NotV)                                                                                \
  X(Jmp)        /* pc += sbc */                                                          \
  X(Loop)       /* pc += sbc, a backward jump that spends a step */                      \
  X(JT)         /* if R[a] then pc += sbc */                                             \
  X(JF)         /* if not R[a] then pc += sbc */                                         \
  X(ForUp)      /* if R[a] < R[b]: R[a]++, pc -= c | x << 16, a step */                  \
  X(ForDown)                                                                             \
  X(Call)       /* R[a] = F[b](R[c]...), static link from x hops (255: none) */          \
  X(CallB)      /* R[a] = builtin b(R[c] ... R[c + x - 1]) */                            \
  X(Ret)                                                                                 \
  X(TryExcept)  /* push a handler at pc + sbc */                                         \
  X(TryFinally) /* push a handler at pc + sbc whose state lives in R[a] */               \
  X(PopTry)                                                                              \
  X(EndExcept)                                                                           \
  X(EndFinally) /* resume what the state in R[a] says */                                 \
  X(SetJump)    /* R[a] = "continue at bc" for EndFinally */                             \
  X(Raise)      /* raise the text R[a] */                                                \
  X(Reraise)
// clang-format on

enum class Op : uint8_t {
#define VELKOR_OP_ENUM(name) name,
  VELKOR_OPCODES(VELKOR_OP_ENUM)
#undef VELKOR_OP_ENUM
      Count
};

struct Instr {
  Op op;
  uint8_t x;
  uint16_t a, b, c;
  int32_t BC() const { return int32_t(uint32_t(b) | uint32_t(c) << 16); }
  int16_t SC() const { return int16_t(c); }
  int8_t SX() const { return int8_t(x); }
};
static_assert(sizeof(Instr) == 8);

}  // namespace velkor
