#include <gtest/gtest.h>

#include "ServingFixture.h"
#include "serving/Crc16.h"

namespace velkor {
namespace {

// The CRC bit by bit, as the Modbus documents define it: the table must agree with it.
uint16_t BitwiseCrc(const Bytes& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

struct CrcCase {
  const char* name;
  Bytes bytes;
  uint16_t crc;
};

class Crc16Values : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16Values, MatchKnownValues) {
  EXPECT_EQ(Crc16(GetParam().bytes.data(), GetParam().bytes.size()), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Crc16Values,
    ::testing::Values(CrcCase{"Empty", {}, 0xFFFF},
                      CrcCase{"CheckString", Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'},
                              0x4B37},
                      CrcCase{"ReadTenRegisters", Hex("01 03 00 00 00 0A"), 0xCDC5},
                      CrcCase{"ReadTwoRegisters", Hex("01 03 00 00 00 02"), 0x0BC4},
                      CrcCase{"Exception", Hex("01 83 03"), 0x3101}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Crc16, EveryTableEntryAgreesWithTheBitwiseForm) {
  for (int first = 0; first < 256; ++first) {
    const Bytes bytes = {uint8_t(first), uint8_t(255 - first), 0x5A};
    ASSERT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc(bytes)) << first;
  }
}

TEST(Crc16, AppendSendsTheLowByteFirst) {
  Bytes frame = Hex("01 03 00 00 00 0A 00 00");
  EXPECT_EQ(AppendCrc16(frame.data(), 6), 8u);
  EXPECT_EQ(HexText(frame), "01 03 00 00 00 0A C5 CD");
  EXPECT_TRUE(CheckCrc16(frame.data(), frame.size()));
}

TEST(Crc16, CheckRejectsEveryDamagedFrame) {
  const Bytes good = Hex("01 03 00 00 00 02 C4 0B");
  ASSERT_TRUE(CheckCrc16(good.data(), good.size()));
  for (size_t bit = 0; bit < good.size() * 8; ++bit) {
    Bytes bad = good;
    bad[bit / 8] ^= uint8_t(1 << (bit % 8));
    EXPECT_FALSE(CheckCrc16(bad.data(), bad.size())) << "bit " << bit;
  }
  const Bytes swapped = Hex("01 03 00 00 00 02 0B C4");
  EXPECT_FALSE(CheckCrc16(swapped.data(), swapped.size()));
  // FF FF is the CRC of nothing: only the length rule refuses it.
  const Bytes crcOfNothing = Hex("FF FF");
  EXPECT_FALSE(CheckCrc16(crcOfNothing.data(), crcOfNothing.size()));
  EXPECT_FALSE(CheckCrc16(nullptr, 0));
  Bytes addressOnly = Hex("07 00 00");
  AppendCrc16(addressOnly.data(), 1);
  EXPECT_TRUE(CheckCrc16(addressOnly.data(), addressOnly.size()));
}

}  // namespace
}  // namespace velkor
