#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/Error.h"
#include "project/ConstGroups.h"
#include "project/Functions.h"

namespace velkor {
namespace {

// ---------------------------------------------------------------- constant groups

class ConstGroupsTest : public ::testing::Test {
 protected:
  ConstGroupsTest() {
    modes = groups.Add(std::make_unique<TConstGroup>("Режимы"));
    modes->Add(std::make_unique<TConstClass>("Run", "1"));
    modes->Add(std::make_unique<TConstClass>("Стоп", "0"));
    modes->Add(
        std::make_unique<TConstClass>("Also1", "1"));       // a duplicate value, as a file may hold
    modes->Add(std::make_unique<TConstClass>("Run", "7"));  // and a duplicate name
    modes->Add(std::make_unique<TConstClass>("Real", "0.100000001490116"));
    groups.Add(std::make_unique<TConstGroup>(""));
    groups.Add(std::make_unique<TConstGroup>("Режимы"));
  }
  TConstGroups groups;
  TConstGroup* modes;
};

struct DisplayCase {
  const char* group;
  const char* value;
  const char* shown;
};

class ConstDisplayTest : public ConstGroupsTest,
                         public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(ConstDisplayTest, ShowsTheFirstConstantOfThatValueText) {
  EXPECT_EQ(groups.DisplayText(GetParam().group, GetParam().value), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConstDisplayTest,
    ::testing::Values(DisplayCase{"Режимы", "1", "Run (1)"},  // first of two with value 1
                      DisplayCase{"Режимы", "0", "Стоп (0)"}, DisplayCase{"Режимы", "2", "2"},
                      DisplayCase{"Режимы", "01", "01"},  // text, not numbers, compare
                      DisplayCase{"Режимы", "1.0", "1.0"}, DisplayCase{"Режимы", "0.1", "0.1"},
                      DisplayCase{"Режимы", "0.100000001490116", "Real (0.100000001490116)"},
                      DisplayCase{"режимы", "1", "1"},  // group names are case-sensitive
                      DisplayCase{"Нет такой", "1", "1"}, DisplayCase{"", "1", "1"}));

struct ValueOfCase {
  const char* text;
  const char* value;
};

class ConstValueOfTest : public ConstGroupsTest,
                         public ::testing::WithParamInterface<ValueOfCase> {};

TEST_P(ConstValueOfTest, TakesTheFirstConstantOfThatNameElseTheText) {
  EXPECT_EQ(modes->ValueOf(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConstValueOfTest,
                         ::testing::Values(ValueOfCase{"Run", "1"}, ValueOfCase{"Стоп", "0"},
                                           ValueOfCase{"run", "run"}, ValueOfCase{"42", "42"},
                                           ValueOfCase{"", ""}));

TEST_F(ConstGroupsTest, FindsTheFirstGroupByExactName) {
  EXPECT_EQ(groups.IndexOfName("Режимы"), 0);
  EXPECT_EQ(groups.FindByName("Режимы"), modes);
  EXPECT_EQ(groups.IndexOfName(""), 1);
  EXPECT_EQ(groups.IndexOfName("режимы"), -1);
  EXPECT_EQ(groups.FindByName("x"), nullptr);
  EXPECT_EQ(modes->FindByName("Run")->Value, "1");
  EXPECT_EQ(modes->FindByName("Run")->Group(), modes);
}

TEST_F(ConstGroupsTest, RemovingAGroupMakesTheNextOfThatNameFirst) {
  groups.Remove(modes);
  EXPECT_EQ(groups.Count(), 2);
  EXPECT_EQ(groups.IndexOfName("Режимы"), 1);
  EXPECT_EQ(groups.DisplayText("Режимы", "1"), "1");  // the remaining one holds no constants
}

// ---------------------------------------------------------------- user functions

std::unique_ptr<TFuncParam> Param(const std::string& name, VarType type = VarType::Word) {
  auto param = std::make_unique<TFuncParam>();
  param->Name = name;
  param->Type = type;
  return param;
}

std::unique_ptr<TFunction> Function(const std::string& name, VarType retType = VarType::Word) {
  auto function = std::make_unique<TFunction>();
  function->Name = name;
  function->RetType = retType;
  return function;
}

TEST(HeaderLineTest, MatchesTheDeclarationForm) {
  TFunction add;
  add.Name = "Add";
  add.RetType = VarType::Double;
  add.Params.Add(Param("a", VarType::Integer));
  add.Params.Add(Param("b", VarType::Integer));
  EXPECT_EQ(add.HeaderLine(), "function Add( a:Integer; b:Integer; ):Double; ");

  EXPECT_EQ(Function("Name")->HeaderLine(), "function Name:Word; ");
}

struct TypeCase {
  VarType code;
  const char* scriptName;
};

class ScriptTypeTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ScriptTypeTest, NamesTheTypeInParametersAndReturn) {
  const TypeCase c = GetParam();
  auto function = Function("F", c.code);
  function->Params.Add(Param("p", c.code));
  const std::string type = c.scriptName;
  const std::string expected =
      type.empty() ? "function F( p)" : "function F( p:" + type + "; ):" + type + "; ";
  EXPECT_EQ(FunctionScriptTypeName(c.code), type);
  EXPECT_EQ(function->HeaderLine(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ScriptTypeTest,
    ::testing::Values(TypeCase{VarType::Word, "Word"}, TypeCase{VarType::Float, "Single"},
                      TypeCase{VarType::ShortInt, "Integer"}, TypeCase{VarType::Integer, "Integer"},
                      TypeCase{VarType::DWord, "Cardinal"}, TypeCase{VarType::Int64, "Longint"},
                      TypeCase{VarType::Bool, "Boolean"}, TypeCase{VarType::DateTime, "TDateTime"},
                      TypeCase{VarType::Double, "Double"},
                      TypeCase{VarType::String, ""},  // no script type in a function
                      TypeCase{VarType(999), ""}));   // a code read from a file

struct NameCase {
  const char* name;
  const char* error;  // nullptr: accepted
};

class FunctionNameTest : public ::testing::TestWithParam<NameCase> {
 protected:
  FunctionNameTest() {
    functions.Add(Function("Sum"));
    functions.Add(Function("Ёлка"));
  }
  TFunctions functions;
};

TEST_P(FunctionNameTest, AddChecksTheName) {
  const NameCase c = GetParam();
  if (!c.error) {
    EXPECT_NE(functions.Add(Function(c.name)), nullptr);
    EXPECT_EQ(functions.Count(), 3);
    return;
  }
  try {
    functions.Add(Function(c.name));
    FAIL() << "accepted " << c.name;
  } catch (const VelkorError& e) {
    EXPECT_STREQ(e.what(), c.error);
  }
  EXPECT_EQ(functions.Count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Names, FunctionNameTest,
                         ::testing::Values(NameCase{"Other", nullptr}, NameCase{"Ёлки", nullptr},
                                           NameCase{"", "Некоррктное имя функции"},
                                           NameCase{"Two words", "Некоррктное имя функции"},
                                           NameCase{" Sum", "Некоррктное имя функции"},
                                           NameCase{"SUM", "Функция с таким именем уже существует"},
                                           NameCase{"sum", "Функция с таким именем уже существует"},
                                           NameCase{"Ёлка",
                                                    "Функция с таким именем уже существует"},
                                           // Case folds for ASCII only, as in the engine.
                                           NameCase{"ёЛКА", nullptr}, NameCase{"sUm_", nullptr}));

TEST(FuncParamsTest, AddChecksNamesWithTheFunctionMessage) {
  TFuncParams params;
  params.Add(Param("Value"));
  const std::pair<const char*, const char*> refused[] = {
      {"", "Некоррктное имя функции"},
      {"a b", "Некоррктное имя функции"},
      {"VALUE", "Параметр с таким именем уже существует"}};
  for (const auto& [name, message] : refused) {
    try {
      params.Add(Param(name));
      ADD_FAILURE() << "accepted '" << name << "'";
    } catch (const VelkorError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  EXPECT_EQ(params.Count(), 1);
  EXPECT_EQ(params.IndexOf("value"), 0);
  EXPECT_EQ(params.IndexOf("x"), -1);
  params.Add(Param("Ёмкость"));
  EXPECT_EQ(params.IndexOf("Ёмкость"), 1);
  EXPECT_EQ(params.IndexOf("ёмкость"), -1);  // ASCII case only
}

TEST(FunctionsTest, ScriptLinesAreEachHeaderFollowedByItsText) {
  TFunctions functions;
  auto first = Function("One");
  first->Text = {"begin", "  Result := 1;", "end;"};
  functions.Add(std::move(first));
  functions.Add(Function("Two", VarType::Bool));
  EXPECT_EQ(functions.ScriptLines(),
            (std::vector<std::string>{"function One:Word; ", "begin", "  Result := 1;", "end;",
                                      "function Two:Boolean; ", "begin", "end;"}));
  EXPECT_EQ(functions.IndexOf("two"), 1);
}

}  // namespace
}  // namespace velkor
