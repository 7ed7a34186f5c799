#pragma once
// The predeclared routines. Each is described by a short signature string that the
// compiler reads to convert the arguments (so a routine receives exactly the kinds it
// declares and needs no checks of its own) and to type the result. Routines whose typing
// depends on the arguments (Inc, Length, Abs, Ord, High, Random...) are compiled inline.

#include <string>

#include "script/Value.h"

namespace velkor {

class Vm;

using BuiltinFn = void (*)(Vm& vm, Value* args, int argc, Value& result);

struct BuiltinInfo {
  const char* name;  // lower case
  BuiltinFn fn;
  // One letter per parameter: i integer, f real, d date-time, s text, b boolean, c char,
  // v variant; upper case for a var parameter (read before and written back after the
  // call); '|' starts the optional ones; '*' takes an [array of const] as variants.
  const char* params;
  char result;  // a letter as above, or '-' for a procedure
};

// Null when there is no built-in routine of that lower-case name.
const BuiltinInfo* FindBuiltin(const std::string& name);
int BuiltinIndex(const BuiltinInfo* info);
const BuiltinInfo& BuiltinAt(int index);

// Predeclared constants that are not types or routines.
struct BuiltinConst {
  const char* name;
  char kind;  // i integer, f real, b boolean, s text, n Null, e Unassigned, p nil
  int64_t integer;
};
const BuiltinConst* FindBuiltinConst(const std::string& name);

// The error categories that "on E: T do" handlers tell apart.
enum class ErrorKind : uint8_t { Other, DivByZero, Convert, Overflow, Range, Custom };
// Bit set of the categories an exception type name catches; 0 for an unknown name.
unsigned ExceptionTypeMask(const std::string& lowerName);

}  // namespace velkor
