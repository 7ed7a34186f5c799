#pragma once
// The compiled form: functions of instructions with a line per instruction, a constant
// pool, and the layouts that tell the VM how to build a fresh array or record. A Program
// owns all of it and is replaced whole at every compilation; globals live in the engine
// instead, because values added by the host must outlive recompilation.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "script/Ast.h"
#include "script/Opcodes.h"
#include "script/Types.h"
#include "script/Value.h"

namespace velkor {

// A global the routine keeps in one of its registers while it runs.
struct PromotedGlobal {
  uint16_t reg;
  uint32_t global;
};

struct FunctionCode {
  std::string name;  // lower case
  std::string display;
  int level = 1;       // 1 for routines of the program, deeper when nested
  int numParams = 0;   // registers after the static link that arguments fill
  int firstParam = 0;  // 1 when register 0 holds the static link
  int numRegs = 0;
  int resultReg = -1;
  const Type* resultType = nullptr;
  std::vector<const Type*> paramTypes;
  std::vector<ParamMode> paramModes;
  std::vector<Instr> code;
  std::vector<int> lines;
  std::vector<PromotedGlobal> promoted;
  bool defined = false;
};

// How one slot of a fresh aggregate starts.
struct SlotInit {
  Tag tag = Tag::Empty;
  int layout = -1;  // a nested aggregate
};

struct AggLayout {
  uint32_t count = 0;
  bool uniform = true;  // an array: every slot is `element`
  SlotInit element;
  std::vector<SlotInit> slots;  // a record
};

struct GlobalVar {
  std::string name;  // lower case
  std::string display;
  const Type* type = nullptr;
  bool fromHost = false;  // added by AddVariable or SetVariable, kept across compilations
};

struct Program {
  Program() = default;
  ~Program() {
    for (Value& v : constants) Release(v);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::deque<Type> types;  // declared in the program; deque keeps pointers stable
  std::vector<std::unique_ptr<FunctionCode>> functions;
  int mainFunction = -1;
  std::vector<Value> constants;
  std::vector<AggLayout> layouts;
};

// The predeclared scalar types.
const Type* StdType(Scalar s);
const Type* VoidType();
const Type* NilType();
// By lower-case name ("integer", "tdatetime", ...); null when not a predeclared type.
const Type* FindStdType(const std::string& name);

}  // namespace velkor
