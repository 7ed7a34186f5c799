#include <gtest/gtest.h>

#include "ModelFixture.h"
#include "model/ModbusRegister.h"

namespace velkor {
namespace {

using Bytes = std::vector<uint8_t>;

class Tag : public ModelTest {};

TEST_F(Tag, NewTagDefaults) {
  TModbusRegister tag;
  EXPECT_EQ(tag.vType(), 18);
  EXPECT_EQ(tag.Addr, 0);
  EXPECT_EQ(tag.mSpace, kHoldingRegs);
  EXPECT_EQ(tag.DataFormat, 2);
  EXPECT_TRUE(tag.GetValue().SameAs(Variant::OfWord(0)));
  EXPECT_EQ(tag.WorkType, kWorkManual);
  EXPECT_EQ(tag.Period, 100);
  EXPECT_EQ(tag.IncDec.ToInt64(), 1);
  EXPECT_EQ(tag.Script().ExecuteText,
            (std::vector<std::string>{"//Скрипт на исполнение", "begin", "end;"}));
  EXPECT_EQ(tag.RegisterCount(), 1u);
}

// What SetValue must leave in the registers, per type and byte order.
struct SetCase {
  const char* name;
  uint16_t type;
  uint8_t format;
  uint32_t regsCount;  // String only
  Variant input;
  const char* valueText;           // the value afterwards
  Bytes regs;                      // at address 5
  const char* readBack = nullptr;  // the value the registers give back, if not valueText
};

class SetValueCase : public ModelTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetValueCase, StoresConvertedValueAndRegisterBytes) {
  const SetCase& c = GetParam();
  TModbusRegister* tag = AddTag("T", c.type, 5);
  tag->DataFormat = c.format;
  tag->SetRegsCount(c.regsCount);
  tag->SetValue(c.input);
  EXPECT_EQ(tag->ValueText(), c.valueText);
  EXPECT_EQ(uint16_t(tag->GetValue().Type()), c.type);
  EXPECT_EQ(Regs(5, uint16_t(c.regs.size() / 2)), c.regs);
  // Reading the registers back gives the same value.
  EXPECT_EQ(tag->ReadTagFromSpace().ConvertTo(VarType(c.type)).ToString(),
            c.readBack ? c.readBack : tag->GetValue().ToString());
}

INSTANTIATE_TEST_SUITE_P(
    Types, SetValueCase,
    ::testing::Values(
        SetCase{"WordHalfDown", 18, 2, 0, 2.5, "2", {0x00, 0x02}},
        SetCase{"WordHalfUp", 18, 2, 0, 3.5, "4", {0x00, 0x04}},
        SetCase{"WordLowFirst", 18, 1, 0, 258, "258", {0x02, 0x01}},
        SetCase{"WordFromText", 18, 2, 0, "65535", "65535", {0xFF, 0xFF}},
        SetCase{"ShortIntNegative", 2, 2, 0, -2, "-2", {0xFF, 0xFE}},
        SetCase{"IntegerMinusOne", 3, 6, 0, -1, "-1", {0xFF, 0xFF, 0xFF, 0xFF}},
        SetCase{"DWordMax", 19, 4, 0, int64_t(4294967295), "4294967295", {0xFF, 0xFF, 0xFF, 0xFF}},
        SetCase{"DWordLowWordFirst",
                19,
                4,
                0,
                int64_t(0x11223344),
                "287454020",
                {0x33, 0x44, 0x11, 0x22}},
        SetCase{"FloatLowWordFirst", 4, 4, 0, 1.0, "1", {0x00, 0x00, 0x3F, 0x80}},
        SetCase{"FloatHighFirst", 4, 6, 0, 1.0, "1", {0x3F, 0x80, 0x00, 0x00}},
        SetCase{"FloatTenth", 4, 6, 0, 0.1, "0.1", {0x3D, 0xCC, 0xCC, 0xCD}},
        SetCase{
            "DoubleTenth", 5, 14, 0, 0.1, "0.1", {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}},
        SetCase{"DateTimeDayOne",
                7,
                14,
                0,
                Variant::OfDateTime(1.0),
                "31.12.1899",
                {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
        SetCase{"Int64Min",
                20,
                14,
                0,
                int64_t(INT64_MIN),
                "-9223372036854775808",
                {0x80, 0, 0, 0, 0, 0, 0, 0}},
        SetCase{"StringSwapped", 256, 2, 2, "ABC", "ABC", {'B', 'A', 0, 'C'}},
        SetCase{"StringCut", 256, 1, 2, "ABCDEF", "ABCDEF", {'A', 'B', 'C', 'D'}, "ABCD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Tag, StringLongerThanItsRegistersIsCutOnReadBack) {
  TModbusRegister* tag = AddTag("S", 256, 0);
  tag->SetRegsCount(2);
  tag->SetValue("ABCDEF");
  tag->SetValue(tag->ReadTagFromSpace());
  EXPECT_EQ(tag->ValueText(), "ABCD");
}

TEST_F(Tag, FailedConversionKeepsValueAndRegisters) {
  TModbusRegister* tag = AddTag("W", 18, 3);
  tag->SetValue(1234);
  EXPECT_THROW(tag->SetValue(70000), OverflowError);
  EXPECT_THROW(tag->SetValue(-1), OverflowError);
  EXPECT_THROW(tag->SetValue("12a"), ConversionError);
  EXPECT_EQ(tag->ValueText(), "1234");
  EXPECT_EQ(Regs(3, 1), (Bytes{0x04, 0xD2}));
}

TEST_F(Tag, ReadBackOfTheSameBytesDependsOnSignedness) {
  TModbusRegister* s = AddTag("S", 2, 5);
  TModbusRegister* w = AddTag("W", 18, 5);
  s->SetValue(-2);
  EXPECT_EQ(w->ReadTagFromSpace().ToString(), "65534");
  EXPECT_EQ(s->ReadTagFromSpace().ToString(), "-2");
}

TEST_F(Tag, SetTypeConvertsParametersOrChangesNothing) {
  TModbusRegister* tag = AddTag("T", 5);
  tag->Min = 1.5;
  tag->Max = 100000;
  tag->SetType(3);  // Integer: 1.5 rounds to 2
  EXPECT_EQ(tag->Min.Type(), VarType::Integer);
  EXPECT_EQ(tag->Min.ToInt64(), 2);
  EXPECT_THROW(tag->SetType(18), OverflowError);  // Max does not fit a Word
  EXPECT_EQ(tag->vType(), 3);
  EXPECT_EQ(tag->Max.ToInt64(), 100000);
  EXPECT_THROW(tag->SetType(6), VelkorError);  // no such type
  tag->SetType(11);                            // Bool leaves the parameters alone
  EXPECT_EQ(tag->Max.Type(), VarType::Integer);
}

TEST_F(Tag, BoolInRegisterAddressesRegisterAndBit) {
  TModbusRegister* tag = AddTag("Reg", 11);
  tag->ParseAddress("10.3");
  tag->SetValue(true);
  EXPECT_EQ(Regs(10, 1), (Bytes{0x00, 0x08}));
  EXPECT_EQ(tag->AddressText(), "10.3");
  EXPECT_EQ(tag->Caption(), "Reg (10.3) - Bool");
  EXPECT_THROW(tag->ParseAddress("10"), VelkorError);
  EXPECT_EQ(tag->AddressText(), "10.3");
  tag->ParseAddress("10.20");
  EXPECT_EQ(tag->BitAddr, 15);
  EXPECT_THROW(tag->ParseAddress("x.1"), ConversionError);
  EXPECT_THROW(tag->ParseAddress("70000.1"), OverflowError);
}

TEST_F(Tag, BoolInCoilsIgnoresBitNumber) {
  TModbusRegister* tag = AddTag("C", 11);
  tag->mSpace = kCoils;
  tag->ParseAddress("7");
  tag->BitAddr = 5;
  tag->SetValue("TRUE");
  EXPECT_TRUE(device->Space().ReadBit(7, 0, kCoils));
  EXPECT_EQ(tag->AddressText(), "7");
  EXPECT_EQ(tag->ValueText(), "True");
}

TEST_F(Tag, NumberInABitSpaceStoresNothingAndReadsZero) {
  TModbusRegister* tag = AddTag("N", 18);
  tag->mSpace = kCoils;
  tag->SetValue(5);
  EXPECT_FALSE(device->Space().ReadBit(0, 0, kCoils));
  EXPECT_EQ(tag->ReadTagFromSpace().ToInt64(), 0);
}

TEST_F(Tag, MergedInputRegistersSeeHoldingWrites) {
  device->Space().RegsMerge = true;
  TModbusRegister* tag = AddTag("I", 18, 10);
  tag->mSpace = kInputRegs;
  device->Space().WriteWord(10, kHoldingRegs, 2, 77);
  EXPECT_EQ(tag->ReadTagFromSpace().ToInt64(), 77);
}

TEST_F(Tag, DisplayValue) {
  TModbusRegister* w = AddTag("W", 18, 0);
  w->SetValue(258);
  w->DisplayMode = kDisplayHex;
  EXPECT_EQ(w->DisplayValue(), "01 02 (258)");
  TModbusRegister* d = AddTag("D", 5, 10);
  d->SetValue(0.1);
  EXPECT_EQ(d->DisplayValue(), "0.1");
  TModbusRegister* f = AddTag("F", 4, 20);
  f->SetValue(0.1);
  EXPECT_EQ(f->DisplayValue(), "0.1");
  EXPECT_EQ(f->GetValue().ToString(), "0.100000001490116");
  f->WorkType = kWorkOPC;
  f->OPCQuality = 0xC0;
  EXPECT_EQ(f->DisplayValue(), "0.1 (Good)");
}

TEST_F(Tag, TypeTexts) {
  struct {
    uint16_t type;
    const char* name;
    const char* script;
    uint32_t regs;
  } rows[] = {{18, "Word", "Word", 1},       {4, "Float", "Single", 2},
              {2, "ShortInt", "Integer", 1}, {3, "Integer", "Integer", 2},
              {19, "DWord", "Cardinal", 2},  {20, "Int64", "Longint", 4},
              {11, "Bool", "Boolean", 0},    {7, "DateTime", "TDateTime", 4},
              {5, "Double", "Double", 4},    {256, "String (5)", "String", 5}};
  for (const auto& r : rows) {
    TModbusRegister tag;
    tag.SetType(r.type);
    tag.SetRegsCount(5);
    EXPECT_EQ(tag.TypeName(), r.name);
    EXPECT_STREQ(tag.ScriptTypeName(), r.script);
    EXPECT_EQ(tag.RegisterCount(), r.regs) << r.name;
  }
}

TEST_F(Tag, StringRegisterCountIsBoundedToTheStore) {
  TModbusRegister* tag = AddTag("S", 256, 65535);
  tag->SetRegsCount(1000000);
  EXPECT_EQ(tag->RegsCount(), TModbusRegister::kMaxStringRegs);
  tag->SetValue(std::string(200000, 'z'));  // stays inside the reserve (ASan watches)
  EXPECT_EQ(tag->ReadTagFromSpace().RawText().size(), 2u * 65535);
}

TEST_F(Tag, ErrorIsReportedOnceUntilReset) {
  TModbusRegister* tag = AddTag("E");
  EXPECT_FALSE(tag->TakeError());
  tag->SetError("Переполнение");
  EXPECT_TRUE(tag->TakeError());
  EXPECT_FALSE(tag->TakeError());
  tag->SetError("again");
  EXPECT_FALSE(tag->TakeError());
  tag->ResetError();
  EXPECT_EQ(tag->ErrorText(), "");
  tag->SetError("third");
  EXPECT_TRUE(tag->TakeError());
}

TEST_F(Tag, CloneCopiesSettingsAndBindingsButNotValue) {
  TModbusRegister* used = AddTag("Used");
  TModbusRegister* src = AddTag("Src", 5, 40);
  src->WorkType = kWorkScript;
  src->IncDec = 2.5;
  src->Sin.Period = 1000;
  src->Pila.pType = kSawRampDown;
  src->ConstGroupName = "Consts";
  src->SetValue(7.5);
  src->DefValue = 3;
  src->Script().ExecuteText = {"begin", "  t := 1;", "end;"};
  src->Script().BindVariable(used, "t");

  TModbusRegister* copy = device->AddTag(src->Clone(device, nullptr));
  EXPECT_EQ(copy->Name(), "Src_1");
  EXPECT_EQ(copy->Addr, 40);
  EXPECT_EQ(copy->vType(), 5);
  EXPECT_EQ(copy->ValueText(), "0");
  EXPECT_EQ(copy->DefValue.ToInt64(), 0);
  EXPECT_EQ(copy->ConstGroupName, "");
  EXPECT_EQ(copy->IncDec.ToDouble(), 2.5);
  EXPECT_EQ(copy->Sin.Period, 1000u);
  EXPECT_EQ(copy->Pila.pType, kSawRampDown);
  EXPECT_EQ(copy->Script().ExecuteText, src->Script().ExecuteText);
  EXPECT_EQ(copy->Script().VariableNames(), std::vector<std::string>{"t"});
  EXPECT_TRUE(used->ScriptUsers().Contains(src));
  EXPECT_TRUE(used->ScriptUsers().Contains(copy));
  src->Script().ClearVariables();
  copy->Script().ClearVariables();
  EXPECT_EQ(used->ScriptUsers().Count(), 0);
}

}  // namespace
}  // namespace velkor
