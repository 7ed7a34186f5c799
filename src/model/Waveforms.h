#pragma once
// The sine and saw generators every tag owns. Parameters are variants of the tag's type
// (the tag converts them with its type); the state integrates the time between calls.

#include <cstdint>

#include "model/Clock.h"
#include "model/Variant.h"

namespace velkor {

class TSinClass {
 public:
  TSinClass() : LastTime(NowMs()) {}

  long double Phase = 0;  // degrees, never wrapped
  int64_t LastTime;
  Variant Amplitude = 0;
  uint32_t Period = 0;  // ms
  Variant Offset = 0;
};

// Saw types.
inline constexpr uint8_t kSawTriangle = 0;
inline constexpr uint8_t kSawRightTriangle = 1;
inline constexpr uint8_t kSawRampUp = 2;
inline constexpr uint8_t kSawRampDown = 3;

class TPilaClass {
 public:
  TPilaClass() : LastTime(NowMs()) {}

  Variant Amplitude = 0;
  uint32_t Period = 0;  // ms
  uint8_t pType = kSawTriangle;
  Variant Current = 0;
  bool Rising = true;
  int64_t LastTime;
  Variant Offset = 0;
};

}  // namespace velkor
