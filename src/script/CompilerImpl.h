#pragma once
// The compiler's own declarations, shared by its parts: Compiler.cpp (types, declarations,
// routines, the program), CompilerConst.cpp (constant evaluation), CompilerExpr.cpp
// (expressions, lvalues, globals held in registers), CompilerCalls.cpp (calls, built-ins,
// intrinsics) and CompilerStmt.cpp (statements). Nothing outside the compiler includes it.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/Builtins.h"
#include "script/Compiler.h"

namespace velkor::compiler {

inline constexpr int kMaxRegisters = 60000;
inline constexpr int64_t kMaxAggregateSlots = 16 << 20;
inline constexpr uint8_t kNoLink = 255;

struct ConstVal {
  const Type* type = nullptr;
  int64_t i = 0;
  double d = 0.0;
  std::string s;
  bool null = false;   // Null
  bool empty = false;  // Unassigned
};

enum class SymKind : uint8_t { Const, Type, Global, Local, Routine, WithField, ExcVar };

struct Symbol {
  SymKind kind = SymKind::Const;
  const Type* type = nullptr;
  int index = 0;         // global index, register, function index, with register
  int level = 0;         // routine level that owns a local
  int slot = 0;          // with field
  int promotedReg = -1;  // Global: the register that holds it in the routine being compiled
  bool isRef = false;
  bool readOnly = false;
  ConstVal value;
  std::string display;
};

struct Scope {
  std::unordered_map<std::string, Symbol> names;
};

struct ExprResult {
  int reg;
  const Type* type;
};

// Where an assignment goes.
struct LValue {
  enum class Kind : uint8_t { Reg, Global, Up, Ref, Idx, Fld, StrChar } kind = Kind::Reg;
  const Type* type = nullptr;
  int reg = 0;    // Reg: the register; Ref: register holding the reference; Idx/Fld: aggregate
  int index = 0;  // Global index; Up: register in the outer frame; Idx: index register
  int hops = 0;   // Up
  int low = 0;    // Idx
  int slot = 0;   // Fld
  int promotedGlobal = -1;  // Reg: the global that the register stands for
  bool readOnly = false;
  std::string display;
  std::unique_ptr<LValue> text;  // StrChar: the text variable; index in `index`
};

enum class ControlKind : uint8_t { Loop, TryExcept, ExceptBlock, TryFinally };

struct Control {
  ControlKind kind;
  std::vector<int> breaks;
  std::vector<int> continues;
  std::vector<int> toFinally;  // detours into the finally block
  int stateReg = -1;
};

struct FnState {
  FunctionCode* fn = nullptr;
  int nextReg = 0;
  int floor = 0;  // first register free for temporaries of the current statement
  std::vector<Control> controls;
  std::vector<int> exits;
  int routineIndex = -1;
  // Set for a routine (and the routines inside it) with var parameters: a var parameter
  // may be a global, which a register copy would then miss.
  bool noPromotion = false;
  std::vector<int> promotedRegs;
};

// Globals held in registers: at most this many per routine, to bound the cost of entry,
// exit and calls.
inline constexpr size_t kMaxPromoted = 64;

inline bool RangeWithin(Scalar inner, Scalar outer) {
  const IntRange a = RangeOf(inner), b = RangeOf(outer);
  return a.low >= b.low && a.high <= b.high;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

class Compiler {
 public:
  Compiler(std::vector<GlobalVar>& globals) : m_globals(globals) {
    m_prog = std::make_unique<Program>();
  }

  CompiledProgram Run(const ProgramAst& ast);

 private:
  // ---- errors and emission
  [[noreturn]] void Fail(Pos pos, const std::string& message) { throw CompileError{message, pos}; }
  FunctionCode& Fn() { return *m_st.fn; }
  int Here() { return int(Fn().code.size()); }
  int Emit(Op op, int a = 0, int b = 0, int c = 0, int x = 0) {
    Fn().code.push_back(Instr{op, uint8_t(x), uint16_t(a), uint16_t(b), uint16_t(c)});
    Fn().lines.push_back(m_line);
    return Here() - 1;
  }
  int EmitBC(Op op, int a, int32_t bc, int x = 0) {
    const uint32_t u = uint32_t(bc);
    return Emit(op, a, int(u & 0xFFFF), int(u >> 16), x);
  }
  int EmitJump(Op op, int a = 0) { return EmitBC(op, a, 0); }
  void SetBC(int at, int32_t bc) {
    const uint32_t u = uint32_t(bc);
    Fn().code[at].b = uint16_t(u & 0xFFFF);
    Fn().code[at].c = uint16_t(u >> 16);
  }
  void PatchTo(int at, int target) { SetBC(at, target - (at + 1)); }
  void PatchHere(int at) { PatchTo(at, Here()); }
  void PatchAll(const std::vector<int>& list, int target) {
    for (int at : list) PatchTo(at, target);
  }
  void EmitLoopTo(int target) { EmitBC(Op::Loop, 0, target - (Here() + 1)); }

  int Temp() {
    const int r = m_st.nextReg++;
    if (r >= kMaxRegisters) Fail({m_line, 1}, "Routine too large: too many registers");
    if (m_st.nextReg > Fn().numRegs) Fn().numRegs = m_st.nextReg;
    return r;
  }
  int Target(int want) { return want >= 0 ? want : Temp(); }

  int AddConst(Value v) {
    if (v.tag == Tag::String) {
      const std::string key(TextOf(v));
      const auto it = m_stringConsts.find(key);
      if (it != m_stringConsts.end()) {
        Release(v);
        return it->second;
      }
      m_stringConsts[key] = int(m_prog->constants.size());
    }
    m_prog->constants.push_back(v);
    return int(m_prog->constants.size()) - 1;
  }

  // ---- scopes
  Symbol* Lookup(const std::string& name) {
    for (auto it = m_scopes.rbegin(); it != m_scopes.rend(); ++it) {
      const auto found = it->names.find(name);
      if (found != it->names.end()) return &found->second;
    }
    return nullptr;
  }
  void Declare(const NamePos& name, Symbol sym) {
    Scope& scope = m_scopes.back();
    // The program's globals share their level with the host's variables: a program global
    // of a host variable's name would hide it from the host, which reads and writes by name.
    const bool hostClash = m_scopes.size() == 2 && m_scopes.front().names.count(name.name);
    if (scope.names.count(name.name) || hostClash)
      Fail(name.pos, "Identifier redeclared: " + Quote(name.display));
    sym.display = name.display;
    scope.names.emplace(name.name, std::move(sym));
  }

  // ---- types
  const Type* ResolveType(const TypeSpec& spec);
  int LayoutOf(const Type* t);
  SlotInit InitOf(const Type* t);
  std::string TypeName(const Type* t) const { return t->name; }

  // ---- declarations
  void DeclareBlock(const Block& block, bool isProgram);
  void DeclareConst(const ConstDecl& c, bool isProgram);
  void DeclareVars(const std::vector<NamePos>& names, const Type* type, const Expr* init,
                   bool isProgram);
  void CompileRoutine(const Routine& r);
  void EmitDefault(int reg, const Type* t);

  // ---- constants
  std::optional<ConstVal> ConstEval(const Expr& e);
  ConstVal RequireConst(const Expr& e, const char* what);
  int64_t RequireInt(const Expr& e, const char* what);
  int LoadConst(const ConstVal& c, int want);
  void EmitInit(int reg, const Type* t, const Expr& init);

  // ---- expressions
  ExprResult CompileExpr(const Expr& e, int want = -1);
  int ExprTo(const Expr& e, const Type* to, int want = -1);
  int Coerce(ExprResult r, const Type* to, int want, Pos pos);
  int ToReg(ExprResult r, int want) {
    if (want < 0 || want == r.reg) return r.reg;
    Emit(Op::Move, want, r.reg);
    return want;
  }
  ExprResult CompileName(const Expr& e, int want);
  ExprResult CompileUnary(const Expr& e, int want);
  ExprResult CompileBinary(const Expr& e, int want);
  ExprResult CompileLogical(const Expr& e, int want);
  ExprResult CompileCompare(const Expr& e, int want);
  ExprResult CompileIn(const Expr& e, int want);
  ExprResult CompileIndex(const Expr& e, int want);
  ExprResult CompileField(const Expr& e, int want);
  ExprResult CompileCall(const Expr& callee, const std::vector<ExprPtr>& args, Pos pos, int want,
                         bool asStatement);
  ExprResult CallRoutine(int index, const std::vector<ExprPtr>& args, Pos pos, int want);
  ExprResult CallBuiltin(const BuiltinInfo& b, const std::vector<ExprPtr>& args, Pos pos, int want);
  std::optional<ExprResult> CallIntrinsic(const std::string& name, const std::vector<ExprPtr>& args,
                                          Pos pos, int want, bool asStatement);
  struct IntrinsicCall {
    const std::string& name;
    const std::vector<ExprPtr>& args;
    Pos pos;
    int want;
    bool asStatement;
  };
  void ArgCount(const IntrinsicCall& call, size_t lo, size_t hi);
  std::optional<ExprResult> IntrinsicIncDec(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicLength(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicHighLow(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicOrd(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicSuccPred(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicAbsSqr(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicRandom(const IntrinsicCall& call);
  std::optional<ExprResult> IntrinsicFlow(const IntrinsicCall& call);
  ExprResult VariantOp(Op op, ExprResult l, ExprResult r, int want, Pos pos);
  ExprResult CompileBinaryOperands(const Expr& e, ExprResult l, ExprResult r, int want);
  ExprResult CompareRegs(Tok op, ExprResult l, ExprResult r, int want, Pos pos);
  int RefTo(const Expr& e, const Type* paramType, int dst, Pos pos);

  // ---- globals in registers
  void PromoteGlobals(const Stmt& body);
  bool IsPromoted(int reg) const;
  bool MayCallRoutine(const Expr& e);
  ExprResult Pin(ExprResult l, const Expr& later);

  // ---- lvalues
  LValue CompileLValue(const Expr& e);
  int Load(const LValue& lv, int want);
  void Store(const LValue& lv, int src);

  // ---- statements
  void CompileStmt(const Stmt& s);
  void CompileStmts(const StmtList& list) {
    for (const StmtPtr& s : list) CompileStmt(*s);
  }
  void CompileAssign(const Stmt& s);
  void CompileIf(const Stmt& s);
  void CompileCase(const Stmt& s);
  void CompileWhile(const Stmt& s);
  void CompileRepeat(const Stmt& s);
  void CompileFor(const Stmt& s);
  void CompileTryExcept(const Stmt& s);
  void CompileTryFinally(const Stmt& s);
  void CompileWith(const Stmt& s);
  void CompileRaise(const Stmt& s);
  void JumpOut(size_t depth, std::vector<int>* patch, Pos pos);
  int CondJumpFalse(const Expr& e);

  int BuiltinCall(const char* name, int dst, std::initializer_list<int> args);
  std::unordered_map<int, std::vector<const Expr*>> m_defaults;

  std::unique_ptr<Program> m_prog;
  std::vector<GlobalVar>& m_globals;
  std::vector<Scope> m_scopes;
  FnState m_st;
  int m_line = 1;
  int m_level = 0;
  std::unordered_map<std::string, int> m_stringConsts;
  std::unordered_map<const Type*, int> m_layouts;
  FunctionCode* m_init = nullptr;
};

bool SameType(const Type* a, const Type* b);

}  // namespace velkor::compiler
