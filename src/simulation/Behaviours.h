#pragma once
// How tag values change by themselves, and the pass of the update thread over a device.
//
// A pass holds the device lock throughout and only try-locks each tag: a tag busy
// elsewhere (value dialog, OPC thread, window refresh) is skipped, never waited for. Every
// tag is read back from the tables on every pass, so a master's write becomes its value
// within one cycle; a tag whose period has elapsed then takes its behaviour step. A failed
// read-back or step is recorded in the tag's error state and the pass goes on.

#include <cstdint>
#include <string>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"

namespace velkor {

// Runs the execute function of a script tag (provided by the script layer; without one,
// script tags keep their values).
class ScriptStepRunner {
 public:
  virtual ~ScriptStepRunner() = default;
  virtual void RunExecute(TModbusRegister& tag) = 0;
};

// True when more than Period ms passed since the tag's last step, which then becomes now;
// a clock set back restarts the period from now.
bool TimeToUpdate(TModbusRegister& tag, int64_t now);
// A signed random deviation of up to Percent per cent of range (the whole range for a
// random-walk tag without a Percent); negative with probability 0.49.
double Fluctuation(const TModbusRegister& tag, double range);
// The behaviour step of the tag's WorkType (throws what SetValue throws).
void BehaviourStep(TModbusRegister& tag, ScriptStepRunner* scripts);
void UpdatePass(TDeviceClass& device, ScriptStepRunner* scripts = nullptr);
// Clears the device's tables, then gives every tag its default value (false or 0 when
// that does not convert).
void ResetSpace(TDeviceClass& device);
std::string BehaviourText(const TModbusRegister& tag);

}  // namespace velkor
