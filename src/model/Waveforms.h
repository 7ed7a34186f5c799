#pragma once
// The sine and saw generators every tag owns. Parameters are variants of the tag's type
// (the tag converts them with its type); the state integrates the time between calls, so
// the wave follows the clock and the tag's period only decides how often it is sampled.
// Nothing resets the state: a start does not restart a wave.

#include <cstdint>

#include "model/Clock.h"
#include "model/Variant.h"

namespace velkor {

class TSinClass {
 public:
  TSinClass() : LastTime(NowMs()) {}

  // Amplitude × sin(phase) + Offset, the phase advanced by the time since the last call
  // (360 degrees per Period; a Period of 0 holds the phase).
  Variant NextSine();

  long double Phase = 0;  // degrees, never wrapped; extended precision for long runs
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

  // The next saw value plus Offset; 0 (without the offset) while Period is 0. A step that
  // would overshoot an edge ends on it, and the next step goes on from there.
  Variant NextSaw();

  Variant Amplitude = 0;
  uint32_t Period = 0;  // ms
  uint8_t pType = kSawTriangle;
  Variant Current = 0;
  bool Rising = true;
  int64_t LastTime;
  Variant Offset = 0;
};

}  // namespace velkor
