#include "script/Compiler.h"

#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

#include "script/Builtins.h"

namespace velkor {
namespace {

constexpr int kMaxRegisters = 60000;
constexpr int64_t kMaxAggregateSlots = 16 << 20;
constexpr uint8_t kNoLink = 255;

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
  int index = 0;  // global index, register, function index, with register
  int level = 0;  // routine level that owns a local
  int slot = 0;   // with field
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
constexpr size_t kMaxPromoted = 64;

bool RangeWithin(Scalar inner, Scalar outer) {
  const IntRange a = RangeOf(inner), b = RangeOf(outer);
  return a.low >= b.low && a.high <= b.high;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

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

// ---------------------------------------------------------------- types

const Type* Compiler::ResolveType(const TypeSpec& spec) {
  switch (spec.kind) {
    case TypeSpecKind::Named: {
      if (const Symbol* s = Lookup(spec.name.name)) {
        if (s->kind == SymKind::Type) return s->type;
        Fail(spec.name.pos, Quote(spec.name.display) + " is not a type");
      }
      if (const Type* t = FindStdType(spec.name.name)) return t;
      Fail(spec.name.pos, "Unknown type " + Quote(spec.name.display));
    }
    case TypeSpecKind::Array: {
      // array[a..b, c..d] of T is array[a..b] of array[c..d] of T
      std::vector<std::pair<const Expr*, const Expr*>> dims{{spec.low.get(), spec.high.get()}};
      for (size_t k = 0; k < spec.dimsLow.size(); ++k)
        dims.emplace_back(spec.dimsLow[k].get(), spec.dimsHigh[k].get());
      const Type* element = ResolveType(*spec.element);
      for (size_t k = dims.size(); k-- > 0;) {
        const int64_t low = RequireInt(*dims[k].first, "array bound");
        const int64_t high = RequireInt(*dims[k].second, "array bound");
        if (high < low) Fail(spec.pos, "Array upper bound is below the lower bound");
        if (low < INT32_MIN || high > INT32_MAX || high - low + 1 > kMaxAggregateSlots)
          Fail(spec.pos, "Array too large (at most 16777216 elements)");
        Type t;
        t.kind = TypeKind::Array;
        t.low = low;
        t.high = high;
        t.element = element;
        t.name =
            "array[" + std::to_string(low) + ".." + std::to_string(high) + "] of " + element->name;
        m_prog->types.push_back(std::move(t));
        element = &m_prog->types.back();
      }
      return element;
    }
    case TypeSpecKind::Record: {
      Type t;
      t.kind = TypeKind::Record;
      t.name = "record";
      for (const FieldSpec& f : spec.fields) {
        const Type* ft = ResolveType(*f.type);
        for (const NamePos& n : f.names) {
          for (const Field& existing : t.fields)
            if (existing.name == n.name) Fail(n.pos, "Duplicate field " + Quote(n.display));
          t.fields.push_back({n.name, n.display, ft});
        }
      }
      if (t.fields.size() > 60000) Fail(spec.pos, "Record has too many fields");
      m_prog->types.push_back(std::move(t));
      return &m_prog->types.back();
    }
    case TypeSpecKind::Set:
      Fail(spec.pos, "Set types are not supported; use a set literal with 'in'");
  }
  Fail(spec.pos, "Unknown type");
}

SlotInit Compiler::InitOf(const Type* t) {
  SlotInit init;
  switch (t->kind) {
    case TypeKind::Int:
      init.tag = Tag::Int64;
      break;
    case TypeKind::Real:
      init.tag = Tag::Double;
      break;
    case TypeKind::Bool:
      init.tag = Tag::Bool;
      break;
    case TypeKind::Char:
      init.tag = Tag::Char;
      break;
    case TypeKind::Str:
      init.tag = Tag::String;
      break;
    case TypeKind::Array:
    case TypeKind::Record:
      init.tag = Tag::Agg;
      init.layout = LayoutOf(t);
      break;
    default:
      init.tag = Tag::Empty;
      break;
  }
  return init;
}

int Compiler::LayoutOf(const Type* t) {
  const auto it = m_layouts.find(t);
  if (it != m_layouts.end()) return it->second;
  AggLayout layout;
  if (t->kind == TypeKind::Array) {
    layout.count = uint32_t(t->high - t->low + 1);
    layout.uniform = true;
    layout.element = InitOf(t->element);
  } else {
    layout.count = uint32_t(t->fields.size());
    layout.uniform = false;
    for (const Field& f : t->fields) layout.slots.push_back(InitOf(f.type));
  }
  // A nested layout may reallocate the vector: take the index only now.
  m_prog->layouts.push_back(std::move(layout));
  const int index = int(m_prog->layouts.size()) - 1;
  m_layouts[t] = index;
  return index;
}

void Compiler::EmitDefault(int reg, const Type* t) {
  switch (t->kind) {
    case TypeKind::Int:
      Emit(Op::LoadInt, reg);
      break;
    case TypeKind::Real: {
      Value v{};
      v.tag = Tag::Double;
      v.d = 0.0;
      EmitBC(Op::LoadK, reg, AddConst(v));
      break;
    }
    case TypeKind::Bool:
      Emit(Op::LoadBool, reg, 0);
      break;
    case TypeKind::Char:
      Emit(Op::LoadChar, reg, 0);
      break;
    case TypeKind::Str:
      Emit(Op::LoadStr0, reg);
      break;
    case TypeKind::Array:
    case TypeKind::Record:
      EmitBC(Op::NewAgg, reg, LayoutOf(t));
      break;
    default:
      Emit(Op::LoadEmpty, reg);
      break;
  }
}

// ---------------------------------------------------------------- constants

std::optional<ConstVal> Compiler::ConstEval(const Expr& e) {
  ConstVal c;
  switch (e.kind) {
    case ExprKind::Int:
      c.type = StdType(Scalar::IntAny);
      c.i = e.integer;
      return c;
    case ExprKind::Real:
      c.type = StdType(Scalar::Double);
      c.d = e.real;
      return c;
    case ExprKind::Text:
      if (e.text.size() == 1) {
        c.type = StdType(Scalar::Char);
        c.i = static_cast<unsigned char>(e.text[0]);
      } else {
        c.type = StdType(Scalar::Str);
      }
      c.s = e.text;
      return c;
    case ExprKind::Name: {
      if (const Symbol* s = Lookup(e.text)) {
        if (s->kind == SymKind::Const) return s->value;
        return std::nullopt;
      }
      if (const BuiltinConst* b = FindBuiltinConst(e.text)) {
        switch (b->kind) {
          case 'i':
            c.type = StdType(Scalar::IntAny);
            c.i = b->integer;
            return c;
          case 'b':
            c.type = StdType(Scalar::Bool);
            c.i = b->integer;
            return c;
          case 'n':
            c.type = StdType(Scalar::Variant);
            c.null = true;
            return c;
          case 'e':
            c.type = StdType(Scalar::Variant);
            c.empty = true;
            return c;
          case 'p':
            c.type = NilType();
            return c;
          default:
            return std::nullopt;
        }
      }
      return std::nullopt;
    }
    case ExprKind::Unary: {
      auto v = ConstEval(*e.args[0]);
      if (!v) return std::nullopt;
      if (e.op == Tok::Minus && v->type->kind == TypeKind::Int && v->i != INT64_MIN) {
        v->i = -v->i;
        v->type = StdType(Scalar::IntAny);
        return v;
      }
      if (e.op == Tok::Minus && v->type->kind == TypeKind::Real) {
        v->d = -v->d;
        return v;
      }
      if (e.op == Tok::Plus && v->type->IsNumeric()) return v;
      if (e.op == Tok::KwNot && v->type->kind == TypeKind::Bool) {
        v->i = !v->i;
        return v;
      }
      if (e.op == Tok::KwNot && v->type->kind == TypeKind::Int) {
        v->i = ~v->i;
        v->type = StdType(Scalar::IntAny);
        return v;
      }
      return std::nullopt;
    }
    case ExprKind::Binary: {
      if (e.op == Tok::DotDot || e.op == Tok::KwIn || e.op == Tok::KwIs) return std::nullopt;
      auto l = ConstEval(*e.args[0]);
      if (!l) return std::nullopt;
      auto r = ConstEval(*e.args[1]);
      if (!r) return std::nullopt;
      const TypeKind lk = l->type->kind, rk = r->type->kind;
      if (lk == TypeKind::Int && rk == TypeKind::Int) {
        int64_t v = 0;
        c.type = StdType(Scalar::IntAny);
        switch (e.op) {
          case Tok::Plus:
            if (__builtin_add_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::Minus:
            if (__builtin_sub_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::Star:
            if (__builtin_mul_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::KwDiv:
            if (r->i == 0 || (l->i == INT64_MIN && r->i == -1)) return std::nullopt;
            v = l->i / r->i;
            break;
          case Tok::KwMod:
            if (r->i == 0 || r->i == -1) return std::nullopt;
            v = l->i % r->i;
            break;
          case Tok::KwAnd:
            v = l->i & r->i;
            break;
          case Tok::KwOr:
            v = l->i | r->i;
            break;
          case Tok::KwXor:
            v = l->i ^ r->i;
            break;
          case Tok::KwShl:
            if (r->i < 0 || r->i > 63) return std::nullopt;
            v = int64_t(uint64_t(l->i) << r->i);
            break;
          case Tok::KwShr:
            if (r->i < 0 || r->i > 63) return std::nullopt;
            v = int64_t(uint64_t(l->i) >> r->i);
            break;
          default:
            return std::nullopt;  // comparisons compile at run time: rare in constants
        }
        c.i = v;
        return c;
      }
      if (l->type->IsNumeric() && r->type->IsNumeric()) {
        const double x = lk == TypeKind::Int ? double(l->i) : l->d;
        const double y = rk == TypeKind::Int ? double(r->i) : r->d;
        c.type = StdType(Scalar::Double);
        switch (e.op) {
          case Tok::Plus:
            c.d = x + y;
            return c;
          case Tok::Minus:
            c.d = x - y;
            return c;
          case Tok::Star:
            c.d = x * y;
            return c;
          case Tok::Slash:
            if (y == 0.0) return std::nullopt;
            c.d = x / y;
            return c;
          default:
            return std::nullopt;
        }
      }
      const bool lt = lk == TypeKind::Str || lk == TypeKind::Char;
      const bool rt = rk == TypeKind::Str || rk == TypeKind::Char;
      if (lt && rt && e.op == Tok::Plus && l->s.size() + r->s.size() < 65536) {
        c.type = StdType(Scalar::Str);
        c.s = l->s + r->s;
        return c;
      }
      if (lk == TypeKind::Bool && rk == TypeKind::Bool &&
          (e.op == Tok::KwAnd || e.op == Tok::KwOr || e.op == Tok::KwXor)) {
        c.type = StdType(Scalar::Bool);
        c.i = e.op == Tok::KwAnd  ? (l->i && r->i)
              : e.op == Tok::KwOr ? (l->i || r->i)
                                  : (l->i != r->i);
        return c;
      }
      return std::nullopt;
    }
    case ExprKind::Call: {
      if (e.base->kind != ExprKind::Name || e.args.size() != 1 || Lookup(e.base->text))
        return std::nullopt;
      auto v = ConstEval(*e.args[0]);
      if (!v) return std::nullopt;
      if (e.base->text == "chr" && v->type->kind == TypeKind::Int && v->i >= 0 && v->i < 256) {
        c.type = StdType(Scalar::Char);
        c.i = v->i;
        c.s = std::string(1, char(v->i));
        return c;
      }
      if (e.base->text == "ord" && v->type->IsOrdinal()) {
        c.type = StdType(Scalar::IntAny);
        c.i = v->i;
        return c;
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

ConstVal Compiler::RequireConst(const Expr& e, const char* what) {
  auto c = ConstEval(e);
  if (!c) Fail(e.pos, std::string("Constant expression expected as ") + what);
  return *c;
}

int64_t Compiler::RequireInt(const Expr& e, const char* what) {
  const ConstVal c = RequireConst(e, what);
  if (!c.type->IsOrdinal()) Fail(e.pos, std::string("Ordinal constant expected as ") + what);
  return c.i;
}

int Compiler::LoadConst(const ConstVal& c, int want) {
  const int r = Target(want);
  Value v{};
  switch (c.type->kind) {
    case TypeKind::Int:
      if (c.i >= INT32_MIN && c.i <= INT32_MAX) {
        EmitBC(Op::LoadInt, r, int32_t(c.i));
      } else {
        v.tag = Tag::Int64;
        v.i = c.i;
        EmitBC(Op::LoadK, r, AddConst(v));
      }
      break;
    case TypeKind::Real:
      v.tag = Tag::Double;
      v.d = c.d;
      EmitBC(Op::LoadK, r, AddConst(v));
      break;
    case TypeKind::Bool:
      Emit(Op::LoadBool, r, c.i ? 1 : 0);
      break;
    case TypeKind::Char:
      Emit(Op::LoadChar, r, int(c.i));
      break;
    case TypeKind::Str:
      if (c.s.empty()) {
        Emit(Op::LoadStr0, r);
      } else {
        v.tag = Tag::String;
        v.s = NewStr(c.s);
        EmitBC(Op::LoadK, r, AddConst(v));
      }
      break;
    case TypeKind::Variant:
      Emit(c.null ? Op::LoadNull : Op::LoadEmpty, r);
      break;
    default:
      Emit(Op::LoadNull, r);
      break;
  }
  return r;
}

// ---------------------------------------------------------------- declarations

void Compiler::DeclareConst(const ConstDecl& c, bool isProgram) {
  if (!c.type) {
    Symbol sym;
    sym.kind = SymKind::Const;
    sym.value = RequireConst(*c.value, "constant value");
    sym.type = sym.value.type;
    Declare(c.name, std::move(sym));
    return;
  }
  // A typed constant is a variable with a first value, as in Delphi.
  DeclareVars({c.name}, ResolveType(*c.type), c.value.get(), isProgram);
}

void Compiler::DeclareVars(const std::vector<NamePos>& names, const Type* type, const Expr* init,
                           bool isProgram) {
  if (init && names.size() != 1)
    Fail(names[1].pos, "Only one variable can be initialised at a time");
  for (const NamePos& n : names) {
    Symbol sym;
    sym.type = type;
    if (isProgram) {
      sym.kind = SymKind::Global;
      sym.index = int(m_globals.size());
      GlobalVar g;
      g.name = n.name;
      g.display = n.display;
      g.type = type;
      m_globals.push_back(std::move(g));
      Declare(n, sym);
      // Program globals get their first values in the init routine.
      FnState saved = std::move(m_st);
      m_st = FnState{};
      m_st.fn = m_init;
      m_st.nextReg = m_st.floor = 0;
      const int r = Temp();
      m_line = n.pos.line;
      if (init)
        EmitInit(r, type, *init);
      else
        EmitDefault(r, type);
      EmitBC(Op::SetGlobal, r, sym.index);
      m_st = std::move(saved);
    } else {
      sym.kind = SymKind::Local;
      sym.level = m_level;
      sym.index = Temp();
      m_st.floor = m_st.nextReg;
      m_line = n.pos.line;
      if (init)
        EmitInit(sym.index, type, *init);
      else
        EmitDefault(sym.index, type);
      Declare(n, sym);
    }
  }
}

void Compiler::EmitInit(int reg, const Type* t, const Expr& init) {
  if (!t->IsAggregate()) {
    ExprTo(init, t, reg);
    return;
  }
  EmitDefault(reg, t);
  if (init.kind != ExprKind::List) {
    const ExprResult v = CompileExpr(init);
    Emit(Op::CopyAgg, reg, Coerce(v, t, -1, init.pos));
    return;
  }
  if (t->kind != TypeKind::Array) Fail(init.pos, "Records cannot be given a list of values");
  const int64_t count = t->high - t->low + 1;
  if (int64_t(init.args.size()) != count)
    Fail(init.pos, "Number of elements (" + std::to_string(init.args.size()) +
                       ") differs from the declaration (" + std::to_string(count) + ")");
  for (int64_t k = 0; k < count; ++k) {
    const int mark = m_st.nextReg;
    const int index = Temp();
    EmitBC(Op::LoadInt, index, int32_t(k));
    const Expr& item = *init.args[size_t(k)];
    if (t->element->IsAggregate()) {
      const int sub = Temp();
      Emit(Op::GetIdx, sub, reg, index);
      const int fresh = Temp();
      EmitInit(fresh, t->element, item);
      Emit(Op::CopyAgg, sub, fresh);
    } else {
      const int value = ExprTo(item, t->element);
      Emit(Op::SetIdx, reg, index, value);
    }
    m_st.nextReg = mark;
  }
}

void Compiler::DeclareBlock(const Block& block, bool isProgram) {
  for (const auto& [kind, index] : block.order) {
    switch (kind) {
      case Block::DeclKind::Const:
        DeclareConst(block.consts[index], isProgram);
        break;
      case Block::DeclKind::Type: {
        const TypeDecl& t = block.types[index];
        Symbol sym;
        sym.kind = SymKind::Type;
        sym.type = ResolveType(*t.type);
        if (sym.type->kind == TypeKind::Record || sym.type->kind == TypeKind::Array) {
          // Name the type after its declaration in messages.
          for (Type& owned : m_prog->types)
            if (&owned == sym.type) owned.name = t.name.display;
        }
        Declare(t.name, std::move(sym));
        break;
      }
      case Block::DeclKind::Var: {
        const VarDecl& v = block.vars[index];
        DeclareVars(v.names, ResolveType(*v.type), v.init.get(), isProgram);
        break;
      }
      case Block::DeclKind::Routine:
        CompileRoutine(*block.routines[index]);
        break;
    }
  }
}

void Compiler::CompileRoutine(const Routine& r) {
  // A forward declaration or a body for an earlier one.
  int index = -1;
  if (Symbol* existing = m_scopes.back().names.count(r.name.name)
                             ? &m_scopes.back().names[r.name.name]
                             : nullptr) {
    if (existing->kind != SymKind::Routine || m_prog->functions[existing->index]->defined ||
        r.forward)
      Fail(r.name.pos, "Identifier redeclared: " + Quote(r.name.display));
    index = existing->index;
  }
  const int level = m_level + 1;
  if (level > 100) Fail(r.name.pos, "Routines nested too deeply");
  if (index < 0 && m_prog->functions.size() >= 60000) Fail(r.name.pos, "Too many routines");
  if (index < 0) {
    auto fn = std::make_unique<FunctionCode>();
    fn->name = r.name.name;
    fn->display = r.name.display;
    fn->level = level;
    fn->firstParam = level >= 2 ? 1 : 0;
    for (const ParamSpec& p : r.params) {
      if (!p.type) Fail(p.names[0].pos, "Parameter type expected");
      const Type* t = ResolveType(*p.type);
      for (size_t k = 0; k < p.names.size(); ++k) {
        fn->paramTypes.push_back(t);
        fn->paramModes.push_back(p.mode);
      }
    }
    fn->numParams = int(fn->paramTypes.size());
    std::vector<const Expr*>& defaults = m_defaults[int(m_prog->functions.size())];
    for (const ParamSpec& p : r.params)
      for (size_t k = 0; k < p.names.size(); ++k) defaults.push_back(p.defaultValue.get());
    fn->resultType = r.isFunction ? ResolveType(*r.result) : VoidType();
    index = int(m_prog->functions.size());
    m_prog->functions.push_back(std::move(fn));
    Symbol sym;
    sym.kind = SymKind::Routine;
    sym.index = index;
    sym.type = m_prog->functions[index]->resultType;
    Declare(r.name, std::move(sym));
  }
  if (r.forward) return;
  FunctionCode* fn = m_prog->functions[index].get();
  fn->defined = true;

  FnState saved = std::move(m_st);
  const int savedLine = m_line;
  m_st = FnState{};
  m_st.fn = fn;
  m_st.routineIndex = index;
  m_st.noPromotion = saved.noPromotion;
  m_st.nextReg = fn->firstParam;
  fn->numRegs = fn->firstParam;
  ++m_level;
  m_scopes.emplace_back();
  size_t k = 0;
  for (const ParamSpec& p : r.params) {
    for (const NamePos& n : p.names) {
      Symbol sym;
      sym.kind = SymKind::Local;
      sym.type = fn->paramTypes[k];
      sym.level = m_level;
      sym.index = Temp();
      sym.isRef =
          (p.mode == ParamMode::Var || p.mode == ParamMode::Out) && !sym.type->IsAggregate();
      sym.readOnly = p.mode == ParamMode::Const;
      if (sym.isRef) m_st.noPromotion = true;
      Declare(n, std::move(sym));
      ++k;
    }
  }
  m_line = r.name.pos.line;
  if (r.isFunction) {
    fn->resultReg = Temp();
    EmitDefault(fn->resultReg, fn->resultType);
    Symbol sym;
    sym.kind = SymKind::Local;
    sym.type = fn->resultType;
    sym.level = m_level;
    sym.index = fn->resultReg;
    m_scopes.back().names.emplace("result", sym);
  }
  m_st.floor = m_st.nextReg;
  DeclareBlock(r.block, false);
  m_scopes.emplace_back();
  PromoteGlobals(*r.block.body);
  m_st.floor = m_st.nextReg;
  CompileStmt(*r.block.body);
  m_line = r.block.endPos.line;
  PatchAll(m_st.exits, Here());
  Emit(Op::Ret);
  m_scopes.pop_back();
  m_scopes.pop_back();
  --m_level;
  m_st = std::move(saved);
  m_line = savedLine;
}

// ---------------------------------------------------------------- expressions

int Compiler::Coerce(ExprResult r, const Type* to, int want, Pos pos) {
  const Type* from = r.type;
  if (from == to) return ToReg(r, want);
  const TypeKind fk = from->kind, tk = to->kind;
  switch (tk) {
    case TypeKind::Int:
      if (fk == TypeKind::Int) {
        if (RangeWithin(from->scalar, to->scalar)) return ToReg(r, want);
        const int dst = Target(want);
        Emit(Op::MoveChk, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Real:
      if (fk == TypeKind::Int || fk == TypeKind::Real) {
        int dst = r.reg;
        if (fk == TypeKind::Int) {
          dst = Target(want);
          Emit(Op::IToF, dst, r.reg);
        }
        if (to->scalar == Scalar::Single && from->scalar != Scalar::Single) {
          const int single = dst == r.reg ? Target(want) : dst;
          Emit(Op::ToSingle, single, dst);
          dst = single;
        }
        return ToReg({dst, to}, want);
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Bool:
    case TypeKind::Char:
      if (fk == tk) return ToReg(r, want);
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Str:
      if (fk == TypeKind::Str) return ToReg(r, want);
      if (fk == TypeKind::Char) {
        const int dst = Target(want);
        Emit(Op::CharToStr, dst, r.reg);
        return dst;
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(Scalar::Str));
        return dst;
      }
      break;
    case TypeKind::Variant:
      if (fk == TypeKind::Variant) return ToReg(r, want);
      if (fk == TypeKind::Nil) {
        const int dst = Target(want);
        Emit(Op::LoadNull, dst);
        return dst;
      }
      if (fk == TypeKind::Int || fk == TypeKind::Real || fk == TypeKind::Bool ||
          fk == TypeKind::Char || fk == TypeKind::Str) {
        const int dst = Target(want);
        Emit(Op::ToVar, dst, r.reg, 0, int(from->scalar));
        return dst;
      }
      break;
    case TypeKind::Array:
    case TypeKind::Record:
      // Structurally equal aggregates: the same declaration spelt twice.
      if (fk == tk && from->name == to->name && LayoutOf(from) >= 0 &&
          m_prog->layouts[LayoutOf(from)].count == m_prog->layouts[LayoutOf(to)].count)
        return ToReg(r, want);
      break;
    default:
      break;
  }
  if (tk == TypeKind::Void || fk == TypeKind::Void)
    Fail(pos, fk == TypeKind::Void ? "A procedure has no value to use here"
                                   : "Expression has no type here");
  Fail(pos, "Incompatible types: " + Quote(TypeName(to)) + " and " + Quote(TypeName(from)));
}

int Compiler::ExprTo(const Expr& e, const Type* to, int want) {
  // A one-letter literal is a Char, and a text where a text is expected.
  if (e.kind == ExprKind::Text && to->kind == TypeKind::Str) {
    ConstVal c;
    c.type = StdType(Scalar::Str);
    c.s = e.text;
    return LoadConst(c, want);
  }
  if (e.kind == ExprKind::Text && to->kind == TypeKind::Char && e.text.size() != 1)
    Fail(e.pos, "Incompatible types: 'Char' and 'String'");
  if (to->kind == TypeKind::Real) {
    if (auto c = ConstEval(e); c && c->type->kind == TypeKind::Int) {
      ConstVal real;
      real.type = StdType(Scalar::Double);
      real.d = double(c->i);
      return Coerce({LoadConst(real, want), real.type}, to, want, e.pos);
    }
  }
  if (to->kind == TypeKind::Variant && e.kind == ExprKind::Text) {
    ConstVal c;
    c.type = StdType(Scalar::Str);
    c.s = e.text;
    const int r = LoadConst(c, -1);
    return Coerce({r, c.type}, to, want, e.pos);
  }
  return Coerce(CompileExpr(e, want), to, want, e.pos);
}

ExprResult Compiler::CompileExpr(const Expr& e, int want) {
  m_line = e.pos.line;
  switch (e.kind) {
    case ExprKind::Int:
    case ExprKind::Real:
    case ExprKind::Text: {
      const ConstVal c = *ConstEval(e);
      return {LoadConst(c, want), c.type};
    }
    case ExprKind::Name:
      return CompileName(e, want);
    case ExprKind::Call:
      return CompileCall(*e.base, e.args, e.pos, want, false);
    case ExprKind::Index:
      return CompileIndex(e, want);
    case ExprKind::Field:
      return CompileField(e, want);
    case ExprKind::Unary:
      return CompileUnary(e, want);
    case ExprKind::Binary:
      if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
      return CompileBinary(e, want);
    case ExprKind::SetLit:
      Fail(e.pos, "A set is allowed only on the right of 'in' or as a Format argument");
    case ExprKind::List:
      Fail(e.pos, "A list of values (...) is allowed only as the first value of an array");
  }
  Fail(e.pos, "Expression expected");
}

ExprResult Compiler::CompileName(const Expr& e, int want) {
  Symbol* s = Lookup(e.text);
  if (!s) {
    if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
    return CompileCall(e, {}, e.pos, want, false);
  }
  switch (s->kind) {
    case SymKind::Const:
      return {LoadConst(s->value, want), s->type};
    case SymKind::Routine:
      return CompileCall(e, {}, e.pos, want, false);
    case SymKind::Type:
      Fail(e.pos, "Type " + Quote(e.display) + " used as a value");
    case SymKind::ExcVar:
      Fail(e.pos, "Use " + e.display + ".Message for the text of the exception");
    default: {
      LValue lv = CompileLValue(e);
      return {Load(lv, want), lv.type};
    }
  }
}

ExprResult Compiler::CompileUnary(const Expr& e, int want) {
  if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
  if (e.op == Tok::At) Fail(e.pos, "Pointers are not supported");
  ExprResult v = CompileExpr(*e.args[0]);
  const TypeKind k = v.type->kind;
  if (e.op == Tok::Plus) {
    if (!v.type->IsNumeric() && k != TypeKind::Variant)
      Fail(e.pos, "Operator '+' not applicable to " + Quote(TypeName(v.type)));
    return {ToReg(v, want), v.type};
  }
  const int dst = Target(want);
  if (e.op == Tok::Minus) {
    if (k == TypeKind::Int) {
      Emit(Op::NegI, dst, v.reg);
      return {dst, StdType(Scalar::IntAny)};
    }
    if (k == TypeKind::Real) {
      Emit(Op::NegF, dst, v.reg);
      return {dst, v.type->scalar == Scalar::Single ? StdType(Scalar::Double) : v.type};
    }
    if (k == TypeKind::Variant) {
      Emit(Op::NegV, dst, v.reg);
      return {dst, v.type};
    }
    Fail(e.pos, "Operator '-' not applicable to " + Quote(TypeName(v.type)));
  }
  // not
  if (k == TypeKind::Bool) {
    Emit(Op::Not, dst, v.reg);
    return {dst, v.type};
  }
  if (k == TypeKind::Int) {
    Emit(Op::NotI, dst, v.reg);
    return {dst, StdType(Scalar::IntAny)};
  }
  if (k == TypeKind::Variant) {
    Emit(Op::NotV, dst, v.reg);
    return {dst, v.type};
  }
  Fail(e.pos, "Operator 'not' not applicable to " + Quote(TypeName(v.type)));
}

ExprResult Compiler::VariantOp(Op op, ExprResult l, ExprResult r, int want, Pos pos) {
  const Type* var = StdType(Scalar::Variant);
  const int a = Coerce(l, var, -1, pos);
  const int b = Coerce(r, var, -1, pos);
  const int dst = Target(want);
  Emit(op, dst, a, b);
  return {dst, var};
}

ExprResult Compiler::CompileBinary(const Expr& e, int want) {
  if (IsComparison(e.op)) return CompileCompare(e, want);
  switch (e.op) {
    case Tok::KwIn:
      return CompileIn(e, want);
    case Tok::KwIs:
      Fail(e.pos, "'is' needs classes, which this dialect does not have; use VarType");
    case Tok::DotDot:
      Fail(e.pos, "A range is allowed only in a set or a case label");
    default:
      break;
  }
  if (e.op == Tok::KwAnd || e.op == Tok::KwOr) {
    return CompileLogical(e, want);
  }
  const Expr& le = *e.args[0];
  const Expr& re = *e.args[1];
  // x + 1 and x - 1: the constant goes into the instruction.
  if ((e.op == Tok::Plus || e.op == Tok::Minus)) {
    if (auto rc = ConstEval(re); rc && rc->type->kind == TypeKind::Int) {
      const int64_t k = e.op == Tok::Plus ? rc->i : -rc->i;
      if (k >= -32768 && k <= 32767 && rc->i != INT64_MIN) {
        ExprResult l = CompileExpr(le);
        if (l.type->kind == TypeKind::Int) {
          const int dst = Target(want);
          Emit(Op::AddIK, dst, l.reg, uint16_t(int16_t(k)));
          return {dst, StdType(Scalar::IntAny)};
        }
        ExprResult r{LoadConst(*rc, -1), rc->type};
        return CompileBinaryOperands(e, l, r, want);
      }
    }
  }
  ExprResult l = Pin(CompileExpr(le), re);
  ExprResult r = CompileExpr(re);
  return CompileBinaryOperands(e, l, r, want);
}

ExprResult Compiler::CompileBinaryOperands(const Expr& e, ExprResult l, ExprResult r, int want) {
  const TypeKind lk = l.type->kind, rk = r.type->kind;
  const Pos pos = e.pos;
  if (lk == TypeKind::Variant || rk == TypeKind::Variant) {
    switch (e.op) {
      case Tok::Plus:
        return VariantOp(Op::AddV, l, r, want, pos);
      case Tok::Minus:
        return VariantOp(Op::SubV, l, r, want, pos);
      case Tok::Star:
        return VariantOp(Op::MulV, l, r, want, pos);
      case Tok::Slash:
        return VariantOp(Op::DivV, l, r, want, pos);
      case Tok::KwDiv:
        return VariantOp(Op::IDivV, l, r, want, pos);
      case Tok::KwMod:
        return VariantOp(Op::ModV, l, r, want, pos);
      case Tok::KwXor:
        return VariantOp(Op::XorV, l, r, want, pos);
      case Tok::KwShl:
        return VariantOp(Op::ShlV, l, r, want, pos);
      case Tok::KwShr:
        return VariantOp(Op::ShrV, l, r, want, pos);
      default:
        break;
    }
  }
  const bool lText = lk == TypeKind::Str || lk == TypeKind::Char;
  const bool rText = rk == TypeKind::Str || rk == TypeKind::Char;
  if (e.op == Tok::Plus && lText && rText) {
    const int a = Coerce(l, StdType(Scalar::Str), -1, pos);
    const int b = Coerce(r, StdType(Scalar::Str), -1, pos);
    const int dst = Target(want);
    Emit(Op::Concat, dst, a, b);
    return {dst, StdType(Scalar::Str)};
  }
  if (lk == TypeKind::Int && rk == TypeKind::Int) {
    Op op = Op::Nop;
    switch (e.op) {
      case Tok::Plus:
        op = Op::AddI;
        break;
      case Tok::Minus:
        op = Op::SubI;
        break;
      case Tok::Star:
        op = Op::MulI;
        break;
      case Tok::KwDiv:
        op = Op::DivI;
        break;
      case Tok::KwMod:
        op = Op::ModI;
        break;
      case Tok::KwXor:
        op = Op::XorI;
        break;
      case Tok::KwShl:
        op = Op::ShlI;
        break;
      case Tok::KwShr:
        op = Op::ShrI;
        break;
      default:
        break;
    }
    if (op != Op::Nop) {
      const int dst = Target(want);
      Emit(op, dst, l.reg, r.reg);
      return {dst, StdType(Scalar::IntAny)};
    }
  }
  if (lk == TypeKind::Bool && rk == TypeKind::Bool && e.op == Tok::KwXor) {
    const int dst = Target(want);
    Emit(Op::NeI, dst, l.reg, r.reg);
    return {dst, StdType(Scalar::Bool)};
  }
  if (l.type->IsNumeric() && r.type->IsNumeric()) {
    Op op = Op::Nop;
    switch (e.op) {
      case Tok::Plus:
        op = Op::AddF;
        break;
      case Tok::Minus:
        op = Op::SubF;
        break;
      case Tok::Star:
        op = Op::MulF;
        break;
      case Tok::Slash:
        op = Op::DivF;
        break;
      default:
        break;
    }
    if (op != Op::Nop) {
      const Type* real = StdType(Scalar::Double);
      const int a = Coerce(l, lk == TypeKind::Int ? real : l.type, -1, pos);
      const int b = Coerce(r, rk == TypeKind::Int ? real : r.type, -1, pos);
      const int dst = Target(want);
      Emit(op, dst, a, b);
      return {dst, real};
    }
  }
  Fail(pos, std::string("Operator ") + TokName(e.op) + " not applicable to " +
                Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
}

ExprResult Compiler::CompileLogical(const Expr& e, int want) {
  const bool isAnd = e.op == Tok::KwAnd;
  ExprResult l = CompileExpr(*e.args[0]);
  if (l.type->kind == TypeKind::Bool) {
    // The right side runs only when the left does not decide (Delphi's {$B-}).
    const int dst = Temp();
    Emit(Op::Move, dst, l.reg);
    const int skip = EmitJump(isAnd ? Op::JF : Op::JT, dst);
    ExprTo(*e.args[1], StdType(Scalar::Bool), dst);
    PatchHere(skip);
    return {ToReg({dst, l.type}, want), l.type};
  }
  l = Pin(l, *e.args[1]);
  ExprResult r = CompileExpr(*e.args[1]);
  if (l.type->kind == TypeKind::Int && r.type->kind == TypeKind::Int) {
    const int dst = Target(want);
    Emit(isAnd ? Op::AndI : Op::OrI, dst, l.reg, r.reg);
    return {dst, StdType(Scalar::IntAny)};
  }
  if (l.type->kind == TypeKind::Variant || r.type->kind == TypeKind::Variant)
    return VariantOp(isAnd ? Op::AndV : Op::OrV, l, r, want, e.pos);
  Fail(e.pos, std::string("Operator ") + TokName(e.op) + " not applicable to " +
                  Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
}

ExprResult Compiler::CompareRegs(Tok op, ExprResult l, ExprResult r, int want, Pos pos) {
  const TypeKind lk = l.type->kind, rk = r.type->kind;
  int family = -1;  // 0 integer, 1 real, 2 text, 3 variant
  int a = l.reg, b = r.reg;
  if (lk == TypeKind::Variant || rk == TypeKind::Variant) {
    if (lk == TypeKind::Nil || rk == TypeKind::Nil || l.type->IsAggregate() ||
        r.type->IsAggregate())
      Fail(pos,
           "Incompatible types: " + Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
    a = Coerce(l, StdType(Scalar::Variant), -1, pos);
    b = Coerce(r, StdType(Scalar::Variant), -1, pos);
    family = 3;
  } else if (lk == TypeKind::Int && rk == TypeKind::Int) {
    family = 0;
  } else if (l.type->IsNumeric() && r.type->IsNumeric()) {
    a = Coerce(l, lk == TypeKind::Int ? StdType(Scalar::Double) : l.type, -1, pos);
    b = Coerce(r, rk == TypeKind::Int ? StdType(Scalar::Double) : r.type, -1, pos);
    family = 1;
  } else if ((lk == TypeKind::Char && rk == TypeKind::Char) ||
             (lk == TypeKind::Bool && rk == TypeKind::Bool)) {
    family = 0;
  } else if ((lk == TypeKind::Str || lk == TypeKind::Char) &&
             (rk == TypeKind::Str || rk == TypeKind::Char)) {
    a = Coerce(l, StdType(Scalar::Str), -1, pos);
    b = Coerce(r, StdType(Scalar::Str), -1, pos);
    family = 2;
  }
  if (family < 0)
    Fail(pos, "Incompatible types: " + Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
  int which = 0;
  switch (op) {
    case Tok::Equal:
      which = 0;
      break;
    case Tok::NotEqual:
      which = 1;
      break;
    case Tok::Less:
      which = 2;
      break;
    case Tok::LessEqual:
      which = 3;
      break;
    case Tok::Greater:
      which = 4;
      break;
    default:
      which = 5;
      break;
  }
  static constexpr Op kOps[4][6] = {
      {Op::EqI, Op::NeI, Op::LtI, Op::LeI, Op::GtI, Op::GeI},
      {Op::EqF, Op::NeF, Op::LtF, Op::LeF, Op::GtF, Op::GeF},
      {Op::EqS, Op::NeS, Op::LtS, Op::LeS, Op::GtS, Op::GeS},
      {Op::EqV, Op::NeV, Op::LtV, Op::LeV, Op::GtV, Op::GeV},
  };
  const int dst = Target(want);
  Emit(kOps[family][which], dst, a, b);
  return {dst, StdType(Scalar::Bool)};
}

ExprResult Compiler::CompileCompare(const Expr& e, int want) {
  ExprResult l = Pin(CompileExpr(*e.args[0]), *e.args[1]);
  ExprResult r = CompileExpr(*e.args[1]);
  return CompareRegs(e.op, l, r, want, e.pos);
}

ExprResult Compiler::CompileIn(const Expr& e, int want) {
  const Expr& set = *e.args[1];
  if (set.kind != ExprKind::SetLit) Fail(set.pos, "Set literal [...] expected after 'in'");
  ExprResult key = CompileExpr(*e.args[0]);
  if (key.type->kind == TypeKind::Variant)
    key = {Coerce(key, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
  if (!key.type->IsOrdinal())
    Fail(e.args[0]->pos, "Ordinal value expected before 'in', not " + Quote(TypeName(key.type)));
  key = Pin(key, set);
  const int dst = Temp();
  std::vector<int> hits;
  const auto element = [&](const Expr& item) -> ExprResult {
    ExprResult v = CompileExpr(item);
    if (v.type->kind != key.type->kind)
      Fail(item.pos,
           "Incompatible types: " + Quote(TypeName(key.type)) + " and " + Quote(TypeName(v.type)));
    return v;
  };
  for (const ExprPtr& item : set.args) {
    const int mark = m_st.nextReg;
    if (item->kind == ExprKind::Binary && item->op == Tok::DotDot) {
      CompareRegs(Tok::GreaterEqual, key, element(*item->args[0]), dst, item->pos);
      const int miss = EmitJump(Op::JF, dst);
      CompareRegs(Tok::LessEqual, key, element(*item->args[1]), dst, item->pos);
      hits.push_back(EmitJump(Op::JT, dst));
      PatchHere(miss);
    } else {
      CompareRegs(Tok::Equal, key, element(*item), dst, item->pos);
      hits.push_back(EmitJump(Op::JT, dst));
    }
    m_st.nextReg = mark;
  }
  Emit(Op::LoadBool, dst, 0);
  const int done = EmitJump(Op::Jmp);
  PatchAll(hits, Here());
  Emit(Op::LoadBool, dst, 1);
  PatchHere(done);
  return {ToReg({dst, StdType(Scalar::Bool)}, want), StdType(Scalar::Bool)};
}

ExprResult Compiler::CompileIndex(const Expr& e, int want) {
  ExprResult base = CompileExpr(*e.base);
  for (size_t k = 0; k < e.args.size(); ++k) {
    const bool last = k + 1 == e.args.size();
    const Type* t = base.type;
    if (t->kind == TypeKind::Str) {
      const int index = ExprTo(*e.args[k], StdType(Scalar::IntAny));
      const int dst = last ? Target(want) : Temp();
      Emit(Op::StrIdx, dst, base.reg, index);
      base = {dst, StdType(Scalar::Char)};
      continue;
    }
    if (t->kind != TypeKind::Array)
      Fail(e.pos, "Array or string expected before '[', not " + Quote(TypeName(t)));
    ExprResult index = CompileExpr(*e.args[k]);
    if (!index.type->IsOrdinal() && index.type->kind != TypeKind::Variant)
      Fail(e.args[k]->pos, "Ordinal index expected, not " + Quote(TypeName(index.type)));
    if (index.type->kind == TypeKind::Variant)
      index = {Coerce(index, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
    int low = int(t->low);
    int reg = index.reg;
    if (low < -128 || low > 127) {
      reg = Temp();
      if (-low >= -32768 && -low <= 32767) {
        Emit(Op::AddIK, reg, index.reg, uint16_t(int16_t(-low)));
      } else {
        ConstVal c;
        c.type = StdType(Scalar::IntAny);
        c.i = low;
        const int k2 = LoadConst(c, -1);
        Emit(Op::SubI, reg, index.reg, k2);
      }
      low = 0;
    }
    const int dst = last ? Target(want) : Temp();
    Emit(Op::GetIdx, dst, base.reg, reg, uint8_t(int8_t(low)));
    base = {dst, t->element};
  }
  return base;
}

ExprResult Compiler::CompileField(const Expr& e, int want) {
  if (e.base->kind == ExprKind::Name) {
    if (const Symbol* s = Lookup(e.base->text); s && s->kind == SymKind::ExcVar) {
      if (e.text != "message") Fail(e.pos, "Only the Message of an exception can be read");
      const int dst = Target(want);
      BuiltinCall("exceptionparam", dst, {});
      return {dst, StdType(Scalar::Str)};
    }
  }
  ExprResult base = CompileExpr(*e.base);
  if (base.type->kind != TypeKind::Record)
    Fail(e.pos, "Record expected before '.', not " + Quote(TypeName(base.type)));
  for (size_t k = 0; k < base.type->fields.size(); ++k) {
    if (base.type->fields[k].name != e.text) continue;
    const int dst = Target(want);
    Emit(Op::GetFld, dst, base.reg, int(k));
    return {dst, base.type->fields[k].type};
  }
  Fail(e.pos, "Record has no field " + Quote(e.display));
}

int Compiler::BuiltinCall(const char* name, int dst, std::initializer_list<int> args) {
  const BuiltinInfo* b = FindBuiltin(name);
  const int base = m_st.nextReg;
  for (int a : args) Emit(Op::Move, Temp(), a);
  Emit(Op::CallB, dst, BuiltinIndex(b), base, int(args.size()));
  m_st.nextReg = base;
  return dst;
}

// ---------------------------------------------------------------- globals in registers
//
// A routine keeps the scalar globals its body names in registers of its own, so a loop
// over globals runs the same instructions as one over locals. The registers are loaded on
// entry (LoadGlobals) and saved on return, around every call of a routine (which may use
// the globals) and, by the VM, when an error leaves the routine. Built-ins never see the
// globals but through their arguments, so their calls need no saving.

namespace {

void CollectNames(const Expr* e, std::vector<const std::string*>& out) {
  if (!e) return;
  if (e->kind == ExprKind::Name) out.push_back(&e->text);
  CollectNames(e->base.get(), out);
  for (const ExprPtr& a : e->args) CollectNames(a.get(), out);
}

void CollectNames(const Stmt* s, std::vector<const std::string*>& out) {
  if (!s) return;
  CollectNames(s->target.get(), out);
  CollectNames(s->expr.get(), out);
  CollectNames(s->limit.get(), out);
  for (const StmtPtr& b : s->body) CollectNames(b.get(), out);
  for (const StmtPtr& b : s->other) CollectNames(b.get(), out);
  for (const CaseBranch& b : s->branches) {
    for (const ExprPtr& l : b.labels) CollectNames(l.get(), out);
    CollectNames(b.body.get(), out);
  }
  for (const ExceptHandler& h : s->handlers) CollectNames(h.body.get(), out);
  for (const ExprPtr& w : s->withs) CollectNames(w.get(), out);
}

bool Promotable(const Type* t) {
  // Not texts: an in-place append needs the only reference, and the global holds another.
  return t->kind == TypeKind::Int || t->kind == TypeKind::Real || t->kind == TypeKind::Bool ||
         t->kind == TypeKind::Char || t->kind == TypeKind::Variant;
}

}  // namespace

// Called with a fresh scope on top, before the body: the promoted globals are declared
// there, so the body's locals, with-fields and exception names still hide them.
void Compiler::PromoteGlobals(const Stmt& body) {
  if (m_st.noPromotion) return;
  std::vector<const std::string*> names;
  CollectNames(&body, names);
  Scope& scope = m_scopes.back();
  for (const std::string* name : names) {
    if (m_st.promotedRegs.size() >= kMaxPromoted) break;
    if (scope.names.count(*name)) continue;
    const Symbol* s = Lookup(*name);
    if (!s || s->kind != SymKind::Global || !Promotable(s->type)) continue;
    Symbol held = *s;
    held.promotedReg = Temp();
    m_st.promotedRegs.push_back(held.promotedReg);
    Fn().promoted.push_back({uint16_t(held.promotedReg), uint32_t(s->index)});
    scope.names.emplace(*name, std::move(held));
  }
  if (!m_st.promotedRegs.empty()) Emit(Op::LoadGlobals);
}

bool Compiler::IsPromoted(int reg) const {
  for (int r : m_st.promotedRegs)
    if (r == reg) return true;
  return false;
}

bool Compiler::MayCallRoutine(const Expr& e) {
  if (e.kind == ExprKind::Name || (e.kind == ExprKind::Call && e.base->kind == ExprKind::Name)) {
    const std::string& name = e.kind == ExprKind::Name ? e.text : e.base->text;
    if (const Symbol* s = Lookup(name); s && s->kind == SymKind::Routine) return true;
  }
  if (e.base && MayCallRoutine(*e.base)) return true;
  for (const ExprPtr& a : e.args)
    if (MayCallRoutine(*a)) return true;
  return false;
}

// The value of a global's register as it is now, when an operand evaluated later may call a
// routine that changes the global (and the register with it).
ExprResult Compiler::Pin(ExprResult l, const Expr& later) {
  if (!IsPromoted(l.reg) || !MayCallRoutine(later)) return l;
  const int copy = Temp();
  Emit(Op::Move, copy, l.reg);
  return {copy, l.type};
}

// ---------------------------------------------------------------- lvalues

LValue Compiler::CompileLValue(const Expr& e) {
  LValue lv;
  if (e.kind == ExprKind::Name) {
    Symbol* s = Lookup(e.text);
    if (!s) Fail(e.pos, "Unknown identifier " + Quote(e.display));
    lv.type = s->type;
    lv.readOnly = s->readOnly;
    lv.display = e.display;
    switch (s->kind) {
      case SymKind::Local:
        if (s->level == m_level) {
          lv.kind = s->isRef ? LValue::Kind::Ref : LValue::Kind::Reg;
          lv.reg = s->index;
        } else if (s->isRef) {
          lv.kind = LValue::Kind::Ref;
          lv.reg = Temp();
          Emit(Op::GetUp, lv.reg, s->index, 0, m_level - s->level);
        } else {
          lv.kind = LValue::Kind::Up;
          lv.index = s->index;
          lv.hops = m_level - s->level;
        }
        return lv;
      case SymKind::Global:
        if (s->promotedReg >= 0) {
          lv.kind = LValue::Kind::Reg;
          lv.reg = s->promotedReg;
          lv.promotedGlobal = s->index;
          return lv;
        }
        lv.kind = LValue::Kind::Global;
        lv.index = s->index;
        return lv;
      case SymKind::WithField:
        lv.kind = LValue::Kind::Fld;
        lv.reg = s->index;
        lv.slot = s->slot;
        return lv;
      case SymKind::Routine:
        if (s->index == m_st.routineIndex && m_st.fn->resultReg >= 0) {
          lv.kind = LValue::Kind::Reg;
          lv.reg = m_st.fn->resultReg;
          lv.type = m_st.fn->resultType;
          return lv;
        }
        Fail(e.pos, "Cannot assign to " + Quote(e.display) + " here");
      case SymKind::Const:
        Fail(e.pos, "Cannot assign to the constant " + Quote(e.display));
      default:
        Fail(e.pos, "Cannot assign to " + Quote(e.display));
    }
  }
  if (e.kind == ExprKind::Index) {
    // All but the last index select a sub-aggregate or a text that is then indexed.
    const Expr* baseExpr = e.base.get();
    const Type* baseType = nullptr;
    int baseReg = -1;
    std::unique_ptr<LValue> textLv;
    for (size_t k = 0; k < e.args.size(); ++k) {
      const bool last = k + 1 == e.args.size();
      if (baseReg < 0) {
        // Peek at the type of the base without loading it twice.
        if (baseExpr->kind == ExprKind::Name || baseExpr->kind == ExprKind::Index ||
            baseExpr->kind == ExprKind::Field) {
          LValue inner = CompileLValue(*baseExpr);
          if (inner.type->kind == TypeKind::Str && last) {
            lv.kind = LValue::Kind::StrChar;
            lv.type = StdType(Scalar::Char);
            lv.index = ExprTo(*e.args[k], StdType(Scalar::IntAny));
            lv.readOnly = inner.readOnly;
            lv.text = std::make_unique<LValue>(std::move(inner));
            return lv;
          }
          lv.readOnly = inner.readOnly;
          baseType = inner.type;
          baseReg = Load(inner, -1);
        } else {
          Fail(e.pos, "Left side cannot be assigned to");
        }
      }
      if (baseType->kind != TypeKind::Array)
        Fail(e.pos, "Array expected before '[', not " + Quote(TypeName(baseType)));
      ExprResult index = CompileExpr(*e.args[k]);
      if (index.type->kind == TypeKind::Variant)
        index = {Coerce(index, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
      if (!index.type->IsOrdinal())
        Fail(e.args[k]->pos, "Ordinal index expected, not " + Quote(TypeName(index.type)));
      int low = int(baseType->low);
      int reg = index.reg;
      if (low < -128 || low > 127) {
        reg = Temp();
        ConstVal c;
        c.type = StdType(Scalar::IntAny);
        c.i = low;
        Emit(Op::SubI, reg, index.reg, LoadConst(c, -1));
        low = 0;
      }
      if (last) {
        lv.kind = LValue::Kind::Idx;
        lv.type = baseType->element;
        lv.reg = baseReg;
        lv.index = reg;
        lv.low = low;
        return lv;
      }
      const int next = Temp();
      Emit(Op::GetIdx, next, baseReg, reg, uint8_t(int8_t(low)));
      baseReg = next;
      baseType = baseType->element;
      if (baseType->kind == TypeKind::Str) Fail(e.pos, "Use s[i] to change a character");
    }
  }
  if (e.kind == ExprKind::Field) {
    LValue inner = CompileLValue(*e.base);
    if (inner.type->kind != TypeKind::Record)
      Fail(e.pos, "Record expected before '.', not " + Quote(TypeName(inner.type)));
    const int agg = Load(inner, -1);
    for (size_t k = 0; k < inner.type->fields.size(); ++k) {
      if (inner.type->fields[k].name != e.text) continue;
      lv.kind = LValue::Kind::Fld;
      lv.type = inner.type->fields[k].type;
      lv.reg = agg;
      lv.slot = int(k);
      lv.readOnly = inner.readOnly;
      return lv;
    }
    Fail(e.pos, "Record has no field " + Quote(e.display));
  }
  Fail(e.pos, "Left side cannot be assigned to");
}

int Compiler::Load(const LValue& lv, int want) {
  switch (lv.kind) {
    case LValue::Kind::Reg:
      return ToReg({lv.reg, lv.type}, want);
    case LValue::Kind::Global: {
      const int dst = Target(want);
      EmitBC(Op::GetGlobal, dst, lv.index);
      return dst;
    }
    case LValue::Kind::Up: {
      const int dst = Target(want);
      Emit(Op::GetUp, dst, lv.index, 0, lv.hops);
      return dst;
    }
    case LValue::Kind::Ref: {
      const int dst = Target(want);
      Emit(Op::LoadRef, dst, lv.reg);
      return dst;
    }
    case LValue::Kind::Idx: {
      const int dst = Target(want);
      Emit(Op::GetIdx, dst, lv.reg, lv.index, uint8_t(int8_t(lv.low)));
      return dst;
    }
    case LValue::Kind::Fld: {
      const int dst = Target(want);
      Emit(Op::GetFld, dst, lv.reg, lv.slot);
      return dst;
    }
    case LValue::Kind::StrChar: {
      const int text = Load(*lv.text, -1);
      const int dst = Target(want);
      Emit(Op::StrIdx, dst, text, lv.index);
      return dst;
    }
  }
  return want;
}

void Compiler::Store(const LValue& lv, int src) {
  switch (lv.kind) {
    case LValue::Kind::Reg:
      if (src != lv.reg) Emit(Op::Move, lv.reg, src);
      return;
    case LValue::Kind::Global:
      EmitBC(Op::SetGlobal, src, lv.index);
      return;
    case LValue::Kind::Up:
      Emit(Op::SetUp, src, lv.index, 0, lv.hops);
      return;
    case LValue::Kind::Ref:
      Emit(Op::StoreRef, lv.reg, src);
      return;
    case LValue::Kind::Idx:
      Emit(Op::SetIdx, lv.reg, lv.index, src, uint8_t(int8_t(lv.low)));
      return;
    case LValue::Kind::Fld:
      Emit(Op::SetFld, lv.reg, lv.slot, src);
      return;
    case LValue::Kind::StrChar:
      if (lv.text->kind == LValue::Kind::Reg) {
        Emit(Op::StrSet, lv.text->reg, lv.index, src);
      } else {
        const int text = Load(*lv.text, Temp());
        Emit(Op::StrSet, text, lv.index, src);
        Store(*lv.text, text);
      }
      return;
  }
}

bool SameType(const Type* a, const Type* b) {
  if (a == b) return true;
  if (a->kind != b->kind) return false;
  if (a->kind == TypeKind::Int || a->kind == TypeKind::Real) return a->scalar == b->scalar;
  return !a->IsAggregate();
}

int Compiler::RefTo(const Expr& e, const Type* paramType, int dst, Pos pos) {
  if (e.kind != ExprKind::Name && e.kind != ExprKind::Index && e.kind != ExprKind::Field)
    Fail(e.pos, "Variable expected for a var parameter");
  LValue lv = CompileLValue(e);
  if (!SameType(lv.type, paramType))
    Fail(e.pos, "Types of actual and formal var parameters must be identical: " +
                    Quote(TypeName(lv.type)) + " and " + Quote(TypeName(paramType)));
  if (lv.readOnly) Fail(e.pos, "Cannot pass a read-only variable as a var parameter");
  (void)pos;
  switch (lv.kind) {
    case LValue::Kind::Reg:
      // A global held in a register is passed as itself: the call saves the registers into
      // the globals before and loads them after.
      if (lv.promotedGlobal >= 0)
        EmitBC(Op::RefGlobal, dst, lv.promotedGlobal);
      else
        Emit(Op::RefReg, dst, lv.reg);
      break;
    case LValue::Kind::Global:
      EmitBC(Op::RefGlobal, dst, lv.index);
      break;
    case LValue::Kind::Up:
      Emit(Op::RefUp, dst, lv.index, 0, lv.hops);
      break;
    case LValue::Kind::Ref:
      Emit(Op::Move, dst, lv.reg);
      break;
    case LValue::Kind::Idx:
      Emit(Op::RefIdx, dst, lv.reg, lv.index, uint8_t(int8_t(lv.low)));
      break;
    case LValue::Kind::Fld:
      Emit(Op::RefFld, dst, lv.reg, lv.slot);
      break;
    case LValue::Kind::StrChar:
      Fail(e.pos, "A character of a string cannot be passed as a var parameter");
  }
  return dst;
}

// ---------------------------------------------------------------- calls

ExprResult Compiler::CompileCall(const Expr& callee, const std::vector<ExprPtr>& args, Pos pos,
                                 int want, bool asStatement) {
  if (callee.kind == ExprKind::Field) {
    if (callee.base->kind == ExprKind::Name && Lookup(callee.base->text) == nullptr &&
        callee.base->text == "exception")
      Fail(callee.pos, "Exception objects can only be raised: raise Exception.Create('text')");
    Fail(callee.pos, "Methods are not supported");
  }
  if (callee.kind != ExprKind::Name) Fail(callee.pos, "Routine name expected before '('");
  if (Symbol* s = Lookup(callee.text)) {
    if (s->kind == SymKind::Routine) return CallRoutine(s->index, args, pos, want);
    if (s->kind == SymKind::Type && args.size() == 1) {
      // A typecast: Integer(x), String(v), Variant(i)...
      ExprResult v = CompileExpr(*args[0]);
      const Type* to = s->type;
      return {Coerce(v, to, want, args[0]->pos), to};
    }
    Fail(callee.pos, Quote(callee.display) + " is not a routine");
  }
  if (const Type* t = FindStdType(callee.text); t && args.size() == 1) {
    ExprResult v = CompileExpr(*args[0]);
    if (t->kind == TypeKind::Int && v.type->kind == TypeKind::Char)
      return {ToReg(v, want), StdType(Scalar::IntAny)};
    if (t->kind == TypeKind::Char && v.type->kind == TypeKind::Int) {
      const int dst = Target(want);
      Emit(Op::MoveChk, dst, v.reg, 0, int(Scalar::Char));
      return {dst, t};
    }
    if (t->kind == TypeKind::Int && v.type->kind == TypeKind::Bool)
      return {ToReg(v, want), StdType(Scalar::IntAny)};
    return {Coerce(v, t, want, args[0]->pos), t};
  }
  if (auto r = CallIntrinsic(callee.text, args, pos, want, asStatement)) return *r;
  if (const BuiltinInfo* b = FindBuiltin(callee.text)) return CallBuiltin(*b, args, pos, want);
  Fail(callee.pos, "Unknown identifier " + Quote(callee.display));
}

ExprResult Compiler::CallRoutine(int index, const std::vector<ExprPtr>& args, Pos pos, int want) {
  FunctionCode* fn = m_prog->functions[index].get();
  const std::vector<const Expr*>& defaults = m_defaults[index];
  if (int(args.size()) > fn->numParams)
    Fail(pos, "Too many actual parameters for " + Quote(fn->display));
  for (size_t k = args.size(); k < size_t(fn->numParams); ++k)
    if (k >= defaults.size() || !defaults[k])
      Fail(pos, "Not enough actual parameters for " + Quote(fn->display));
  // The load after the call would overwrite a result put straight into a global's register.
  const bool viaTemp = want >= 0 && IsPromoted(want);
  const int dst = viaTemp ? Temp() : Target(want);
  const int base = m_st.nextReg;
  for (int k = 0; k < fn->firstParam + fn->numParams; ++k) Temp();
  for (int k = 0; k < fn->numParams; ++k) {
    const int reg = base + fn->firstParam + k;
    const Type* type = fn->paramTypes[k];
    const Expr& arg = size_t(k) < args.size() ? *args[k] : *defaults[k];
    const int mark = m_st.nextReg;
    switch (fn->paramModes[k]) {
      case ParamMode::Value:
        if (type->IsAggregate()) {
          ExprResult v = CompileExpr(arg);
          const int shared = Coerce(v, type, -1, arg.pos);
          Emit(Op::CloneAgg, reg, shared);
        } else {
          ExprTo(arg, type, reg);
        }
        break;
      case ParamMode::Const:
        ExprTo(arg, type, reg);
        break;
      case ParamMode::Var:
      case ParamMode::Out:
        if (type->IsAggregate()) {
          if (arg.kind != ExprKind::Name && arg.kind != ExprKind::Index &&
              arg.kind != ExprKind::Field)
            Fail(arg.pos, "Variable expected for a var parameter");
          LValue lv = CompileLValue(arg);
          if (lv.type != type && !(lv.type->name == type->name))
            Fail(arg.pos, "Types of actual and formal var parameters must be identical");
          Load(lv, reg);
        } else {
          RefTo(arg, type, reg, arg.pos);
        }
        break;
    }
    m_st.nextReg = mark;
  }
  const int hops = fn->level <= 1 ? kNoLink : m_level - (fn->level - 1);
  m_line = pos.line;
  const bool sync = !m_st.promotedRegs.empty();
  if (sync) Emit(Op::SaveGlobals);
  Emit(Op::Call, dst, index, base, hops);
  if (sync) Emit(Op::LoadGlobals);
  m_st.nextReg = base;
  if (viaTemp) return {ToReg({dst, fn->resultType}, want), fn->resultType};
  return {dst, fn->resultType};
}

namespace {

const Type* LetterType(char c) {
  switch (c | 0x20) {
    case 'i':
      return StdType(Scalar::IntAny);
    case 'f':
      return StdType(Scalar::Double);
    case 'd':
      return StdType(Scalar::DateTime);
    case 's':
      return StdType(Scalar::Str);
    case 'b':
      return StdType(Scalar::Bool);
    case 'c':
      return StdType(Scalar::Char);
    case 'v':
      return StdType(Scalar::Variant);
    default:
      return VoidType();
  }
}

}  // namespace

ExprResult Compiler::CallBuiltin(const BuiltinInfo& b, const std::vector<ExprPtr>& args, Pos pos,
                                 int want) {
  std::string letters;
  size_t required = 0;
  bool optional = false;
  for (const char* p = b.params; *p; ++p) {
    if (*p == '|') {
      optional = true;
      continue;
    }
    letters += *p;
    if (!optional) ++required;
  }
  if (args.size() < required)
    Fail(pos, std::string("Not enough actual parameters for '") + b.name + "'");
  if (args.size() > letters.size())
    Fail(pos, std::string("Too many actual parameters for '") + b.name + "'");
  // Count the registers: an array of const spreads into one per element.
  int count = 0;
  for (size_t k = 0; k < args.size(); ++k) {
    if (letters[k] == '*') {
      if (args[k]->kind != ExprKind::SetLit) Fail(args[k]->pos, "Array of values [...] expected");
      count += int(args[k]->args.size());
    } else {
      ++count;
    }
  }
  if (count > 200) Fail(pos, "Too many arguments");
  const int dst = Target(want);
  const int base = m_st.nextReg;
  for (int k = 0; k < count; ++k) Temp();
  struct WriteBack {
    LValue lv;
    int reg;
    const Type* type;
  };
  std::vector<WriteBack> writeBacks;
  int reg = base;
  for (size_t k = 0; k < args.size(); ++k) {
    const char letter = letters[k];
    const Expr& arg = *args[k];
    if (letter == '*') {
      for (const ExprPtr& item : arg.args) {
        const int mark = m_st.nextReg;
        ExprTo(*item, StdType(Scalar::Variant), reg++);
        m_st.nextReg = mark;
      }
      continue;
    }
    const Type* type = LetterType(letter);
    if (letter >= 'A' && letter <= 'Z') {
      if (arg.kind != ExprKind::Name && arg.kind != ExprKind::Index && arg.kind != ExprKind::Field)
        Fail(arg.pos, std::string("Variable expected for a var parameter of '") + b.name + "'");
      LValue lv = CompileLValue(arg);
      if (lv.readOnly) Fail(arg.pos, "Cannot pass a read-only variable as a var parameter");
      if (lv.type->kind != type->kind && lv.type->kind != TypeKind::Variant &&
          !(type->kind == TypeKind::Real && lv.type->kind == TypeKind::Real))
        Fail(arg.pos, "Types of actual and formal var parameters must be identical: " +
                          Quote(TypeName(lv.type)) + " and " + Quote(TypeName(type)));
      const int loaded = Load(lv, -1);
      Coerce({loaded, lv.type}, type, reg, arg.pos);
      writeBacks.push_back({std::move(lv), reg, type});
      ++reg;
      continue;
    }
    const int mark = m_st.nextReg;
    ExprTo(arg, type, reg++);
    m_st.nextReg = mark;
  }
  m_line = pos.line;
  Emit(Op::CallB, dst, BuiltinIndex(&b), base, count);
  for (WriteBack& w : writeBacks) {
    const int value = Coerce({w.reg, w.type}, w.lv.type, -1, pos);
    Store(w.lv, value);
  }
  m_st.nextReg = base > dst ? base : dst + 1;
  return {dst, LetterType(b.result)};
}

std::optional<ExprResult> Compiler::CallIntrinsic(const std::string& name,
                                                  const std::vector<ExprPtr>& args, Pos pos,
                                                  int want, bool asStatement) {
  const auto argCount = [&](size_t lo, size_t hi) {
    if (args.size() < lo) Fail(pos, "Not enough actual parameters for " + Quote(name));
    if (args.size() > hi) Fail(pos, "Too many actual parameters for " + Quote(name));
  };
  if (name == "inc" || name == "dec") {
    argCount(1, 2);
    const bool inc = name == "inc";
    LValue lv = CompileLValue(*args[0]);
    if (lv.readOnly) Fail(args[0]->pos, "Cannot change a read-only variable");
    const Type* t = lv.type;
    if (t->kind != TypeKind::Int && t->kind != TypeKind::Char && t->kind != TypeKind::Variant)
      Fail(args[0]->pos, "Ordinal variable expected, not " + Quote(TypeName(t)));
    const int value = Load(lv, -1);
    std::optional<ConstVal> step;
    if (args.size() == 2) step = ConstEval(*args[1]);
    int result;
    if (t->kind == TypeKind::Variant) {
      ExprResult delta{0, StdType(Scalar::IntAny)};
      if (args.size() == 2) {
        delta = {ExprTo(*args[1], StdType(Scalar::IntAny)), StdType(Scalar::IntAny)};
      } else {
        ConstVal one;
        one.type = StdType(Scalar::IntAny);
        one.i = 1;
        delta.reg = LoadConst(one, -1);
      }
      result = VariantOp(inc ? Op::AddV : Op::SubV, {value, t}, delta, -1, pos).reg;
    } else if (args.size() == 1 || (step && step->type->kind == TypeKind::Int &&
                                    step->i >= -32767 && step->i <= 32767)) {
      const int64_t k = args.size() == 1 ? 1 : step->i;
      const bool direct = lv.kind == LValue::Kind::Reg && RangeWithin(Scalar::IntAny, t->scalar);
      result = direct ? lv.reg : Temp();
      Emit(Op::AddIK, result, value, uint16_t(int16_t(inc ? k : -k)));
    } else {
      const int delta = ExprTo(*args[1], StdType(Scalar::IntAny));
      result = Temp();
      Emit(inc ? Op::AddI : Op::SubI, result, value, delta);
    }
    if (t->kind == TypeKind::Int || t->kind == TypeKind::Char) {
      if (!RangeWithin(Scalar::IntAny, t->scalar) || t->kind == TypeKind::Char) {
        const int checked = lv.kind == LValue::Kind::Reg ? lv.reg : Temp();
        Emit(Op::MoveChk, checked, result, 0, int(t->scalar));
        result = checked;
      }
    }
    Store(lv, result);
    return ExprResult{want >= 0 ? want : result, VoidType()};
  }
  if (name == "length") {
    argCount(1, 1);
    ExprResult v = CompileExpr(*args[0]);
    if (v.type->kind == TypeKind::Array) {
      ConstVal c;
      c.type = StdType(Scalar::IntAny);
      c.i = v.type->high - v.type->low + 1;
      return ExprResult{LoadConst(c, want), c.type};
    }
    if (v.type->kind == TypeKind::Char) {
      ConstVal c;
      c.type = StdType(Scalar::IntAny);
      c.i = 1;
      return ExprResult{LoadConst(c, want), c.type};
    }
    const int text = Coerce(v, StdType(Scalar::Str), -1, args[0]->pos);
    const int dst = Target(want);
    BuiltinCall("length", dst, {text});
    return ExprResult{dst, StdType(Scalar::IntAny)};
  }
  if (name == "high" || name == "low") {
    argCount(1, 1);
    ExprResult v = CompileExpr(*args[0]);
    ConstVal c;
    c.type = StdType(Scalar::IntAny);
    if (v.type->kind == TypeKind::Array) {
      c.i = name == "high" ? v.type->high : v.type->low;
      return ExprResult{LoadConst(c, want), c.type};
    }
    if (v.type->kind == TypeKind::Str) {
      if (name == "low") {
        c.i = 1;
        return ExprResult{LoadConst(c, want), c.type};
      }
      const int dst = Target(want);
      BuiltinCall("length", dst, {v.reg});
      return ExprResult{dst, c.type};
    }
    Fail(args[0]->pos, "Array or string expected, not " + Quote(TypeName(v.type)));
  }
  if (name == "ord") {
    argCount(1, 1);
    ExprResult v = CompileExpr(*args[0]);
    if (v.type->IsOrdinal()) return ExprResult{ToReg(v, want), StdType(Scalar::IntAny)};
    if (v.type->kind == TypeKind::Variant) {
      const int dst = Target(want);
      BuiltinCall("$ordv", dst, {v.reg});
      return ExprResult{dst, StdType(Scalar::IntAny)};
    }
    if (v.type->kind == TypeKind::Str && args[0]->kind == ExprKind::Text)
      Fail(args[0]->pos, "Ord needs one character, not a string");
    Fail(args[0]->pos, "Ordinal value expected, not " + Quote(TypeName(v.type)));
  }
  if (name == "succ" || name == "pred") {
    argCount(1, 1);
    ExprResult v = CompileExpr(*args[0]);
    if (!v.type->IsOrdinal()) Fail(args[0]->pos, "Ordinal value expected");
    const int dst = Target(want);
    Emit(Op::AddIK, dst, v.reg, uint16_t(int16_t(name == "succ" ? 1 : -1)));
    if (v.type->kind == TypeKind::Int) return ExprResult{dst, StdType(Scalar::IntAny)};
    Emit(Op::MoveChk, dst, dst, 0, int(v.type->scalar));
    return ExprResult{dst, v.type};
  }
  if (name == "abs" || name == "sqr") {
    argCount(1, 1);
    ExprResult v = CompileExpr(*args[0]);
    const bool abs = name == "abs";
    const int dst = Target(want);
    if (v.type->kind == TypeKind::Int) {
      if (abs)
        BuiltinCall("$absi", dst, {v.reg});
      else
        Emit(Op::MulI, dst, v.reg, v.reg);
      return ExprResult{dst, StdType(Scalar::IntAny)};
    }
    if (v.type->kind == TypeKind::Real) {
      if (abs)
        BuiltinCall("$absf", dst, {v.reg});
      else
        Emit(Op::MulF, dst, v.reg, v.reg);
      return ExprResult{dst, StdType(Scalar::Double)};
    }
    if (v.type->kind == TypeKind::Variant) {
      if (abs)
        BuiltinCall("$absv", dst, {v.reg});
      else
        Emit(Op::MulV, dst, v.reg, v.reg);
      return ExprResult{dst, v.type};
    }
    Fail(args[0]->pos, "Number expected, not " + Quote(TypeName(v.type)));
  }
  if (name == "random") {
    argCount(0, 1);
    const int dst = Target(want);
    if (args.empty()) {
      BuiltinCall("$randomf", dst, {});
      return ExprResult{dst, StdType(Scalar::Double)};
    }
    const int n = ExprTo(*args[0], StdType(Scalar::IntAny));
    BuiltinCall("$randomi", dst, {n});
    return ExprResult{dst, StdType(Scalar::IntAny)};
  }
  if (name == "exit" || name == "break" || name == "continue") {
    if (!asStatement) Fail(pos, Quote(name) + " is a statement, not a value");
    return std::nullopt;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- statements

void Compiler::JumpOut(size_t depth, std::vector<int>* patch, Pos pos) {
  (void)pos;
  for (size_t k = m_st.controls.size(); k-- > depth + 1;) {
    Control& c = m_st.controls[k];
    switch (c.kind) {
      case ControlKind::Loop:
        break;
      case ControlKind::TryExcept:
        Emit(Op::PopTry);
        break;
      case ControlKind::ExceptBlock:
        Emit(Op::EndExcept);
        break;
      case ControlKind::TryFinally:
        Emit(Op::PopTry);
        EmitBC(Op::SetJump, c.stateReg, Here() + 2);
        c.toFinally.push_back(EmitJump(Op::Jmp));
        break;
    }
  }
  patch->push_back(EmitJump(Op::Jmp));
}

int Compiler::CondJumpFalse(const Expr& e) {
  if (e.kind == ExprKind::Binary && e.op == Tok::Less) {
    ExprResult l = CompileExpr(*e.args[0]);
    ExprResult r = CompileExpr(*e.args[1]);
    if (l.type->kind == TypeKind::Int && r.type->kind == TypeKind::Int) {
      Emit(Op::LtIJ, l.reg, r.reg);
      return EmitJump(Op::Jmp);
    }
    const int b = CompareRegs(e.op, l, r, -1, e.pos).reg;
    return EmitJump(Op::JF, b);
  }
  const int b = ExprTo(e, StdType(Scalar::Bool));
  return EmitJump(Op::JF, b);
}

void Compiler::CompileStmt(const Stmt& s) {
  m_line = s.pos.line;
  const int floor = m_st.floor;
  switch (s.kind) {
    case StmtKind::Empty:
      break;
    case StmtKind::Assign:
      CompileAssign(s);
      break;
    case StmtKind::Call: {
      const Expr& e = *s.expr;
      const Expr& callee = e.kind == ExprKind::Call ? *e.base : e;
      const std::vector<ExprPtr> none;
      const std::vector<ExprPtr>& args = e.kind == ExprKind::Call ? e.args : none;
      if (callee.kind == ExprKind::Name && !Lookup(callee.text)) {
        if (callee.text == "break" || callee.text == "continue") {
          if (!args.empty()) Fail(e.pos, Quote(callee.display) + " takes no parameters");
          size_t k = m_st.controls.size();
          while (k > 0 && m_st.controls[k - 1].kind != ControlKind::Loop) --k;
          if (k == 0) Fail(e.pos, Quote(callee.display) + " outside a loop");
          Control& loop = m_st.controls[k - 1];
          std::vector<int> jumps;
          JumpOut(k - 1, &jumps, e.pos);
          auto& list = callee.text == "break" ? loop.breaks : loop.continues;
          list.insert(list.end(), jumps.begin(), jumps.end());
          break;
        }
        if (callee.text == "exit") {
          if (args.size() > 1) Fail(e.pos, "Too many actual parameters for 'Exit'");
          if (args.size() == 1) {
            if (m_st.fn->resultReg < 0) Fail(e.pos, "Exit(value) is allowed only in a function");
            ExprTo(*args[0], m_st.fn->resultType, m_st.fn->resultReg);
          }
          // exits are patched after the whole routine, so count controls from the bottom.
          std::vector<int> jumps;
          JumpOut(size_t(-1), &jumps, e.pos);
          m_st.exits.insert(m_st.exits.end(), jumps.begin(), jumps.end());
          break;
        }
      }
      if (e.kind != ExprKind::Name && e.kind != ExprKind::Call)
        Fail(e.pos, "Statement expected, but expression found");
      CompileCall(callee, args, e.pos, -1, true);
      break;
    }
    case StmtKind::Compound:
      CompileStmts(s.body);
      break;
    case StmtKind::If:
      CompileIf(s);
      break;
    case StmtKind::Case:
      CompileCase(s);
      break;
    case StmtKind::Repeat:
      CompileRepeat(s);
      break;
    case StmtKind::While:
      CompileWhile(s);
      break;
    case StmtKind::For:
      CompileFor(s);
      break;
    case StmtKind::TryFinally:
      CompileTryFinally(s);
      break;
    case StmtKind::TryExcept:
      CompileTryExcept(s);
      break;
    case StmtKind::With:
      CompileWith(s);
      break;
    case StmtKind::Raise:
      CompileRaise(s);
      break;
  }
  m_st.floor = floor;
  m_st.nextReg = floor;
}

void Compiler::CompileAssign(const Stmt& s) {
  const Expr& target = *s.target;
  const Expr& value = *s.expr;
  LValue lv = CompileLValue(target);
  if (lv.readOnly) {
    Fail(target.pos, "Cannot assign to " + Quote(lv.display.empty() ? "it" : lv.display) +
                         ": a const parameter or a loop variable");
  }
  if (lv.type->IsAggregate()) {
    ExprResult v = CompileExpr(value);
    const int src = Coerce(v, lv.type, -1, value.pos);
    const int dst = Load(lv, -1);
    Emit(Op::CopyAgg, dst, src);
    return;
  }
  // s := s + x appends in place.
  if (lv.type->kind == TypeKind::Str && value.kind == ExprKind::Binary && value.op == Tok::Plus &&
      value.args[0]->kind == ExprKind::Name && target.kind == ExprKind::Name &&
      value.args[0]->text == target.text &&
      (lv.kind == LValue::Kind::Reg || lv.kind == LValue::Kind::Global)) {
    ExprResult r = CompileExpr(*value.args[1]);
    if (r.type->kind == TypeKind::Str || r.type->kind == TypeKind::Char) {
      const int piece = Coerce(r, StdType(Scalar::Str), -1, value.pos);
      if (lv.kind == LValue::Kind::Reg)
        Emit(Op::Append, lv.reg, piece);
      else
        Emit(Op::AppendG, lv.index, piece);
      return;
    }
    if (r.type->kind != TypeKind::Variant)
      Fail(value.pos, "Incompatible types: 'String' and " + Quote(TypeName(r.type)));
    const int left = Load(lv, -1);
    ExprResult sum = VariantOp(Op::AddV, {left, lv.type}, r, -1, value.pos);
    Store(lv, Coerce(sum, lv.type, lv.kind == LValue::Kind::Reg ? lv.reg : -1, value.pos));
    return;
  }
  const int want = lv.kind == LValue::Kind::Reg ? lv.reg : -1;
  const int r = ExprTo(value, lv.type, want);
  if (lv.kind != LValue::Kind::Reg) Store(lv, r);
}

void Compiler::CompileIf(const Stmt& s) {
  const int skip = CondJumpFalse(*s.expr);
  m_st.nextReg = m_st.floor;
  CompileStmt(*s.body[0]);
  if (s.hasElse) {
    const int end = EmitJump(Op::Jmp);
    PatchHere(skip);
    CompileStmt(*s.body[1]);
    PatchHere(end);
  } else {
    PatchHere(skip);
  }
}

void Compiler::CompileCase(const Stmt& s) {
  ExprResult sel = CompileExpr(*s.expr);
  if (!sel.type->IsOrdinal() && sel.type->kind != TypeKind::Str &&
      sel.type->kind != TypeKind::Variant)
    Fail(s.expr->pos, "Ordinal value expected after 'case', not " + Quote(TypeName(sel.type)));
  m_st.floor = m_st.nextReg;
  std::vector<int> ends;
  for (const CaseBranch& b : s.branches) {
    std::vector<int> hits;
    for (const ExprPtr& label : b.labels) {
      const int mark = m_st.nextReg;
      const int t = Temp();
      const auto constant = [&](const Expr& e) -> ExprResult {
        const ConstVal c = RequireConst(e, "case label");
        return {LoadConst(c, -1), c.type};
      };
      if (label->kind == ExprKind::Binary && label->op == Tok::DotDot) {
        CompareRegs(Tok::GreaterEqual, sel, constant(*label->args[0]), t, label->pos);
        const int miss = EmitJump(Op::JF, t);
        CompareRegs(Tok::LessEqual, sel, constant(*label->args[1]), t, label->pos);
        hits.push_back(EmitJump(Op::JT, t));
        PatchHere(miss);
      } else {
        CompareRegs(Tok::Equal, sel, constant(*label), t, label->pos);
        hits.push_back(EmitJump(Op::JT, t));
      }
      m_st.nextReg = mark;
    }
    const int next = EmitJump(Op::Jmp);
    PatchAll(hits, Here());
    CompileStmt(*b.body);
    ends.push_back(EmitJump(Op::Jmp));
    PatchHere(next);
  }
  CompileStmts(s.other);
  PatchAll(ends, Here());
}

void Compiler::CompileWhile(const Stmt& s) {
  const int start = Here();
  const int exit = CondJumpFalse(*s.expr);
  m_st.nextReg = m_st.floor;
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmt(*s.body[0]);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  PatchAll(loop.continues, Here());
  EmitLoopTo(start);
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileRepeat(const Stmt& s) {
  const int start = Here();
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmts(s.body);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  PatchAll(loop.continues, Here());
  const int done = ExprTo(*s.expr, StdType(Scalar::Bool));
  const int exit = EmitJump(Op::JT, done);
  EmitLoopTo(start);
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileFor(const Stmt& s) {
  LValue lv = CompileLValue(*s.target);
  const Type* t = lv.type;
  if (!t->IsOrdinal()) Fail(s.target->pos, "Ordinal loop variable expected, not " + Quote(t->name));
  if (lv.readOnly) Fail(s.target->pos, "Cannot use a read-only variable as a loop variable");
  const int counter = lv.kind == LValue::Kind::Reg ? lv.reg : Temp();
  const int limit = Temp();
  ExprTo(*s.limit, t, limit);
  ExprTo(*s.expr, t, counter);
  m_st.floor = m_st.nextReg;
  const int test = Temp();
  Emit(s.downto ? Op::LtI : Op::GtI, test, counter, limit);
  const int exit = EmitJump(Op::JT, test);
  m_st.nextReg = m_st.floor;
  const int body = Here();
  if (lv.kind != LValue::Kind::Reg) Store(lv, counter);
  Symbol* sym = Lookup(s.target->text);
  const bool wasReadOnly = sym->readOnly;
  sym->readOnly = true;
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmt(*s.body[0]);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  sym = Lookup(s.target->text);
  sym->readOnly = wasReadOnly;
  PatchAll(loop.continues, Here());
  const int back = Here() + 1 - body;
  m_line = s.pos.line;
  Emit(s.downto ? Op::ForDown : Op::ForUp, counter, limit, back & 0xFFFF, back >> 16);
  if (back >> 24) Fail(s.pos, "Loop body too long");
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileTryExcept(const Stmt& s) {
  const int handler = EmitJump(Op::TryExcept);
  m_st.controls.push_back({ControlKind::TryExcept, {}, {}, {}, -1});
  CompileStmts(s.body);
  m_st.controls.pop_back();
  Emit(Op::PopTry);
  const int done = EmitJump(Op::Jmp);
  PatchHere(handler);
  m_st.controls.push_back({ControlKind::ExceptBlock, {}, {}, {}, -1});
  std::vector<int> ends;
  if (s.handlers.empty()) {
    CompileStmts(s.other);
    Emit(Op::EndExcept);
  } else {
    for (const ExceptHandler& h : s.handlers) {
      const unsigned mask = ExceptionTypeMask(h.type.name);
      if (!mask) Fail(h.type.pos, "Unknown exception type " + Quote(h.type.display));
      const int t = Temp();
      ConstVal c;
      c.type = StdType(Scalar::IntAny);
      c.i = mask;
      BuiltinCall("$excmatch", t, {LoadConst(c, -1)});
      const int next = EmitJump(Op::JF, t);
      m_st.nextReg = m_st.floor;
      m_scopes.emplace_back();
      if (!h.var.name.empty()) {
        Symbol sym;
        sym.kind = SymKind::ExcVar;
        sym.type = StdType(Scalar::Str);
        Declare(h.var, sym);
      }
      CompileStmt(*h.body);
      m_scopes.pop_back();
      Emit(Op::EndExcept);
      ends.push_back(EmitJump(Op::Jmp));
      PatchHere(next);
    }
    if (s.hasElse) {
      CompileStmts(s.other);
      Emit(Op::EndExcept);
    } else {
      Emit(Op::Reraise);
    }
  }
  m_st.controls.pop_back();
  PatchAll(ends, Here());
  PatchHere(done);
}

void Compiler::CompileTryFinally(const Stmt& s) {
  const int state = Temp();
  m_st.floor = m_st.nextReg;
  Emit(Op::LoadInt, state);
  const int handler = EmitJump(Op::TryFinally, state);
  m_st.controls.push_back({ControlKind::TryFinally, {}, {}, {}, state});
  CompileStmts(s.body);
  Control c = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  Emit(Op::PopTry);
  PatchHere(handler);
  PatchAll(c.toFinally, Here());
  CompileStmts(s.other);
  Emit(Op::EndFinally, state);
}

void Compiler::CompileWith(const Stmt& s) {
  const size_t scopes = m_scopes.size();
  for (const ExprPtr& e : s.withs) {
    ExprResult r = CompileExpr(*e);
    if (r.type->kind != TypeKind::Record)
      Fail(e->pos, "Record expected after 'with', not " + Quote(TypeName(r.type)));
    m_st.floor = m_st.nextReg;
    m_scopes.emplace_back();
    for (size_t k = 0; k < r.type->fields.size(); ++k) {
      Symbol sym;
      sym.kind = SymKind::WithField;
      sym.type = r.type->fields[k].type;
      sym.index = r.reg;
      sym.slot = int(k);
      sym.display = r.type->fields[k].display;
      m_scopes.back().names[r.type->fields[k].name] = sym;
    }
  }
  CompileStmt(*s.body[0]);
  m_scopes.resize(scopes);
}

void Compiler::CompileRaise(const Stmt& s) {
  if (!s.expr) {
    bool inside = false;
    for (const Control& c : m_st.controls) inside = inside || c.kind == ControlKind::ExceptBlock;
    if (!inside) Fail(s.pos, "'raise' without an exception is allowed only in an except block");
    Emit(Op::Reraise);
    return;
  }
  const Expr& e = *s.expr;
  int text;
  if (e.kind == ExprKind::Call && e.base->kind == ExprKind::Field &&
      e.base->base->kind == ExprKind::Name && ExceptionTypeMask(e.base->base->text)) {
    const std::string& method = e.base->text;
    if (method == "create" && e.args.size() == 1) {
      text = ExprTo(*e.args[0], StdType(Scalar::Str));
    } else if (method == "createfmt" && e.args.size() == 2) {
      const BuiltinInfo* format = FindBuiltin("format");
      text = CallBuiltin(*format, e.args, e.pos, -1).reg;
    } else {
      Fail(e.pos, "Exception.Create(text) or Exception.CreateFmt(format, [args]) expected");
    }
  } else {
    text = ExprTo(e, StdType(Scalar::Str));
  }
  Emit(Op::Raise, text);
}

// ---------------------------------------------------------------- program

CompiledProgram Compiler::Run(const ProgramAst& ast) {
  // Host variables sit in a scope of their own, below the program's globals (which may not
  // reuse their names; routines' locals may).
  m_scopes.emplace_back();
  for (size_t k = 0; k < m_globals.size(); ++k) {
    const GlobalVar& g = m_globals[k];
    if (!g.fromHost || m_scopes.back().names.count(g.name)) continue;
    Symbol sym;
    sym.kind = SymKind::Global;
    sym.type = g.type;
    sym.index = int(k);
    sym.display = g.display;
    m_scopes.back().names.emplace(g.name, sym);
  }
  m_scopes.emplace_back();

  auto init = std::make_unique<FunctionCode>();
  init->name = "$init";
  init->level = 0;
  m_init = init.get();
  auto main = std::make_unique<FunctionCode>();
  main->name = "$main";
  main->display = "main block";
  main->level = 0;
  m_st.fn = main.get();
  CompiledProgram out;
  m_prog->functions.push_back(std::move(init));
  out.initFunction = 0;
  m_prog->functions.push_back(std::move(main));
  m_prog->mainFunction = 1;

  DeclareBlock(ast.block, true);
  for (const auto& fn : m_prog->functions)
    if (!fn->defined && fn->level >= 1)
      Fail({1, 1}, "Unsatisfied forward declaration of " + Quote(fn->display));
  m_st.fn = m_prog->functions[1].get();
  m_st.nextReg = m_st.floor = 0;
  m_scopes.emplace_back();
  PromoteGlobals(*ast.block.body);
  m_st.floor = m_st.nextReg;
  CompileStmt(*ast.block.body);
  m_line = ast.block.endPos.line;
  PatchAll(m_st.exits, Here());
  Emit(Op::Ret);
  m_st.fn = m_init;
  Emit(Op::Ret);
  out.program = std::move(m_prog);
  return out;
}

}  // namespace

CompiledProgram CompileProgram(const ProgramAst& ast, std::vector<GlobalVar>& globals) {
  Compiler compiler(globals);
  return compiler.Run(ast);
}

}  // namespace velkor
