#pragma once
// Text and number helpers of the whole program. Names of servers, devices, tags and
// constants compare exactly; script identifiers and the words of files ("true", "$FF")
// ignore letter case, and the script language's identifiers are ASCII, so case folding
// here is ASCII only: bytes of UTF-8 sequences (Cyrillic names and texts) pass unchanged.
// Numbers are read and written with "." whatever the C locale says.

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {

// 'A'..'Z' to 'a'..'z'; every other byte unchanged.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
// Every control character counts as a blank, as the trimming of project-file fields has it.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
// The text without leading and trailing blanks.
std::string_view TrimBlanks(std::string_view text);
// 0..15 for a hexadecimal digit of either case, -1 otherwise.
int HexDigitValue(char c);

// "true" or "false" in any letter case, blanks around allowed; false when neither.
bool ParseBoolWord(std::string_view text, bool& value);

// General number format: at most `digits` significant digits, "." as separator, fixed
// notation for magnitudes from 0.00001 with at most `digits` digits before the point,
// otherwise a mantissa, "E" and the exponent (1E20, 1.5E-7).
std::string FormatReal(double value, int digits = 15);
// A decimal number with "." (leading and trailing blanks allowed; "$FF" and "0x" hex for
// integers). Integers come back in `integer` with isInteger set; false when no number.
bool ParseNumber(std::string_view text, int64_t& integer, double& real, bool& isInteger);

// The system's message for an errno value (thread-safe, unlike strerror).
std::string SystemErrorText(int error);

}  // namespace velkor
