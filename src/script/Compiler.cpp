// Types, declarations, routines and the program: the compiler's top level.

#include "script/CompilerImpl.h"

namespace velkor::compiler {

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

}  // namespace velkor::compiler

namespace velkor {

CompiledProgram CompileProgram(const ProgramAst& ast, std::vector<GlobalVar>& globals) {
  compiler::Compiler compiler(globals);
  return compiler.Run(ast);
}

}  // namespace velkor
