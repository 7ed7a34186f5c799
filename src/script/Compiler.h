#pragma once
// Turns the parse tree into typed bytecode in one walk. Each expression is compiled into a
// register that the caller may name (so `x := a + b` writes x directly); the value of a
// local variable is used in place, without a copy. Every check a Pascal compiler makes
// (known names, matching types, lvalues, loop-variable assignment) happens here, so the VM
// only sees programs that make sense and reports only run-time failures.

#include <memory>
#include <vector>

#include "script/Ast.h"
#include "script/Bytecode.h"
#include "script/Parser.h"

namespace velkor {

struct CompiledProgram {
  std::unique_ptr<Program> program;
  int initFunction = -1;  // sets the program's own globals to their first values
};

// `globals` holds the host's variables; the program's own are appended to it. Throws
// CompileError.
CompiledProgram CompileProgram(const ProgramAst& ast, std::vector<GlobalVar>& globals);

// A host variable's type from its type name ("Word", "TDateTime"...); Variant when the
// name is unknown.
const Type* HostVariableType(const std::string& typeName);

}  // namespace velkor
