#pragma once
// The operations of the VM's Variant family (and the checks it shares with the typed ones),
// out of line: the dispatch loop calls them, the rules live here.

#include <cstdint>
#include <string>

#include "script/Opcodes.h"
#include "script/Types.h"
#include "script/Value.h"

namespace velkor {

// "Range check error: v is outside T (low..high)".
std::string RangeText(int64_t v, Scalar s);
[[noreturn]] void Overflow();
[[noreturn]] void DivByZero();

// A scalar of kind s into a variant, and a variant to a scalar of kind s (checked).
void Box(Value& dst, const Value& src, Scalar s);
void Unbox(Value& dst, const Value& src, Scalar s);

// AddV, SubV, MulV, DivV.
void VarArith(Op op, Value& dst, const Value& a, const Value& b);
// IDivV, ModV, AndV, OrV, XorV, ShlV, ShrV.
void VarIntOp(Op op, Value& dst, const Value& a, const Value& b);
// -1, 0, 1; 2 when a Null makes the comparison false.
int VarCompare(const Value& a, const Value& b);
void VarNeg(Value& dst, const Value& v);
void VarNot(Value& dst, const Value& v);

}  // namespace velkor
