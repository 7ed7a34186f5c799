#include "simulation/Behaviours.h"

#include "model/Clock.h"
#include "runtime/Random.h"

namespace velkor {

bool TimeToUpdate(TModbusRegister& tag, int64_t now) {
  if (now < tag.LastUpdate) tag.LastUpdate = now;
  if (now - tag.LastUpdate > tag.Period) {
    tag.LastUpdate = now;
    return true;
  }
  return false;
}

double Fluctuation(const TModbusRegister& tag, double range) {
  if (tag.Percent == 0 && tag.WorkType != kWorkRandom) return 0;
  const double r = RandomReal();
  const double x = tag.Percent == 0 ? r * 100 : r * tag.Percent;
  const double d = range * x / 100;
  return RandomBelow(100) > 50 ? -d : d;
}

namespace {

// Value + d, skipped when d is 0: adding a zero real gives the same value back.
void AddFluctuation(TModbusRegister& tag, double range) {
  const double d = Fluctuation(tag, range);
  if (d != 0) tag.SetValue(tag.GetValue() + Variant(d));
}

}  // namespace

void BehaviourStep(TModbusRegister& tag, ScriptStepRunner* scripts) {
  // Parameters set since the last SetType take the tag's type, for the behaviours that use
  // them: a stray Min on a script tag must not stop its script.
  if (tag.WorkType == kWorkIncrement || tag.WorkType == kWorkRandom ||
      tag.WorkType == kWorkSine || tag.WorkType == kWorkSaw)
    tag.ConvertParams();
  switch (tag.WorkType) {
    case kWorkIncrement:
      tag.SetValue(tag.GetValue() + tag.IncDec);
      switch (tag.Type()) {
        case VarType::Word:
        case VarType::ShortInt:
          AddFluctuation(tag, 65535);
          break;
        case VarType::Integer:
        case VarType::DWord:
          AddFluctuation(tag, 4294967295.0);
          break;
        default:
          break;
      }
      break;
    case kWorkRandom:
      tag.SetValue(tag.GetValue() + Variant(Fluctuation(tag, (tag.Max - tag.Min).ToDouble())));
      if (tag.GetValue() > tag.Max) tag.SetValue(tag.Max);
      if (tag.GetValue() < tag.Min) tag.SetValue(tag.Min);
      break;
    case kWorkSine:
      tag.SetValue(tag.Sin.NextSine());
      AddFluctuation(tag, tag.Sin.Amplitude.ToDouble());
      break;
    case kWorkSaw:
      tag.SetValue(tag.Pila.NextSaw());
      AddFluctuation(tag, tag.Pila.Amplitude.ToDouble());
      break;
    case kWorkScript:
      if (scripts) scripts->RunExecute(tag);
      break;
    default:
      break;  // manual, OPC: values come from elsewhere
  }
}

void UpdatePass(TDeviceClass& device, ScriptStepRunner* scripts) {
  LockGuard deviceLock(device.DeviceLock());
  // One reading of the clock per pass, as a pass takes microseconds; read again after a
  // script, which may take far longer, so the tags after it do not step early.
  int64_t now = NowMs();
  for (const auto& tag : device.Tags()) {
    TryLockGuard tagLock(tag->Lock());
    if (!tagLock.Owns()) continue;
    try {
      tag->SetValue(tag->ReadTagFromSpace());
    } catch (const std::exception& e) {
      tag->SetError(e.what());
      continue;
    }
    if (!TimeToUpdate(*tag, now)) continue;
    try {
      BehaviourStep(*tag, scripts);
    } catch (const std::exception& e) {
      tag->SetError(e.what());
    }
    if (tag->WorkType == kWorkScript) now = NowMs();
  }
}

void ResetSpace(TDeviceClass& device) {
  LockGuard deviceLock(device.DeviceLock());
  device.Space().Clear();
  for (const auto& tag : device.Tags()) {
    LockGuard tagLock(tag->Lock());
    try {
      tag->SetValue(tag->DefValue);
    } catch (const std::exception&) {
      try {
        tag->SetValue(tag->Type() == VarType::Bool ? Variant(false) : Variant(0));
      } catch (const std::exception&) {
        // The registers stay 0.
      }
    }
    tag->LastOPCValue = tag->GetValue();
  }
}

std::string BehaviourText(const TModbusRegister& tag) {
  switch (tag.WorkType) {
    case kWorkIncrement:
      return "Инкремент " + tag.IncDec.ToString();
    case kWorkRandom:
      return "Диапазон: min=" + tag.Min.ToString() + ", max=" + tag.Max.ToString();
    case kWorkManual:
      return "Ручной ввод данных";
    case kWorkSine:
      return tag.Sin.Amplitude.ToString() + " * sin(T=" + std::to_string(tag.Sin.Period) + " ms)";
    case kWorkSaw:
      return "Пила: A=" + tag.Pila.Amplitude.ToString() +
             ", T = " + std::to_string(tag.Pila.Period) + " ms";
    case kWorkScript:
      return "Скрипт";
    case kWorkOPC:
      return "OPC тег";
    default:
      return "";
  }
}

}  // namespace velkor
