#pragma once
// The value carried by tags, behaviours and scripts. Its kinds are numbered by the data
// type codes that project files store (vType), so a kind converts to and from a file
// without a table. A variant is 16 bytes: numeric kinds live in one 64-bit slot and a
// String owns its text on the heap. A tag holds a dozen variants and the update pass walks
// 100,000 tags every cycle, so a small variant keeps that walk inside fewer cache lines.
//
// Conversions follow one rule set everywhere: reals round half to even, out-of-range
// values throw OverflowError, texts parse with "." whatever the locale, and every failure
// is a VelkorError carrying its message.

#include <cstdint>
#include <string>
#include <string_view>

#include "model/Error.h"
// The variant's text forms; src/script also takes them from here.
#include "model/OleDate.h"
#include "model/TextUtil.h"

namespace velkor {

enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,
  ShortInt = 2,  // signed 16-bit
  Integer = 3,   // signed 32-bit
  Float = 4,     // IEEE single, held widened to double
  Double = 5,
  DateTime = 7,  // OLE date: days since 1899-12-30, the fraction being the time of day
  Bool = 11,
  Word = 18,   // unsigned 16-bit
  DWord = 19,  // unsigned 32-bit
  Int64 = 20,
  String = 256,  // byte string
};

// True for the codes a tag may have as vType.
bool IsTagType(uint16_t code);
// "Word", "Float", ... as the tag editor lists them; "Empty"/"Null" for those kinds.
const char* VarTypeName(VarType type);

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(int v) : m_type(VarType::Integer), m_int(v) {}
  Variant(int64_t v) : m_type(VarType::Int64), m_int(v) {}
  Variant(double v) : m_type(VarType::Double), m_real(v) {}
  Variant(bool v) : m_type(VarType::Bool), m_int(v ? 1 : 0) {}
  Variant(const char* s) : m_type(VarType::String), m_text(new std::string(s)) {}
  Variant(std::string s) : m_type(VarType::String), m_text(new std::string(std::move(s))) {}
  Variant(std::string_view s) : m_type(VarType::String), m_text(new std::string(s)) {}

  Variant(const Variant& other) : m_type(other.m_type), m_int(other.m_int) {
    if (IsString()) m_text = new std::string(*other.m_text);
  }
  Variant(Variant&& other) noexcept : m_type(other.m_type), m_int(other.m_int) {
    other.m_type = VarType::Empty;
  }
  Variant& operator=(const Variant& other) {
    if (this != &other) *this = Variant(other);
    return *this;
  }
  Variant& operator=(Variant&& other) noexcept {
    std::swap(m_type, other.m_type);
    std::swap(m_int, other.m_int);
    return *this;
  }
  ~Variant() {
    if (IsString()) delete m_text;
  }

  static Variant Null();
  static Variant OfShortInt(int16_t v);
  static Variant OfInteger(int32_t v);
  static Variant OfWord(uint16_t v);
  static Variant OfDWord(uint32_t v);
  static Variant OfInt64(int64_t v);
  static Variant OfFloat(float v);
  static Variant OfDouble(double v);
  static Variant OfDateTime(double oleDate);

  VarType Type() const { return m_type; }
  bool IsEmpty() const { return m_type == VarType::Empty; }
  bool IsNull() const { return m_type == VarType::Null; }
  bool IsIntegral() const;  // ShortInt, Integer, Word, DWord, Int64
  bool IsReal() const;      // Float, Double
  bool IsString() const { return m_type == VarType::String; }

  // Conversions; each throws OverflowError or ConversionError as its rules say.
  Variant ConvertTo(VarType target) const;
  int64_t ToInt64() const;    // reals rounded half to even; range of Int64
  int32_t ToInt32() const;    // range of Integer
  uint32_t ToUInt32() const;  // range of DWord
  double ToDouble() const;    // a date-time gives its day number
  bool ToBool() const;
  std::string ToString() const;  // the text form

  // The raw payload, valid only for the matching kinds (no conversion, no checks).
  int64_t RawInt() const { return m_int; }
  double RawReal() const { return m_real; }
  const std::string& RawText() const { return *m_text; }

  // Arithmetic on values, with the widening rules of the behaviours: 32-bit signed for
  // small signed integers (widening to a real on overflow), 64-bit when an operand is
  // Word, DWord or Int64, a real as soon as either side is real, day arithmetic on dates,
  // concatenation for two texts. Null propagates.
  friend Variant operator+(const Variant& a, const Variant& b);
  friend Variant operator-(const Variant& a, const Variant& b);
  friend Variant operator*(const Variant& a, const Variant& b);
  friend Variant operator/(const Variant& a, const Variant& b);  // always a real
  Variant operator-() const;

  // Numeric comparison (texts compare as texts when both sides are texts). Throws when
  // an operand cannot be compared (Null, text that is no number against a number).
  static int Compare(const Variant& a, const Variant& b);
  friend bool operator<(const Variant& a, const Variant& b) { return Compare(a, b) < 0; }
  friend bool operator>(const Variant& a, const Variant& b) { return Compare(a, b) > 0; }
  friend bool operator<=(const Variant& a, const Variant& b) { return Compare(a, b) <= 0; }
  friend bool operator>=(const Variant& a, const Variant& b) { return Compare(a, b) >= 0; }
  // Same kind and same payload (for tests and change detection, not numeric equality).
  bool SameAs(const Variant& other) const;

 private:
  VarType m_type = VarType::Empty;
  union {
    int64_t m_int = 0;    // integer kinds and Bool (0 or 1); copies the whole slot
    double m_real;        // Float, Double, DateTime
    std::string* m_text;  // String, owned
  };
};

}  // namespace velkor
