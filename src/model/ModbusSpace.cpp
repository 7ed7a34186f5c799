#include "model/ModbusSpace.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace velkor {
namespace {

// For each format code, the value byte (0 = least significant) that stands at each wire
// position. Codes outside a width's own set fall back to that width's default order.
struct Order {
  const char* name;
  uint8_t width;
  uint8_t bytes[8];
};

constexpr Order kOrders[15] = {
    {"", 0, {}},
    {"0_1", 2, {0, 1}},
    {"1_0", 2, {1, 0}},
    {"0_1_2_3", 4, {0, 1, 2, 3}},
    {"1_0_3_2", 4, {1, 0, 3, 2}},
    {"2_3_0_1", 4, {2, 3, 0, 1}},
    {"3_2_1_0", 4, {3, 2, 1, 0}},
    {"0_1_2_3_4_5_6_7", 8, {0, 1, 2, 3, 4, 5, 6, 7}},
    {"1_0_3_2_5_4_7_6", 8, {1, 0, 3, 2, 5, 4, 7, 6}},
    {"2_3_0_1_6_7_4_5", 8, {2, 3, 0, 1, 6, 7, 4, 5}},
    {"3_2_1_0_7_6_5_4", 8, {3, 2, 1, 0, 7, 6, 5, 4}},
    {"4_5_6_7_0_1_2_3", 8, {4, 5, 6, 7, 0, 1, 2, 3}},
    {"5_4_7_6_1_0_3_2", 8, {5, 4, 7, 6, 1, 0, 3, 2}},
    {"6_7_4_5_2_3_0_1", 8, {6, 7, 4, 5, 2, 3, 0, 1}},
    {"7_6_5_4_3_2_1_0", 8, {7, 6, 5, 4, 3, 2, 1, 0}},
};

const uint8_t* OrderFor(uint8_t format, int width) {
  if (format < 15 && kOrders[format].width == width) return kOrders[format].bytes;
  switch (width) {
    case 2:
      return kOrders[2].bytes;
    case 4:
      return kOrders[4].bytes;
    default:
      return kOrders[8].bytes;
  }
}

constexpr size_t kStoreBytes = size_t(TModbusSpace::kStoreRegs) * 2;

}  // namespace

const char* FormatName(uint8_t code) { return code < 15 ? kOrders[code].name : ""; }

TModbusSpace::TModbusSpace()
    : m_holding(new uint8_t[kStoreBytes]()), m_input(new uint8_t[kStoreBytes]()) {}

void TModbusSpace::Clear() {
  std::memset(m_holding.get(), 0, kStoreBytes);
  std::memset(m_input.get(), 0, kStoreBytes);
  m_coils.Clear();
  m_discrete.Clear();
}

uint8_t* TModbusSpace::Regs(uint8_t space) {
  return const_cast<uint8_t*>(std::as_const(*this).Regs(space));
}

const uint8_t* TModbusSpace::Regs(uint8_t space) const {
  if (space == kHoldingRegs || (space == kInputRegs && RegsMerge)) return m_holding.get();
  if (space == kInputRegs) return m_input.get();
  return nullptr;
}

TBitClass* TModbusSpace::Bits(uint8_t space) {
  return const_cast<TBitClass*>(std::as_const(*this).Bits(space));
}

const TBitClass* TModbusSpace::Bits(uint8_t space) const {
  if (space == kCoils || (space == kDiscreteInputs && BitsMerge)) return &m_coils;
  if (space == kDiscreteInputs) return &m_discrete;
  return nullptr;
}

void TModbusSpace::ReadBlock(uint16_t start, uint16_t count, uint8_t space, uint8_t* dest) const {
  if (const uint8_t* regs = Regs(space)) {
    std::memcpy(dest, regs + size_t(start) * 2, size_t(count) * 2);
  } else if (const TBitClass* bits = Bits(space)) {
    for (uint32_t k = 0; k < count; ++k) {
      const uint8_t mask = uint8_t(1u << (k & 7));
      if (bits->GetBit(uint32_t(start) + k))
        dest[k >> 3] |= mask;
      else
        dest[k >> 3] &= uint8_t(~mask);
    }
  }
}

void TModbusSpace::WriteBlock(uint16_t start, uint16_t count, uint8_t space, const uint8_t* src) {
  if (uint8_t* regs = Regs(space)) {
    std::memcpy(regs + size_t(start) * 2, src, size_t(count) * 2);
  } else if (TBitClass* bits = Bits(space)) {
    for (uint32_t k = 0; k < count; ++k)
      bits->SetBit(uint32_t(start) + k, ((src[k >> 3] >> (k & 7)) & 1) != 0);
  }
}

// `le` holds the value least significant byte first, as the machine keeps it on x86.
void TModbusSpace::ReadBytes(uint16_t addr, uint8_t space, uint8_t format, int width,
                             uint8_t* le) const {
  const uint8_t* regs = Regs(space);
  if (!regs) {
    std::memset(le, 0, size_t(width));
    return;
  }
  const uint8_t* wire = regs + size_t(addr) * 2;
  const uint8_t* order = OrderFor(format, width);
  for (int pos = 0; pos < width; ++pos) le[order[pos]] = wire[pos];
}

void TModbusSpace::WriteBytes(uint16_t addr, uint8_t space, uint8_t format, int width,
                              const uint8_t* le) {
  uint8_t* regs = Regs(space);
  if (!regs) return;
  uint8_t* wire = regs + size_t(addr) * 2;
  const uint8_t* order = OrderFor(format, width);
  for (int pos = 0; pos < width; ++pos) wire[pos] = le[order[pos]];
}

static_assert(std::endian::native == std::endian::little,
              "typed accessors copy values as little-endian byte arrays");

template <class T>
T TModbusSpace::ReadValue(uint16_t addr, uint8_t space, uint8_t format) const {
  uint8_t le[sizeof(T)];
  ReadBytes(addr, space, format, sizeof(T), le);
  T value;
  std::memcpy(&value, le, sizeof value);
  return value;
}

template <class T>
void TModbusSpace::WriteValue(uint16_t addr, uint8_t space, uint8_t format, T value) {
  uint8_t le[sizeof(T)];
  std::memcpy(le, &value, sizeof value);
  WriteBytes(addr, space, format, sizeof(T), le);
}

uint16_t TModbusSpace::ReadWord(uint16_t a, uint8_t s, uint8_t f) const {
  return ReadValue<uint16_t>(a, s, f);
}
uint32_t TModbusSpace::ReadDWord(uint16_t a, uint8_t s, uint8_t f) const {
  return ReadValue<uint32_t>(a, s, f);
}
float TModbusSpace::ReadSingle(uint16_t a, uint8_t s, uint8_t f) const {
  return ReadValue<float>(a, s, f);
}
int64_t TModbusSpace::ReadInt64(uint16_t a, uint8_t s, uint8_t f) const {
  return ReadValue<int64_t>(a, s, f);
}
double TModbusSpace::ReadDouble(uint16_t a, uint8_t s, uint8_t f) const {
  return ReadValue<double>(a, s, f);
}
void TModbusSpace::WriteWord(uint16_t a, uint8_t s, uint8_t f, uint16_t v) {
  WriteValue(a, s, f, v);
}
void TModbusSpace::WriteDWord(uint16_t a, uint8_t s, uint8_t f, uint32_t v) {
  WriteValue(a, s, f, v);
}
void TModbusSpace::WriteSingle(uint16_t a, uint8_t s, uint8_t f, float v) {
  WriteValue(a, s, f, v);
}
void TModbusSpace::WriteInt64(uint16_t a, uint8_t s, uint8_t f, int64_t v) {
  WriteValue(a, s, f, v);
}
void TModbusSpace::WriteDouble(uint16_t a, uint8_t s, uint8_t f, double v) {
  WriteValue(a, s, f, v);
}

bool TModbusSpace::ReadBit(uint16_t addr, uint8_t bit, uint8_t space) const {
  if (const TBitClass* bits = Bits(space)) return bits->GetBit(addr);
  if (bit > 15) return false;
  return ((ReadWord(addr, space, 2) >> bit) & 1) != 0;
}

void TModbusSpace::WriteBit(uint16_t addr, uint8_t bit, uint8_t space, bool value) {
  if (TBitClass* bits = Bits(space)) {
    bits->SetBit(addr, value);
    return;
  }
  if (bit > 15 || !Regs(space)) return;
  uint16_t word = ReadWord(addr, space, 2);
  const uint16_t mask = uint16_t(1u << bit);
  word = value ? uint16_t(word | mask) : uint16_t(word & ~mask);
  WriteWord(addr, space, 2, word);
}

// The register count is clamped so that the area never leaves the store, whatever a
// caller passes; tags bound their own counts too.
std::string TModbusSpace::ReadString(uint16_t addr, uint32_t regs, uint8_t space,
                                     uint8_t format) const {
  const uint8_t* table = Regs(space);
  if (!table) return {};
  regs = std::min(regs, kStoreRegs - addr);
  std::string text(reinterpret_cast<const char*>(table) + size_t(addr) * 2, size_t(regs) * 2);
  if (format == 2)
    for (size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

void TModbusSpace::WriteString(uint16_t addr, uint32_t regs, uint8_t space, uint8_t format,
                               std::string_view text) {
  uint8_t* table = Regs(space);
  if (!table) return;
  regs = std::min(regs, kStoreRegs - addr);
  uint8_t* area = table + size_t(addr) * 2;
  const size_t bytes = size_t(regs) * 2;
  std::memset(area, 0, bytes);
  std::memcpy(area, text.data(), std::min(text.size(), bytes));
  if (format == 2)
    for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(area[i], area[i + 1]);
}

}  // namespace velkor
