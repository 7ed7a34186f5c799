#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>

#include "model/Variant.h"

namespace velkor {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Either a value (checked by its kind and text form) or the kind of error expected.
enum class Fails { No, Overflow, Conversion, Other };

struct Outcome {
  Outcome(VarType type, std::string text) : type(type), text(std::move(text)) {}
  Outcome(Fails fails) : fails(fails) {}  // implicit: a table row names just the error
  VarType type = VarType::Empty;
  std::string text;
  Fails fails = Fails::No;
};

std::ostream& operator<<(std::ostream& os, const Variant& v) {
  return os << VarTypeName(v.Type()) << "(" << v.ToString() << ")";
}

void ExpectOutcome(const std::function<Variant()>& compute, const Outcome& expected) {
  switch (expected.fails) {
    case Fails::No: {
      const Variant result = compute();
      EXPECT_EQ(VarTypeName(result.Type()), std::string(VarTypeName(expected.type)));
      EXPECT_EQ(result.ToString(), expected.text);
      break;
    }
    case Fails::Overflow:
      EXPECT_THROW(compute(), OverflowError);
      break;
    case Fails::Conversion:
      EXPECT_THROW(compute(), ConversionError);
      break;
    case Fails::Other:
      try {
        compute();
        ADD_FAILURE() << "no exception";
      } catch (const OverflowError&) {
        ADD_FAILURE() << "an overflow";
      } catch (const ConversionError&) {
        ADD_FAILURE() << "a conversion error";
      } catch (const VelkorError&) {
      }
      break;
  }
}

template <typename F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const VelkorError& e) {
    return e.what();
  }
  return "no exception";
}

Variant Word(uint16_t v) { return Variant::OfWord(v); }
Variant ShortInt(int16_t v) { return Variant::OfShortInt(v); }
Variant DWord(uint32_t v) { return Variant::OfDWord(v); }
Variant Int64(int64_t v) { return Variant::OfInt64(v); }
Variant Float(float v) { return Variant::OfFloat(v); }
Variant Date(double v) { return Variant::OfDateTime(v); }

// --- Kinds -----------------------------------------------------------------------------------

TEST(VariantKinds, TagTypeCodes) {
  for (int code = 0; code <= 300; ++code) {
    const bool expected = code == 2 || code == 3 || code == 4 || code == 5 || code == 7 ||
                          code == 11 || code == 18 || code == 19 || code == 20 || code == 256;
    EXPECT_EQ(IsTagType(uint16_t(code)), expected) << code;
  }
}

TEST(VariantKinds, NamesAndClasses) {
  struct Row {
    Variant value;
    const char* name;
    bool integral, real;
  };
  const Row rows[] = {
      {Variant(), "Empty", false, false},     {Variant::Null(), "Null", false, false},
      {ShortInt(1), "ShortInt", true, false}, {Variant(1), "Integer", true, false},
      {Float(1), "Float", false, true},       {Variant(1.0), "Double", false, true},
      {Date(1), "DateTime", false, false},    {Variant(true), "Bool", false, false},
      {Word(1), "Word", true, false},         {DWord(1), "DWord", true, false},
      {Int64(1), "Int64", true, false},       {Variant("1"), "String", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(VarTypeName(row.value.Type()), row.name);
    EXPECT_EQ(row.value.IsIntegral(), row.integral) << row.name;
    EXPECT_EQ(row.value.IsReal(), row.real) << row.name;
  }
  EXPECT_EQ(Float(0.1f).RawReal(), double(0.1f));
}

// --- Conversions -----------------------------------------------------------------------------

struct ConvertCase {
  Variant from;
  VarType to;
  Outcome expected;
};

void PrintTo(const ConvertCase& c, std::ostream* os) {
  *os << c.from << " -> " << VarTypeName(c.to);
}

class ConvertTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, Converts) {
  const ConvertCase& c = GetParam();
  Outcome expected = c.expected;
  if (expected.fails == Fails::No) expected.type = c.to;
  ExpectOutcome([&] { return c.from.ConvertTo(c.to); }, expected);
}

Outcome Is(std::string text) { return Outcome(VarType::Empty, std::move(text)); }
const Outcome kOverflow(Fails::Overflow);
const Outcome kConversion(Fails::Conversion);
using VT = VarType;

INSTANTIATE_TEST_SUITE_P(SameKind, ConvertTest,
                         testing::Values(ConvertCase{Variant(5), VT::Integer, Is("5")},
                                         ConvertCase{Word(7), VT::Word, Is("7")},
                                         ConvertCase{Variant("x"), VT::String, Is("x")},
                                         ConvertCase{Variant::Null(), VT::Null, Is("Null")},
                                         ConvertCase{Variant(), VT::Empty, Is("")}));

INSTANTIATE_TEST_SUITE_P(RoundHalfToEven, ConvertTest,
                         testing::Values(ConvertCase{Variant(0.5), VT::Integer, Is("0")},
                                         ConvertCase{Variant(1.5), VT::Integer, Is("2")},
                                         ConvertCase{Variant(2.5), VT::Integer, Is("2")},
                                         ConvertCase{Variant(3.5), VT::Integer, Is("4")},
                                         ConvertCase{Variant(-2.5), VT::Integer, Is("-2")},
                                         ConvertCase{Variant(-3.5), VT::Integer, Is("-4")},
                                         ConvertCase{Variant(2.4999999), VT::Integer, Is("2")},
                                         ConvertCase{Variant(2.5000001), VT::Integer, Is("3")},
                                         ConvertCase{Variant(-0.5), VT::Word, Is("0")},
                                         ConvertCase{Float(2.5f), VT::Word, Is("2")},
                                         ConvertCase{Date(2.5), VT::Int64, Is("2")},
                                         ConvertCase{Variant("2.5"), VT::ShortInt, Is("2")},
                                         ConvertCase{Variant("-3.5"), VT::Integer, Is("-4")}));

INSTANTIATE_TEST_SUITE_P(
    Ranges, ConvertTest,
    testing::Values(
        ConvertCase{Int64(-32768), VT::ShortInt, Is("-32768")},
        ConvertCase{Int64(32767), VT::ShortInt, Is("32767")},
        ConvertCase{Int64(-32769), VT::ShortInt, kOverflow},
        ConvertCase{Int64(32768), VT::ShortInt, kOverflow},
        ConvertCase{Int64(0), VT::Word, Is("0")}, ConvertCase{Int64(65535), VT::Word, Is("65535")},
        ConvertCase{Int64(-1), VT::Word, kOverflow}, ConvertCase{Int64(65536), VT::Word, kOverflow},
        ConvertCase{Int64(-2147483648), VT::Integer, Is("-2147483648")},
        ConvertCase{Int64(2147483647), VT::Integer, Is("2147483647")},
        ConvertCase{Int64(-2147483649), VT::Integer, kOverflow},
        ConvertCase{Int64(2147483648), VT::Integer, kOverflow},
        ConvertCase{Int64(0), VT::DWord, Is("0")},
        ConvertCase{Int64(4294967295), VT::DWord, Is("4294967295")},
        ConvertCase{Int64(-1), VT::DWord, kOverflow},
        ConvertCase{Int64(4294967296), VT::DWord, kOverflow},
        ConvertCase{Variant("-9223372036854775808"), VT::Int64, Is("-9223372036854775808")},
        ConvertCase{Variant("9223372036854775807"), VT::Int64, Is("9223372036854775807")},
        ConvertCase{Variant("-9223372036854775809"), VT::Int64, kOverflow},
        ConvertCase{Variant("9223372036854775808"), VT::Int64, kOverflow},
        // Reals: the rounded value is range checked, so .5 at a bound goes either way.
        ConvertCase{Variant(65535.4), VT::Word, Is("65535")},
        ConvertCase{Variant(65535.5), VT::Word, kOverflow},
        ConvertCase{Variant(-0.51), VT::Word, kOverflow},
        ConvertCase{Variant(2147483646.5), VT::Integer, Is("2147483646")},
        ConvertCase{Variant(2147483647.5), VT::Integer, kOverflow},
        ConvertCase{Variant(-2147483648.5), VT::Integer, Is("-2147483648")},
        ConvertCase{Variant(-2147483649.5), VT::Integer, kOverflow},
        ConvertCase{Variant(4294967295.4), VT::DWord, Is("4294967295")},
        ConvertCase{Variant(9223372036854774784.0), VT::Int64, Is("9223372036854774784")},
        ConvertCase{Variant(9223372036854775808.0), VT::Int64, kOverflow},
        ConvertCase{Variant(-9223372036854775808.0), VT::Int64, Is("-9223372036854775808")},
        ConvertCase{Variant(kNaN), VT::Integer, kOverflow},
        ConvertCase{Variant(kInf), VT::Int64, kOverflow},
        ConvertCase{Variant(-kInf), VT::ShortInt, kOverflow},
        // Float: only finite values beyond the single range overflow.
        ConvertCase{Variant(double(FLT_MAX)), VT::Float, Is("3.40282346638529E38")},
        ConvertCase{Variant(3.5e38), VT::Float, kOverflow},
        ConvertCase{Variant(-3.5e38), VT::Float, kOverflow},
        ConvertCase{Variant(kInf), VT::Float, Is("INF")},
        ConvertCase{Variant(0.1), VT::Float, Is("0.100000001490116")},
        ConvertCase{Variant(16777217), VT::Float, Is("16777216")}));

INSTANTIATE_TEST_SUITE_P(
    TextToNumber, ConvertTest,
    testing::Values(
        ConvertCase{Variant(" 42\t"), VT::Integer, Is("42")},
        ConvertCase{Variant("+7"), VT::ShortInt, Is("7")},
        ConvertCase{Variant("-7"), VT::Integer, Is("-7")},
        ConvertCase{Variant("007"), VT::Integer, Is("7")},
        ConvertCase{Variant("$FF"), VT::Word, Is("255")},
        ConvertCase{Variant("0xff"), VT::Word, Is("255")},
        ConvertCase{Variant("-$10"), VT::Integer, Is("-16")},
        ConvertCase{Variant("$FFFFFFFFFFFFFFFF"), VT::Int64, kOverflow},
        ConvertCase{Variant("1e3"), VT::Word, Is("1000")},
        ConvertCase{Variant("1.5E-7"), VT::Double, Is("1.5E-7")},
        ConvertCase{Variant(".5"), VT::Double, Is("0.5")},
        ConvertCase{Variant("5."), VT::Double, Is("5")},
        ConvertCase{Variant("70000"), VT::Word, kOverflow},
        ConvertCase{Variant("1e400"), VT::Double, Is("INF")},
        ConvertCase{Variant("-1e400"), VT::Double, Is("-INF")},
        ConvertCase{Variant("1e-400"), VT::Double, Is("0")},
        ConvertCase{Variant("1e400"), VT::Int64, kOverflow},
        // Out of double range without an exponent that says which way.
        ConvertCase{Variant("1" + std::string(400, '0')), VT::Double, Is("INF")},
        ConvertCase{Variant("0." + std::string(400, '0') + "1"), VT::Double, Is("0")},
        ConvertCase{Variant("1" + std::string(400, '0') + "e-800"), VT::Double, Is("0")},
        ConvertCase{Variant("0." + std::string(400, '0') + "1e800"), VT::Double, Is("INF")},
        ConvertCase{Variant("abc"), VT::Word, kConversion},
        ConvertCase{Variant(""), VT::Integer, kConversion},
        ConvertCase{Variant("  "), VT::Double, kConversion},
        ConvertCase{Variant("1,5"), VT::Double, kConversion},
        ConvertCase{Variant("1 000"), VT::Integer, kConversion},
        ConvertCase{Variant("1e"), VT::Double, kConversion},
        ConvertCase{Variant("."), VT::Double, kConversion},
        ConvertCase{Variant("inf"), VT::Double, kConversion},
        ConvertCase{Variant("nan"), VT::Double, kConversion},
        ConvertCase{Variant("0x"), VT::Integer, kConversion},
        ConvertCase{Variant("$FG"), VT::Integer, kConversion},
        ConvertCase{Variant("--1"), VT::Integer, kConversion},
        ConvertCase{Variant("+-1"), VT::Integer, kConversion},
        ConvertCase{Variant("- 1"), VT::Integer, kConversion}));

INSTANTIATE_TEST_SUITE_P(Bools, ConvertTest,
                         testing::Values(ConvertCase{Variant("true"), VT::Bool, Is("True")},
                                         ConvertCase{Variant(" FaLsE "), VT::Bool, Is("False")},
                                         ConvertCase{Variant("0"), VT::Bool, Is("False")},
                                         ConvertCase{Variant("0.25"), VT::Bool, Is("True")},
                                         ConvertCase{Variant("-1"), VT::Bool, Is("True")},
                                         ConvertCase{Variant("yes"), VT::Bool, kConversion},
                                         ConvertCase{Variant(""), VT::Bool, kConversion},
                                         ConvertCase{Variant(0), VT::Bool, Is("False")},
                                         ConvertCase{Word(5), VT::Bool, Is("True")},
                                         ConvertCase{Variant(0.1), VT::Bool, Is("True")},
                                         ConvertCase{Variant(-0.0), VT::Bool, Is("False")},
                                         ConvertCase{Variant(true), VT::Integer, Is("-1")},
                                         ConvertCase{Variant(true), VT::ShortInt, Is("-1")},
                                         ConvertCase{Variant(true), VT::Double, Is("-1")},
                                         ConvertCase{Variant(false), VT::Word, Is("0")},
                                         ConvertCase{Variant(true), VT::Word, kOverflow},
                                         ConvertCase{Variant(true), VT::DWord, kOverflow}));

INSTANTIATE_TEST_SUITE_P(
    DatesAndTexts, ConvertTest,
    testing::Values(ConvertCase{Variant("29.02.2020"), VT::DateTime, Is("29.02.2020")},
                    ConvertCase{Variant("1.2.2020 7:05"), VT::DateTime, Is("01.02.2020 7:05:00")},
                    ConvertCase{Variant("6:00"), VT::DateTime, Is("30.12.1899 6:00:00")},
                    ConvertCase{Variant("2"), VT::DateTime, Is("01.01.1900")},
                    ConvertCase{Variant("1.5"), VT::DateTime, Is("31.12.1899 12:00:00")},
                    ConvertCase{Variant("29.02.2019"), VT::DateTime, kConversion},
                    ConvertCase{Variant("soon"), VT::DateTime, kConversion},
                    ConvertCase{Variant(2), VT::DateTime, Is("01.01.1900")},
                    ConvertCase{Date(1.75), VT::Double, Is("1.75")},
                    ConvertCase{Date(1.75), VT::Word, Is("2")},
                    ConvertCase{Variant(-5), VT::String, Is("-5")},
                    ConvertCase{Float(0.1f), VT::String, Is("0.100000001490116")},
                    ConvertCase{Variant(1e20), VT::String, Is("1E20")},
                    ConvertCase{Variant(true), VT::String, Is("True")},
                    ConvertCase{Date(1.0), VT::String, Is("31.12.1899")},
                    ConvertCase{DWord(4294967295), VT::String, Is("4294967295")},
                    ConvertCase{Int64(kInt64Min), VT::String, Is("-9223372036854775808")}));

INSTANTIATE_TEST_SUITE_P(EmptyAndNull, ConvertTest,
                         testing::Values(ConvertCase{Variant(), VT::Integer, Is("0")},
                                         ConvertCase{Variant(), VT::Word, Is("0")},
                                         ConvertCase{Variant(), VT::Double, Is("0")},
                                         ConvertCase{Variant(), VT::Bool, Is("False")},
                                         ConvertCase{Variant(), VT::String, Is("")},
                                         ConvertCase{Variant(), VT::DateTime, Is("30.12.1899")},
                                         ConvertCase{Variant::Null(), VT::Word, kConversion},
                                         ConvertCase{Variant::Null(), VT::String, kConversion},
                                         ConvertCase{Variant::Null(), VT::Bool, kConversion},
                                         ConvertCase{Variant::Null(), VT::Empty, kConversion},
                                         ConvertCase{Variant(5), VT::Empty, kConversion},
                                         ConvertCase{Variant(5), VT::Null, kConversion},
                                         ConvertCase{Variant(5), VarType(6), kConversion}));

TEST(VariantConvert, AccessorsFollowTheSameRules) {
  EXPECT_EQ(Variant("2.5").ToInt32(), 2);
  EXPECT_EQ(Variant(-3.5).ToInt64(), -4);
  EXPECT_EQ(Variant("4294967295").ToUInt32(), 4294967295u);
  EXPECT_THROW(Variant(-1).ToUInt32(), OverflowError);
  EXPECT_THROW(Variant(kInt64Max).ToInt32(), OverflowError);
  EXPECT_THROW(Variant("1e19").ToInt64(), OverflowError);
  EXPECT_EQ(Date(36526.25).ToDouble(), 36526.25);
  EXPECT_EQ(Variant(true).ToDouble(), -1.0);
  EXPECT_TRUE(Variant("TRUE").ToBool());
  EXPECT_THROW(Variant::Null().ToDouble(), ConversionError);
}

TEST(VariantConvert, Messages) {
  EXPECT_EQ(MessageOf([] { Variant(70000).ConvertTo(VarType::Word); }),
            "Переполнение: значение 70000 вне диапазона типа Word");
  EXPECT_EQ(MessageOf([] { Variant(70000.5).ConvertTo(VarType::ShortInt); }),
            "Переполнение: значение 70000.5 вне диапазона типа ShortInt");
  EXPECT_EQ(MessageOf([] { Variant("abc").ConvertTo(VarType::Word); }),
            "Невозможно преобразовать 'abc' в тип Word");
  EXPECT_EQ(MessageOf([] { Variant::Null().ConvertTo(VarType::Word); }),
            "Невозможно преобразовать Null в тип Word");
  EXPECT_EQ(MessageOf([] { Variant(1) / Variant(0); }), "Деление на ноль");
}

TEST(VariantConvert, ParseNumberReportsIntegerOrReal) {
  struct Row {
    const char* text;
    bool isInteger;
    int64_t integer;
    double real;
  };
  const Row rows[] = {
      {"  -12 ", true, -12, -12.0},
      {"9223372036854775807", true, kInt64Max, 9223372036854775807.0},
      {"-9223372036854775808", true, kInt64Min, -9223372036854775808.0},
      {"9223372036854775808", false, 0, 9223372036854775808.0},
      {"$7FFFFFFFFFFFFFFF", true, kInt64Max, 9223372036854775807.0},
      {"-$8000000000000000", true, kInt64Min, -9223372036854775808.0},
      {"$8000000000000000", false, 0, 9223372036854775808.0},
      {"1e3", false, 0, 1000.0},
      {"-0.25", false, 0, -0.25},
  };
  for (const Row& row : rows) {
    int64_t integer = 0;
    double real = 0;
    bool isInteger = false;
    ASSERT_TRUE(ParseNumber(row.text, integer, real, isInteger)) << row.text;
    EXPECT_EQ(isInteger, row.isInteger) << row.text;
    if (row.isInteger) {
      EXPECT_EQ(integer, row.integer) << row.text;
    }
    EXPECT_EQ(real, row.real) << row.text;
  }
}

// A locale whose decimal separator is a comma must change nothing, in either direction.
TEST(VariantConvert, IgnoresTheCLocale) {
  struct Restore {
    ~Restore() { std::setlocale(LC_ALL, "C"); }
  } restore;
  bool commaLocale = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) && std::string(std::localeconv()->decimal_point) == ",") {
      commaLocale = true;
      break;
    }
  }
  if (!commaLocale) GTEST_SKIP() << "no locale with a decimal comma is installed";
  EXPECT_EQ(Variant("2.25").ToDouble(), 2.25);
  EXPECT_EQ(Variant(" 1.5e3 ").ToDouble(), 1500.0);
  EXPECT_THROW(Variant("2,25").ToDouble(), ConversionError);
  EXPECT_EQ(FormatReal(2.25), "2.25");
  EXPECT_EQ(FormatReal(1.5e-7), "1.5E-7");
  EXPECT_EQ(Variant(0.5).ToString(), "0.5");
}

// --- Text forms ------------------------------------------------------------------------------

struct RealCase {
  double value;
  int digits;
  const char* text;
};

void PrintTo(const RealCase& c, std::ostream* os) {
  *os << c.text << " (" << c.digits << " digits)";
}

class FormatRealTest : public testing::TestWithParam<RealCase> {};

TEST_P(FormatRealTest, Formats) {
  EXPECT_EQ(FormatReal(GetParam().value, GetParam().digits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatRealTest,
    testing::Values(RealCase{0.1, 15, "0.1"}, RealCase{double(0.1f), 15, "0.100000001490116"},
                    RealCase{double(0.1f), 8, "0.1"}, RealCase{1e20, 15, "1E20"},
                    RealCase{1.5e-7, 15, "1.5E-7"}, RealCase{-2.5e-6, 15, "-2.5E-6"},
                    RealCase{0.00001, 15, "0.00001"}, RealCase{0.000001, 15, "1E-6"},
                    RealCase{std::nextafter(0.00001, 0.0), 15, "0.00001"},
                    RealCase{123456789012345678.0, 15, "1.23456789012346E17"},
                    RealCase{999999999999999.0, 15, "999999999999999"},
                    RealCase{999999999999999.9, 15, "1E15"}, RealCase{1e15, 15, "1E15"},
                    RealCase{0.0, 15, "0"}, RealCase{-0.0, 15, "0"}, RealCase{0.5, 15, "0.5"},
                    RealCase{100.0, 15, "100"}, RealCase{-1.5, 15, "-1.5"},
                    RealCase{1234567.125, 15, "1234567.125"},
                    RealCase{2.0 / 3.0, 15, "0.666666666666667"}, RealCase{1.0 / 3.0, 4, "0.3333"},
                    RealCase{123456.0, 3, "1.23E5"}, RealCase{DBL_MAX, 15, "1.79769313486232E308"},
                    RealCase{5e-324, 15, "4.94065645841247E-324"}, RealCase{kNaN, 15, "NAN"},
                    RealCase{kInf, 15, "INF"}, RealCase{-kInf, 15, "-INF"}));

struct DateTextCase {
  double ole;
  bool alwaysTime;
  const char* text;
};

void PrintTo(const DateTextCase& c, std::ostream* os) { *os << c.text; }

class FormatDateTimeTest : public testing::TestWithParam<DateTextCase> {};

TEST_P(FormatDateTimeTest, Formats) {
  EXPECT_EQ(FormatDateTime(GetParam().ole, GetParam().alwaysTime), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatDateTimeTest,
    testing::Values(
        DateTextCase{0.0, false, "30.12.1899"}, DateTextCase{0.0, true, "30.12.1899 0:00:00"},
        DateTextCase{1.0, false, "31.12.1899"}, DateTextCase{0.25, false, "30.12.1899 6:00:00"},
        DateTextCase{-1.25, false, "29.12.1899 6:00:00"},
        DateTextCase{-0.5, false, "30.12.1899 12:00:00"},
        DateTextCase{EncodeOleDate(2020, 2, 29), false, "29.02.2020"},
        DateTextCase{EncodeOleDate(2000, 1, 1, 23, 59, 59), false, "01.01.2000 23:59:59"},
        DateTextCase{EncodeOleDate(2000, 1, 1, 0, 0, 0, 500), false, "01.01.2000 0:00:00"},
        // A tenth of a millisecond before midnight rounds into the next day.
        DateTextCase{2.0 - 0.1 / 86400000, false, "01.01.1900"},
        DateTextCase{-1.9999999999, false, "30.12.1899"},
        DateTextCase{EncodeOleDate(1, 1, 1), false, "01.01.0001"},
        DateTextCase{EncodeOleDate(9999, 12, 31, 23, 59, 59), false, "31.12.9999 23:59:59"},
        DateTextCase{1e10, false, "10000000000"}, DateTextCase{kNaN, false, "NAN"}));

TEST(VariantDates, EncodeAndDecode) {
  EXPECT_EQ(EncodeOleDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeOleDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeOleDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeOleDate(2000, 3, 1), 36586.0);
  EXPECT_EQ(EncodeOleDate(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(EncodeOleDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeOleDate(9999, 12, 31), 2958465.0);

  const CivilTime t = DecodeOleDate(EncodeOleDate(2024, 2, 29, 13, 7, 9, 345) + 0.4 / 86400000);
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}),
            (std::array{2024, 2, 29, 13, 7, 9, 345}));
  const CivilTime before = DecodeOleDate(-1.25);
  EXPECT_EQ((std::array{before.year, before.month, before.day, before.hour}),
            (std::array{1899, 12, 29, 6}));
  EXPECT_THROW(DecodeOleDate(kNaN), ConversionError);
  EXPECT_THROW(DecodeOleDate(1e10), ConversionError);
}

struct ParseDateCase {
  const char* text;
  bool valid;
  double ole;
};

void PrintTo(const ParseDateCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class ParseDateTimeTest : public testing::TestWithParam<ParseDateCase> {};

TEST_P(ParseDateTimeTest, Parses) {
  double ole = -12345;
  ASSERT_EQ(ParseDateTime(GetParam().text, ole), GetParam().valid);
  if (GetParam().valid) {
    EXPECT_EQ(ole, GetParam().ole);
  }
}

ParseDateCase Good(const char* text, double ole) { return {text, true, ole}; }
ParseDateCase Bad(const char* text) { return {text, false, 0}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDateTimeTest,
    testing::Values(Good("29.02.2020", EncodeOleDate(2020, 2, 29)),
                    Good("29.02.2000", EncodeOleDate(2000, 2, 29)),
                    Good("1.2.2020", EncodeOleDate(2020, 2, 1)), Good(" 31.12.1899 ", 1.0),
                    Good("01.01.0001", -693593.0),
                    Good("01.02.2020 7:05", EncodeOleDate(2020, 2, 1, 7, 5)),
                    Good("01.02.2020  17:05:09", EncodeOleDate(2020, 2, 1, 17, 5, 9)),
                    Good("01.02.2020 17:05:09.250", EncodeOleDate(2020, 2, 1, 17, 5, 9, 250)),
                    Good("29.12.1899 6:00", -1.25), Good("6:00", 0.25),
                    Good("23:59:59.999", EncodeOleDate(1899, 12, 30, 23, 59, 59, 999)),
                    Bad("29.02.2019"), Bad("29.02.1900"), Bad("31.04.2020"), Bad("32.01.2020"),
                    Bad("00.01.2020"), Bad("01.13.2020"), Bad("01.00.2020"), Bad("01.01.0000"),
                    Bad("1.1.20"), Bad("1.1.20201"), Bad("001.01.2020"), Bad("24:00"), Bad("12:60"),
                    Bad("12:00:60"), Bad("12:00:00.5"), Bad("12"), Bad("01.01.2020 10"),
                    Bad("01.01.2020T10:00"), Bad("01.01.2020 10:00 x"), Bad("1.5"), Bad(""),
                    Bad("abc")));

TEST(VariantDates, TextRoundTrip) {
  for (const double ole : {EncodeOleDate(2024, 2, 29), EncodeOleDate(1987, 6, 5, 4, 3, 2),
                           EncodeOleDate(1899, 12, 29, 6), EncodeOleDate(1, 1, 1, 12),
                           EncodeOleDate(9999, 12, 31, 23, 59, 59)}) {
    double back = 0;
    ASSERT_TRUE(ParseDateTime(FormatDateTime(ole, true), back)) << ole;
    EXPECT_EQ(back, ole);
    EXPECT_TRUE(
        Date(ole).ConvertTo(VarType::String).ConvertTo(VarType::DateTime).SameAs(Date(ole)));
  }
}

// --- Arithmetic ------------------------------------------------------------------------------

struct ArithCase {
  Variant a;
  char op;
  Variant b;
  Outcome expected;
};

void PrintTo(const ArithCase& c, std::ostream* os) { *os << c.a << " " << c.op << " " << c.b; }

Variant Apply(const Variant& a, char op, const Variant& b) {
  switch (op) {
    case '+':
      return a + b;
    case '-':
      return a - b;
    case '*':
      return a * b;
    default:
      return a / b;
  }
}

class ArithmeticTest : public testing::TestWithParam<ArithCase> {};

TEST_P(ArithmeticTest, Computes) {
  const ArithCase& c = GetParam();
  ExpectOutcome([&] { return Apply(c.a, c.op, c.b); }, c.expected);
}

const Outcome kDivisionByZero(Fails::Other);
Outcome Int(std::string text) { return Outcome(VarType::Integer, std::move(text)); }
Outcome I64(std::string text) { return Outcome(VarType::Int64, std::move(text)); }
Outcome Dbl(std::string text) { return Outcome(VarType::Double, std::move(text)); }
Outcome Dt(std::string text) { return Outcome(VarType::DateTime, std::move(text)); }
Outcome Str(std::string text) { return Outcome(VarType::String, std::move(text)); }
const Outcome kNull(VarType::Null, "Null");

INSTANTIATE_TEST_SUITE_P(
    Integers, ArithmeticTest,
    testing::Values(ArithCase{Variant(2), '+', Variant(3), Int("5")},
                    ArithCase{Variant(2147483647), '+', Variant(1), Dbl("2147483648")},
                    ArithCase{Variant(-2147483647 - 1), '-', Variant(1), Dbl("-2147483649")},
                    ArithCase{Variant(65536), '*', Variant(65536), Dbl("4294967296")},
                    ArithCase{ShortInt(32767), '+', ShortInt(1), Int("32768")},
                    ArithCase{Word(65535), '+', Variant(1), I64("65536")},
                    ArithCase{Word(0), '-', Word(1), I64("-1")},
                    ArithCase{Int64(3), '*', ShortInt(-4), I64("-12")},
                    ArithCase{DWord(4294967295), '*', DWord(4294967295),
                              Dbl("1.84467440651196E19")},
                    ArithCase{Int64(kInt64Max), '+', Variant(1), Dbl("9.22337203685478E18")},
                    ArithCase{Int64(kInt64Min), '-', Variant(1), Dbl("-9.22337203685478E18")},
                    ArithCase{Variant(7), '/', Variant(2), Dbl("3.5")},
                    ArithCase{Variant(6), '/', Variant(3), Dbl("2")},
                    ArithCase{Variant(true), '+', Variant(1), Int("0")},
                    ArithCase{Variant(true), '+', Word(1), I64("0")},
                    ArithCase{Variant(true), '+', Variant(true), Dbl("-2")},
                    ArithCase{Variant(true), '*', Variant(false), Dbl("0")},
                    ArithCase{Variant(), '+', Variant(5), Int("5")},
                    ArithCase{Variant(), '+', Variant(), Int("0")}));

INSTANTIATE_TEST_SUITE_P(
    RealsDatesTexts, ArithmeticTest,
    testing::Values(ArithCase{Variant(1.5), '+', Variant(1), Dbl("2.5")},
                    ArithCase{Float(0.5f), '*', Variant(3), Dbl("1.5")},
                    ArithCase{Int64(1), '-', Variant(0.25), Dbl("0.75")},
                    ArithCase{Date(1.0), '+', Variant(1), Dt("01.01.1900")},
                    ArithCase{Variant(1), '+', Date(1.0), Dt("01.01.1900")},
                    ArithCase{Date(2.0), '-', Variant(0.25), Dt("31.12.1899 18:00:00")},
                    ArithCase{Date(3.5), '-', Date(1.0), Dbl("2.5")},
                    ArithCase{Date(3.0), '/', Variant(2), Dbl("1.5")},
                    ArithCase{Variant("2"), '+', Date(1.0), Dt("02.01.1900")},
                    ArithCase{Variant("ab"), '+', Variant("cd"), Str("abcd")},
                    ArithCase{Variant("5"), '-', Variant("2"), Dbl("3")},
                    ArithCase{Variant("6"), '*', Variant("2"), Dbl("12")},
                    ArithCase{Variant("5"), '+', Variant(2), Int("7")},
                    ArithCase{Variant(2), '-', Variant(" 5.5 "), Dbl("-3.5")},
                    ArithCase{Variant("3000000000"), '+', Variant(1), I64("3000000001")},
                    ArithCase{Variant::Null(), '+', Variant(1), kNull},
                    ArithCase{Variant("ab"), '+', Variant::Null(), kNull},
                    ArithCase{Variant::Null(), '/', Variant(0), kNull}));

INSTANTIATE_TEST_SUITE_P(
    Errors, ArithmeticTest,
    testing::Values(ArithCase{Variant(1), '/', Variant(0), kDivisionByZero},
                    ArithCase{Variant(1.0), '/', Variant(-0.0), kDivisionByZero},
                    ArithCase{Variant("1"), '/', Variant("0"), kDivisionByZero},
                    ArithCase{Variant(1), '/', Variant(false), kDivisionByZero},
                    ArithCase{Date(5.0), '/', Variant(), kDivisionByZero},
                    ArithCase{Variant("ab"), '+', Variant(1), kConversion},
                    ArithCase{Variant("ab"), '-', Variant("cd"), kConversion},
                    ArithCase{Date(1.0), '+', Variant("x"), kConversion}));

struct NegateCase {
  Variant value;
  Outcome expected;
};

void PrintTo(const NegateCase& c, std::ostream* os) { *os << "-" << c.value; }

class NegateTest : public testing::TestWithParam<NegateCase> {};

TEST_P(NegateTest, Negates) {
  ExpectOutcome([&] { return -GetParam().value; }, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NegateTest,
    testing::Values(NegateCase{Variant(5), Int("-5")},
                    NegateCase{Variant(-2147483647 - 1), Dbl("2147483648")},
                    NegateCase{ShortInt(-32768), Int("32768")}, NegateCase{Word(5), I64("-5")},
                    NegateCase{Int64(kInt64Min), Dbl("9.22337203685478E18")},
                    NegateCase{Float(1.5f), Dbl("-1.5")}, NegateCase{Date(1.0), Dt("29.12.1899")},
                    NegateCase{Variant("5"), Int("-5")}, NegateCase{Variant("2.5"), Dbl("-2.5")},
                    NegateCase{Variant(true), Int("1")}, NegateCase{Variant::Null(), kNull},
                    NegateCase{Variant("x"), kConversion}));

TEST(VariantArithmetic, NegatedZeroKeepsItsSign) {
  EXPECT_TRUE(std::signbit((-Variant(0.0)).RawReal()));
}

// --- Comparison and sameness -----------------------------------------------------------------

struct CompareCase {
  Variant a, b;
  int expected;
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.a << " vs " << c.b; }

class CompareTest : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareTest, Compares) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(Variant::Compare(c.a, c.b), c.expected);
  EXPECT_EQ(Variant::Compare(c.b, c.a), -c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareTest,
    testing::Values(
        CompareCase{Variant(1), Variant(2), -1}, CompareCase{Variant(2.0), Variant(2), 0},
        CompareCase{Variant(2.5), Word(2), 1}, CompareCase{Word(65535), Variant(-1), 1},
        // Doubles would call these equal.
        CompareCase{Int64(kInt64Max), Int64(kInt64Max - 1), 1},
        CompareCase{Variant("abc"), Variant("abd"), -1},
        CompareCase{Variant("b"), Variant("abc"), 1}, CompareCase{Variant("10"), Variant("9"), -1},
        CompareCase{Variant("10"), Variant(9), 1}, CompareCase{Variant(" 2.5"), Variant(2.5), 0},
        CompareCase{Variant("\xC0"), Variant("a"), 1}, CompareCase{Date(1.5), Variant(1.5), 0},
        CompareCase{Variant(true), Variant(false), -1}, CompareCase{Variant(), Variant(0), 0}));

TEST(VariantCompare, OperatorsAndErrors) {
  EXPECT_TRUE(Variant(1) < Variant(1.5));
  EXPECT_TRUE(Variant(2) > Variant("1"));
  EXPECT_TRUE(Variant(2) <= Word(2));
  EXPECT_TRUE(Variant("b") >= Variant("a"));
  EXPECT_THROW(Variant::Compare(Variant::Null(), Variant(1)), ConversionError);
  EXPECT_THROW(Variant::Compare(Variant::Null(), Variant::Null()), ConversionError);
  EXPECT_THROW(Variant::Compare(Variant("abc"), Variant(1)), ConversionError);
}

TEST(VariantSameAs, SameKindAndPayload) {
  EXPECT_TRUE(Variant(1).SameAs(Variant(1)));
  EXPECT_FALSE(Variant(1).SameAs(Int64(1)));
  EXPECT_FALSE(Variant(1.0).SameAs(Float(1.0f)));
  EXPECT_TRUE(Variant(kNaN).SameAs(Variant(kNaN)));
  EXPECT_FALSE(Variant(0.0).SameAs(Variant(-0.0)));
  EXPECT_TRUE(Variant("a").SameAs(Variant(std::string("a"))));
  EXPECT_FALSE(Variant("a").SameAs(Variant("b")));
  EXPECT_TRUE(Variant(true).SameAs(Variant(true)));
  EXPECT_FALSE(Variant(true).SameAs(Variant(false)));
  EXPECT_TRUE(Variant().SameAs(Variant()));
  EXPECT_TRUE(Variant::Null().SameAs(Variant::Null()));
  EXPECT_FALSE(Variant().SameAs(Variant::Null()));
}

}  // namespace
}  // namespace velkor
