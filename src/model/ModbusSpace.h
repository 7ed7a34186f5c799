#pragma once
// The four Modbus tables of one device. Registers are kept in wire order (high byte
// first) so that block reads and writes by masters are plain copies; byte orders are
// applied only by the typed accessors. Each register table is followed by a reserve of
// kReserveRegs registers, so a block, a typed value or a string of up to 65535 registers
// starting at any address stays inside the store without bounds arithmetic in callers.
//
// No lock of its own: every access holds the owning device's lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/BitClass.h"

namespace velkor {

// Space codes (mSpace).
inline constexpr uint8_t kHoldingRegs = 0;
inline constexpr uint8_t kInputRegs = 1;
inline constexpr uint8_t kCoils = 2;
inline constexpr uint8_t kDiscreteInputs = 3;

// Byte-order names by format code (DataFormat 1..14); "" for other codes.
const char* FormatName(uint8_t code);

class TModbusSpace {
 public:
  static constexpr uint32_t kTableRegs = 65536;
  static constexpr uint32_t kReserveRegs = 65566;
  static constexpr uint32_t kStoreRegs = kTableRegs + kReserveRegs;  // 131102

  TModbusSpace();

  bool BitsMerge = false;  // discrete inputs are the coil table
  bool RegsMerge = false;  // input registers are the holding table

  void Clear();

  // Registers: 2 × count bytes in wire order. Bits: count bits packed LSB first; bits of
  // the last byte beyond count are left as the caller supplied them.
  void ReadBlock(uint16_t start, uint16_t count, uint8_t space, uint8_t* dest) const;
  void WriteBlock(uint16_t start, uint16_t count, uint8_t space, const uint8_t* src);

  uint16_t ReadWord(uint16_t addr, uint8_t space, uint8_t format) const;
  void WriteWord(uint16_t addr, uint8_t space, uint8_t format, uint16_t value);
  uint32_t ReadDWord(uint16_t addr, uint8_t space, uint8_t format) const;
  void WriteDWord(uint16_t addr, uint8_t space, uint8_t format, uint32_t value);
  float ReadSingle(uint16_t addr, uint8_t space, uint8_t format) const;
  void WriteSingle(uint16_t addr, uint8_t space, uint8_t format, float value);
  int64_t ReadInt64(uint16_t addr, uint8_t space, uint8_t format) const;
  void WriteInt64(uint16_t addr, uint8_t space, uint8_t format, int64_t value);
  double ReadDouble(uint16_t addr, uint8_t space, uint8_t format) const;
  void WriteDouble(uint16_t addr, uint8_t space, uint8_t format, double value);

  // Spaces 2 and 3: the bit at addr (bit number unused). Spaces 0 and 1: bit `bit` of the
  // register at addr taken as a 16-bit value.
  bool ReadBit(uint16_t addr, uint8_t bit, uint8_t space) const;
  void WriteBit(uint16_t addr, uint8_t bit, uint8_t space, bool value);

  // Format 2 swaps the two bytes of every register; any other code keeps text order.
  std::string ReadString(uint16_t addr, uint32_t regs, uint8_t space, uint8_t format) const;
  void WriteString(uint16_t addr, uint32_t regs, uint8_t space, uint8_t format,
                   std::string_view text);

 private:
  // Start of the register area for a space, or nullptr when the space has no registers.
  uint8_t* Regs(uint8_t space);
  const uint8_t* Regs(uint8_t space) const;
  TBitClass* Bits(uint8_t space);
  const TBitClass* Bits(uint8_t space) const;

  template <class T>
  T ReadValue(uint16_t addr, uint8_t space, uint8_t format) const;
  template <class T>
  void WriteValue(uint16_t addr, uint8_t space, uint8_t format, T value);
  void ReadBytes(uint16_t addr, uint8_t space, uint8_t format, int width, uint8_t* le) const;
  void WriteBytes(uint16_t addr, uint8_t space, uint8_t format, int width, const uint8_t* le);

  TBitClass m_coils;
  TBitClass m_discrete;
  std::unique_ptr<uint8_t[]> m_holding;  // kStoreRegs × 2 bytes
  std::unique_ptr<uint8_t[]> m_input;
};

}  // namespace velkor
