// Calls: routines of the program, built-ins, typecasts and the intrinsics compiled inline.

#include "script/CompilerImpl.h"

namespace velkor::compiler {

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

void Compiler::ArgCount(const IntrinsicCall& call, size_t lo, size_t hi) {
  if (call.args.size() < lo) Fail(call.pos, "Not enough actual parameters for " + Quote(call.name));
  if (call.args.size() > hi) Fail(call.pos, "Too many actual parameters for " + Quote(call.name));
}

std::optional<ExprResult> Compiler::IntrinsicIncDec(const IntrinsicCall& call) {
  const std::string& name = call.name;
  const std::vector<ExprPtr>& args = call.args;
  const Pos pos = call.pos;
  const int want = call.want;
  ArgCount(call, 1, 2);
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
  } else if (args.size() == 1 ||
             (step && step->type->kind == TypeKind::Int && step->i >= -32767 && step->i <= 32767)) {
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

std::optional<ExprResult> Compiler::IntrinsicLength(const IntrinsicCall& call) {
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 1, 1);
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

std::optional<ExprResult> Compiler::IntrinsicHighLow(const IntrinsicCall& call) {
  const std::string& name = call.name;
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 1, 1);
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

std::optional<ExprResult> Compiler::IntrinsicOrd(const IntrinsicCall& call) {
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 1, 1);
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

std::optional<ExprResult> Compiler::IntrinsicSuccPred(const IntrinsicCall& call) {
  const std::string& name = call.name;
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 1, 1);
  ExprResult v = CompileExpr(*args[0]);
  if (!v.type->IsOrdinal()) Fail(args[0]->pos, "Ordinal value expected");
  const int dst = Target(want);
  Emit(Op::AddIK, dst, v.reg, uint16_t(int16_t(name == "succ" ? 1 : -1)));
  if (v.type->kind == TypeKind::Int) return ExprResult{dst, StdType(Scalar::IntAny)};
  Emit(Op::MoveChk, dst, dst, 0, int(v.type->scalar));
  return ExprResult{dst, v.type};
}

std::optional<ExprResult> Compiler::IntrinsicAbsSqr(const IntrinsicCall& call) {
  const std::string& name = call.name;
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 1, 1);
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

std::optional<ExprResult> Compiler::IntrinsicRandom(const IntrinsicCall& call) {
  const std::vector<ExprPtr>& args = call.args;
  const int want = call.want;
  ArgCount(call, 0, 1);
  const int dst = Target(want);
  if (args.empty()) {
    BuiltinCall("$randomf", dst, {});
    return ExprResult{dst, StdType(Scalar::Double)};
  }
  const int n = ExprTo(*args[0], StdType(Scalar::IntAny));
  BuiltinCall("$randomi", dst, {n});
  return ExprResult{dst, StdType(Scalar::IntAny)};
}

std::optional<ExprResult> Compiler::IntrinsicFlow(const IntrinsicCall& call) {
  const std::string& name = call.name;
  const Pos pos = call.pos;
  if (!call.asStatement) Fail(pos, Quote(name) + " is a statement, not a value");
  return std::nullopt;
}

// The routines whose typing depends on their arguments, compiled inline; like the
// built-ins' table, by lower-case name.
std::optional<ExprResult> Compiler::CallIntrinsic(const std::string& name,
                                                  const std::vector<ExprPtr>& args, Pos pos,
                                                  int want, bool asStatement) {
  using Handler = std::optional<ExprResult> (Compiler::*)(const IntrinsicCall&);
  static const std::unordered_map<std::string, Handler> kIntrinsics = {
      {"inc", &Compiler::IntrinsicIncDec},    {"dec", &Compiler::IntrinsicIncDec},
      {"length", &Compiler::IntrinsicLength}, {"high", &Compiler::IntrinsicHighLow},
      {"low", &Compiler::IntrinsicHighLow},   {"ord", &Compiler::IntrinsicOrd},
      {"succ", &Compiler::IntrinsicSuccPred}, {"pred", &Compiler::IntrinsicSuccPred},
      {"abs", &Compiler::IntrinsicAbsSqr},    {"sqr", &Compiler::IntrinsicAbsSqr},
      {"random", &Compiler::IntrinsicRandom}, {"exit", &Compiler::IntrinsicFlow},
      {"break", &Compiler::IntrinsicFlow},    {"continue", &Compiler::IntrinsicFlow},
  };
  const auto it = kIntrinsics.find(name);
  if (it == kIntrinsics.end()) return std::nullopt;
  return (this->*it->second)(IntrinsicCall{name, args, pos, want, asStatement});
}

}  // namespace velkor::compiler
