#pragma once
// A table of 65536 bits packed eight to a byte, least significant bit first, as coils and
// discrete inputs go out on the wire. Indexes past the table read 0 and write nothing, so
// a block that runs off the end needs no special case in the callers.

#include <array>
#include <cstdint>

namespace velkor {

class TBitClass {
 public:
  static constexpr uint32_t kBitCount = 65536;

  void Clear() { m_bytes.fill(0); }
  bool GetBit(uint32_t index) const {
    return index < kBitCount && ((m_bytes[index >> 3] >> (index & 7)) & 1) != 0;
  }
  void SetBit(uint32_t index, bool value) {
    if (index >= kBitCount) return;
    const uint8_t mask = uint8_t(1u << (index & 7));
    if (value)
      m_bytes[index >> 3] |= mask;
    else
      m_bytes[index >> 3] &= uint8_t(~mask);
  }

 private:
  std::array<uint8_t, kBitCount / 8> m_bytes{};
};

}  // namespace velkor
