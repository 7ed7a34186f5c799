#pragma once
// The parse tree. The parser only checks the grammar; names, types and conversions are
// the compiler's, which needs the whole declaration to type a use (a function's name on
// the left of := is its result, elsewhere a call). Nodes are plain structs with one kind
// field rather than a class hierarchy: the compiler switches on the kind anyway.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "script/Lexer.h"

namespace velkor {

struct TypeSpec;
struct Expr;
struct Stmt;
struct Routine;
using TypeSpecPtr = std::unique_ptr<TypeSpec>;
using ExprPtr = std::unique_ptr<Expr>;
using StmtPtr = std::unique_ptr<Stmt>;
using StmtList = std::vector<StmtPtr>;

struct Pos {
  int line = 1;
  int column = 1;
};

struct NamePos {
  std::string name;     // lower case
  std::string display;  // as written
  Pos pos;
};

enum class TypeSpecKind : uint8_t { Named, Array, Record, Set };

struct FieldSpec {
  std::vector<NamePos> names;
  TypeSpecPtr type;
};

struct TypeSpec {
  TypeSpecKind kind = TypeSpecKind::Named;
  Pos pos;
  NamePos name;                  // Named
  ExprPtr low, high;             // Array bounds (constant expressions)
  std::vector<ExprPtr> dimsLow;  // extra dimensions of array[a..b, c..d]
  std::vector<ExprPtr> dimsHigh;
  TypeSpecPtr element;            // Array element, Set base
  std::vector<FieldSpec> fields;  // Record
};

enum class ExprKind : uint8_t {
  Int,
  Real,
  Text,
  Name,
  Call,    // callee(args); callee is a Name or a Field (Exception.Create)
  Index,   // base[args]
  Field,   // base.name
  Unary,   // op args[0]
  Binary,  // args[0] op args[1]
  SetLit,  // [a, b..c]: ranges are Binary nodes with op DotDot
  List,    // (a, b, c): the first value of a typed constant array
};

struct Expr {
  ExprKind kind = ExprKind::Int;
  Pos pos;
  Tok op = Tok::Eof;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;  // Text value; Name and Field: lower-case name
  std::string display;
  ExprPtr base;  // Call callee, Index base, Field base
  std::vector<ExprPtr> args;
};

enum class StmtKind : uint8_t {
  Empty,
  Assign,
  Call,  // expr is a Name or a Call
  Compound,
  If,
  Case,
  Repeat,
  While,
  For,
  TryFinally,
  TryExcept,
  With,
  Raise,
};

struct CaseBranch {
  std::vector<ExprPtr> labels;  // values or DotDot ranges
  StmtPtr body;
};

struct ExceptHandler {  // on [E:] Type do stmt
  NamePos var;          // empty name when absent
  NamePos type;
  StmtPtr body;
};

struct Stmt {
  StmtKind kind = StmtKind::Empty;
  Pos pos;
  ExprPtr target;  // Assign left side, For variable (a Name)
  ExprPtr expr;    // Assign right side, Call, If/While/Repeat condition, Case selector, For start
  ExprPtr limit;   // For end
  bool downto = false;
  StmtList body;   // Compound, Repeat, Try blocks; If: then = body[0], else = body[1]
  StmtList other;  // finally / except block, case else
  std::vector<CaseBranch> branches;
  std::vector<ExceptHandler> handlers;
  std::vector<ExprPtr> withs;
  bool hasElse = false;
};

enum class ParamMode : uint8_t { Value, Var, Const, Out };

struct ParamSpec {
  std::vector<NamePos> names;
  TypeSpecPtr type;  // may be null: untyped const/var is not supported, the compiler says so
  ParamMode mode = ParamMode::Value;
  ExprPtr defaultValue;
};

struct ConstDecl {
  NamePos name;
  TypeSpecPtr type;  // typed constant when set
  ExprPtr value;
};

struct TypeDecl {
  NamePos name;
  TypeSpecPtr type;
};

struct VarDecl {
  std::vector<NamePos> names;
  TypeSpecPtr type;
  ExprPtr init;
};

struct Block {
  // Declarations in text order; kind tells which vector the index refers to.
  enum class DeclKind : uint8_t { Const, Type, Var, Routine };
  std::vector<std::pair<DeclKind, size_t>> order;
  std::vector<ConstDecl> consts;
  std::vector<TypeDecl> types;
  std::vector<VarDecl> vars;
  std::vector<std::unique_ptr<Routine>> routines;
  StmtPtr body;  // Compound; null for a forward declaration
  Pos endPos;
};

struct Routine {
  NamePos name;
  bool isFunction = false;
  std::vector<ParamSpec> params;
  TypeSpecPtr result;
  bool forward = false;
  Block block;
};

struct ProgramAst {
  Block block;
};

}  // namespace velkor
