#include "serving/Crc16.h"

#include <array>

namespace velkor {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    uint16_t crc = uint16_t(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : crc >> 1;
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16(const uint8_t* bytes, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) crc = uint16_t((crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFF]);
  return crc;
}

bool CheckCrc16(const uint8_t* frame, size_t length) {
  if (length < 3) return false;
  const uint16_t carried = uint16_t(frame[length - 2] | frame[length - 1] << 8);
  return carried == Crc16(frame, length - 2);
}

size_t AppendCrc16(uint8_t* frame, size_t length) {
  const uint16_t crc = Crc16(frame, length);
  frame[length] = uint8_t(crc);
  frame[length + 1] = uint8_t(crc >> 8);
  return length + 2;
}

}  // namespace velkor
