#pragma once
// The CRC-16/MODBUS helpers shared by the RTU handler, the trace view and the CRC tool.
// The CRC is table-driven (one 256-entry table built at compile time): a byte costs one
// lookup instead of eight shift-and-xor steps, which matters on every frame of a busy line.

#include <cstddef>
#include <cstdint>

namespace velkor {

// The CRC of the bytes: initial 0xFFFF, reflected polynomial 0xA001, no final xor.
uint16_t Crc16(const uint8_t* bytes, size_t length);
// False below 3 bytes (an address and a CRC at least); otherwise whether the last two bytes,
// low byte first, are the CRC of the bytes before them.
bool CheckCrc16(const uint8_t* frame, size_t length);
// Writes the CRC of the first `length` bytes after them, low byte first; returns length + 2.
size_t AppendCrc16(uint8_t* frame, size_t length);

}  // namespace velkor
