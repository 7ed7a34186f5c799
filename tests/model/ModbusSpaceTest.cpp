#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "model/ModbusSpace.h"

namespace velkor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadRegs(const TModbusSpace& s, uint16_t start, uint16_t count, uint8_t space = 0) {
  Bytes out(size_t(count) * 2, 0xAA);
  s.ReadBlock(start, count, space, out.data());
  return out;
}

TEST(ModbusSpace, NewSpaceReadsZeroEverywhere) {
  TModbusSpace s;
  EXPECT_EQ(ReadRegs(s, 0, 125), Bytes(250, 0));
  EXPECT_EQ(ReadRegs(s, 65500, 125, 1), Bytes(250, 0));
  Bytes bits(250, 0xFF);
  s.ReadBlock(0, 2000, kCoils, bits.data());
  EXPECT_EQ(bits, Bytes(250, 0));
  EXPECT_FALSE(s.ReadBit(65535, 0, kDiscreteInputs));
}

TEST(ModbusSpace, RegsMergeMapsInputOntoHoldingAndKeepsTheSeparateTable) {
  TModbusSpace s;
  s.WriteWord(10, kInputRegs, 2, 0x1111);  // separate input table
  s.RegsMerge = true;
  s.WriteWord(10, kHoldingRegs, 2, 0x2222);
  EXPECT_EQ(s.ReadWord(10, kInputRegs, 2), 0x2222);
  EXPECT_EQ(ReadRegs(s, 10, 1, kInputRegs), (Bytes{0x22, 0x22}));
  s.RegsMerge = false;
  EXPECT_EQ(s.ReadWord(10, kInputRegs, 2), 0x1111);
}

TEST(ModbusSpace, BitsMergeMapsDiscreteInputsOntoCoils) {
  TModbusSpace s;
  s.BitsMerge = true;
  s.WriteBit(5, 0, kCoils, true);
  EXPECT_TRUE(s.ReadBit(5, 0, kDiscreteInputs));
  uint8_t byte = 0;
  s.ReadBlock(0, 8, kDiscreteInputs, &byte);
  EXPECT_EQ(byte, 0x20);
  s.BitsMerge = false;
  EXPECT_FALSE(s.ReadBit(5, 0, kDiscreteInputs));
}

TEST(ModbusSpace, BlocksAtTheTopRunIntoTheReserve) {
  TModbusSpace s;
  s.WriteWord(65535, kHoldingRegs, 2, 0x1234);
  EXPECT_EQ(ReadRegs(s, 65535, 2), (Bytes{0x12, 0x34, 0, 0}));
  const Bytes two{1, 2, 3, 4};
  s.WriteBlock(65535, 2, kHoldingRegs, two.data());
  EXPECT_EQ(ReadRegs(s, 65535, 2), two);
  s.Clear();
  EXPECT_EQ(ReadRegs(s, 65535, 2), Bytes(4, 0));
}

TEST(ModbusSpace, BitBlockPastTheTableReadsZeroAndKeepsCallerBitsBeyondCount) {
  TModbusSpace s;
  for (uint32_t i = 65530; i <= 65535; ++i) s.WriteBit(uint16_t(i), 0, kCoils, true);
  uint8_t out[2] = {0, 0};
  s.ReadBlock(65530, 16, kCoils, out);
  EXPECT_EQ(out[0], 0x3F);
  EXPECT_EQ(out[1], 0x00);
  uint8_t partial = 0xF0;  // bits 4..7 are beyond a count of 3 and stay as given
  s.ReadBlock(65530, 3, kCoils, &partial);
  EXPECT_EQ(partial, 0xF7);
  const uint8_t src[2] = {0xFF, 0xFF};
  s.WriteBlock(65534, 16, kCoils, src);  // indexes past 65535 are dropped
  EXPECT_TRUE(s.ReadBit(65535, 0, kCoils));
}

// One row per accessor width and format code: the value written at register 10 and the
// exact register bytes it must produce, most significant value byte first in `value`.
struct OrderCase {
  const char* name;
  int width;  // 2, 4 (DWord and Single), 8 (Int64 and Double)
  uint8_t format;
  uint64_t value;
  Bytes wire;
};

class ByteOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ByteOrder, WritesTheExactBytesAndReadsTheValueBack) {
  const OrderCase& c = GetParam();
  for (uint8_t space : {kHoldingRegs, kInputRegs}) {
    TModbusSpace s;
    switch (c.width) {
      case 2:
        s.WriteWord(10, space, c.format, uint16_t(c.value));
        EXPECT_EQ(s.ReadWord(10, space, c.format), uint16_t(c.value));
        break;
      case 4: {
        s.WriteDWord(10, space, c.format, uint32_t(c.value));
        EXPECT_EQ(s.ReadDWord(10, space, c.format), uint32_t(c.value));
        EXPECT_EQ(ReadRegs(s, 10, 2, space), c.wire);
        TModbusSpace f;
        f.WriteSingle(10, space, c.format, std::bit_cast<float>(uint32_t(c.value)));
        EXPECT_EQ(ReadRegs(f, 10, 2, space), c.wire) << "Single";
        EXPECT_EQ(std::bit_cast<uint32_t>(f.ReadSingle(10, space, c.format)), uint32_t(c.value));
        break;
      }
      default: {
        s.WriteInt64(10, space, c.format, int64_t(c.value));
        EXPECT_EQ(uint64_t(s.ReadInt64(10, space, c.format)), c.value);
        TModbusSpace d;
        d.WriteDouble(10, space, c.format, std::bit_cast<double>(c.value));
        EXPECT_EQ(ReadRegs(d, 10, 4, space), c.wire) << "Double";
        EXPECT_EQ(std::bit_cast<uint64_t>(d.ReadDouble(10, space, c.format)), c.value);
      }
    }
    EXPECT_EQ(ReadRegs(s, 10, uint16_t(c.width / 2), space), c.wire);
    EXPECT_EQ(ReadRegs(s, 9, 1, space), Bytes(2, 0)) << "neighbours untouched";
  }
}

constexpr uint64_t k32 = 0x11223344, k64 = 0x1122334455667788;

INSTANTIATE_TEST_SUITE_P(
    AllCodes, ByteOrder,
    ::testing::Values(
        OrderCase{"w_0_1", 2, 1, 0x1122, {0x22, 0x11}},
        OrderCase{"w_1_0", 2, 2, 0x1122, {0x11, 0x22}},
        OrderCase{"w_other", 2, 6, 0x1122, {0x11, 0x22}},
        OrderCase{"d_0_1_2_3", 4, 3, k32, {0x44, 0x33, 0x22, 0x11}},
        OrderCase{"d_1_0_3_2", 4, 4, k32, {0x33, 0x44, 0x11, 0x22}},
        OrderCase{"d_2_3_0_1", 4, 5, k32, {0x22, 0x11, 0x44, 0x33}},
        OrderCase{"d_3_2_1_0", 4, 6, k32, {0x11, 0x22, 0x33, 0x44}},
        OrderCase{"d_other", 4, 2, k32, {0x33, 0x44, 0x11, 0x22}},
        OrderCase{"q_7", 8, 7, k64, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        OrderCase{"q_8", 8, 8, k64, {0x77, 0x88, 0x55, 0x66, 0x33, 0x44, 0x11, 0x22}},
        OrderCase{"q_9", 8, 9, k64, {0x66, 0x55, 0x88, 0x77, 0x22, 0x11, 0x44, 0x33}},
        OrderCase{"q_10", 8, 10, k64, {0x55, 0x66, 0x77, 0x88, 0x11, 0x22, 0x33, 0x44}},
        OrderCase{"q_11", 8, 11, k64, {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}},
        OrderCase{"q_12", 8, 12, k64, {0x33, 0x44, 0x11, 0x22, 0x77, 0x88, 0x55, 0x66}},
        OrderCase{"q_13", 8, 13, k64, {0x22, 0x11, 0x44, 0x33, 0x66, 0x55, 0x88, 0x77}},
        OrderCase{"q_14", 8, 14, k64, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        OrderCase{"q_other", 8, 4, k64, {0x77, 0x88, 0x55, 0x66, 0x33, 0x44, 0x11, 0x22}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModbusSpace, FormatNames) {
  EXPECT_STREQ(FormatName(1), "0_1");
  EXPECT_STREQ(FormatName(4), "1_0_3_2");
  EXPECT_STREQ(FormatName(14), "7_6_5_4_3_2_1_0");
  EXPECT_STREQ(FormatName(0), "");
  EXPECT_STREQ(FormatName(15), "");
}

TEST(ModbusSpace, ReadWordByteOrder) {
  TModbusSpace s;
  const Bytes reg{0x12, 0x34};
  s.WriteBlock(0, 1, kHoldingRegs, reg.data());
  EXPECT_EQ(s.ReadWord(0, kHoldingRegs, 1), 0x3412);
  EXPECT_EQ(s.ReadWord(0, kHoldingRegs, 2), 0x1234);
}

TEST(ModbusSpace, BitsInRegisters) {
  TModbusSpace s;
  s.WriteWord(3, kHoldingRegs, 2, 0x0001);
  EXPECT_TRUE(s.ReadBit(3, 0, kHoldingRegs));
  EXPECT_FALSE(s.ReadBit(3, 8, kHoldingRegs));
  s.WriteBit(4, 15, kInputRegs, true);
  s.WriteBit(4, 0, kInputRegs, true);
  EXPECT_EQ(ReadRegs(s, 4, 1, kInputRegs), (Bytes{0x80, 0x01}));
  s.WriteBit(4, 15, kInputRegs, false);
  EXPECT_EQ(s.ReadWord(4, kInputRegs, 2), 0x0001);
  s.WriteBit(4, 16, kInputRegs, true);  // no such bit: nothing changes
  EXPECT_EQ(s.ReadWord(4, kInputRegs, 2), 0x0001);
}

TEST(ModbusSpace, StringsByFormatAndReadsChangeNothing) {
  TModbusSpace s;
  s.WriteString(0, 2, kHoldingRegs, 1, "ABC");
  EXPECT_EQ(ReadRegs(s, 0, 2), (Bytes{'A', 'B', 'C', 0}));
  EXPECT_EQ(s.ReadString(0, 2, kHoldingRegs, 1), "ABC");
  s.WriteString(0, 2, kHoldingRegs, 2, "ABC");
  EXPECT_EQ(ReadRegs(s, 0, 2), (Bytes{'B', 'A', 0, 'C'}));
  EXPECT_EQ(s.ReadString(0, 2, kHoldingRegs, 2), "ABC");
  EXPECT_EQ(s.ReadString(0, 2, kHoldingRegs, 2), "ABC");
  EXPECT_EQ(ReadRegs(s, 0, 2), (Bytes{'B', 'A', 0, 'C'}));
  s.WriteString(0, 2, kHoldingRegs, 1, "ABCDEF");  // cut to the area
  EXPECT_EQ(s.ReadString(0, 3, kHoldingRegs, 1), "ABCD");
  s.WriteString(0, 2, kHoldingRegs, 1, "");
  EXPECT_EQ(ReadRegs(s, 0, 2), Bytes(4, 0));
}

TEST(ModbusSpace, LongestStringAtTheTopStaysInsideTheStore) {
  TModbusSpace s;
  const std::string text(2 * 65535, 'x');
  s.WriteString(65535, 65535, kHoldingRegs, 2, text);
  EXPECT_EQ(s.ReadString(65535, 65535, kHoldingRegs, 2), text);
  // A count beyond the store is clamped, never an overrun.
  s.WriteString(65535, 200000, kHoldingRegs, 1, "ab");
  EXPECT_EQ(s.ReadString(65535, 200000, kHoldingRegs, 1), "ab");
}

TEST(ModbusSpace, RegisterAccessorsOnBitSpacesReadZeroAndWriteNothing) {
  TModbusSpace s;
  for (uint8_t space : {kCoils, kDiscreteInputs, uint8_t{4}}) {
    s.WriteWord(0, space, 2, 0xFFFF);
    s.WriteDWord(0, space, 4, 0xFFFFFFFF);
    s.WriteDouble(0, space, 8, 1.5);
    s.WriteString(0, 2, space, 2, "ABCD");
    EXPECT_EQ(s.ReadWord(0, space, 2), 0);
    EXPECT_EQ(s.ReadDWord(0, space, 4), 0u);
    EXPECT_EQ(s.ReadInt64(0, space, 8), 0);
    EXPECT_EQ(s.ReadDouble(0, space, 8), 0.0);
    EXPECT_EQ(s.ReadString(0, 2, space, 2), "");
  }
  EXPECT_FALSE(s.ReadBit(0, 0, kCoils));
  EXPECT_FALSE(s.ReadBit(0, 0, 4));
  EXPECT_EQ(ReadRegs(s, 0, 4), Bytes(8, 0));
}

}  // namespace
}  // namespace velkor
