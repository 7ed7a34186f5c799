#include "model/Waveforms.h"

#include <cmath>
#include <numbers>

namespace velkor {

Variant TSinClass::NextSine() {
  const int64_t now = NowMs();
  if (Period != 0) Phase += static_cast<long double>(now - LastTime) * (360.0L / Period);
  const long double radians = Phase * std::numbers::pi_v<long double> / 180.0L;
  const Variant result = Amplitude * Variant(static_cast<double>(std::sin(radians))) + Offset;
  LastTime = now;
  return result;
}

Variant TPilaClass::NextSaw() {
  if (Period == 0) return Variant(0);
  const int64_t now = NowMs();
  const double elapsed = static_cast<double>(now - LastTime);
  const double a = Amplitude.ToDouble();
  const double t = Period;
  switch (pType) {
    case kSawTriangle:
    case kSawRightTriangle: {
      const double rate = a / (pType == kSawTriangle ? t / 4 : t / 2);
      LastTime = now;
      Current = Rising ? Current + Variant(rate * elapsed) : Current - Variant(rate * elapsed);
      if (std::fabs(Current.ToDouble()) >= a) {
        if (pType == kSawTriangle)
          Current = Rising ? Amplitude : -Amplitude;
        else
          Current = 0;
        Rising = !Rising;
      }
      break;
    }
    case kSawRampUp:
      Rising = true;
      LastTime = now;
      Current = Current + Variant(a / t * elapsed);
      if (Current.ToDouble() >= a) Current = 0;
      break;
    case kSawRampDown:
      Rising = false;
      LastTime = now;
      Current = Current - Variant(a / t * elapsed);
      if (Current.ToDouble() <= 0) Current = Amplitude;
      break;
    default:
      break;
  }
  return Current + Offset;
}

}  // namespace velkor
