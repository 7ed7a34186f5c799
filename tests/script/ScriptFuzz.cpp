// libFuzzer entry: any bytes as a program. Parsing and compiling must fail cleanly, and a
// program that compiles must run (under a small step budget) to a result or an error.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Log.h"
#include "runtime/Random.h"
#include "script/ScriptEngine.h"

// The runtime layer is not linked in: its few services get quiet stand-ins.
namespace velkor {
void LogMessage(const std::string&) {}
double RandomReal() { return 0.5; }
uint32_t RandomBelow(uint32_t n) { return n / 2; }
void SeedRandom(uint64_t) {}
}  // namespace velkor

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  std::vector<std::string> lines(1);
  for (size_t k = 0; k < size; ++k) {
    if (data[k] == '\n')
      lines.emplace_back();
    else
      lines.back() += char(data[k]);
  }
  velkor::ScriptEngine engine;
  engine.SetStepBudget(20000);
  engine.SetShowMessageHandler([](const std::string&) {});
  engine.AddVariable("self", "Word", velkor::Variant(1));
  engine.SetLines(std::move(lines));
  if (!engine.Compile()) return 0;
  try {
    engine.RunMain();
    engine.CallFunction("ScriptExecute");
  } catch (const velkor::VelkorError&) {
  }
  return 0;
}
