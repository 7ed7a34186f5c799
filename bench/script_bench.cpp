// The interpreter against Lua 5.4 on the same small programs, plus the two figures the
// tag scripts depend on: one call of a typical tag script and compiling a long program.
// Prints times and ratios; asserts nothing (timings vary from machine to machine).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "script/ScriptEngine.h"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Processor time, not wall time, on both sides: the figures stay comparable on a machine
// shared with other work. Best of five.
constexpr int kRepeats = 5;

// Compile and run the main block.
double TimeOurs(const std::string& path, std::string& output) {
  double best = 1e9;
  for (int k = 0; k < kRepeats; ++k) {
    ScriptEngine e;
    e.SetShowMessageHandler([&](const std::string& text) { output = text; });
    const double start = CpuSeconds();
    e.SetLines(ReadLines(path));
    if (!e.Compile()) {
      std::fprintf(stderr, "%s:%s: %s\n", path.c_str(), e.ErrorPos().c_str(), e.ErrorMsg().c_str());
      return -1;
    }
    e.RunMain();
    best = std::min(best, CpuSeconds() - start);
  }
  return best;
}

// The interpreter's start-up is in the figure: a few milliseconds at most.
double TimeLua(const std::string& lua, const std::string& path, std::string& output) {
  double best = 1e9;
  for (int k = 0; k < kRepeats; ++k) {
    const std::string command = lua + " " + path;
    const double start = CpuSeconds(RUSAGE_CHILDREN);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buf[256];
    output.clear();
    while (std::fgets(buf, sizeof buf, pipe)) output += buf;
    if (pclose(pipe) != 0) return -1;
    best = std::min(best, CpuSeconds(RUSAGE_CHILDREN) - start);
  }
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return best;
}

std::string FindLua() {
  FILE* pipe = popen("command -v lua5.4 2>/dev/null", "r");
  if (!pipe) return {};
  char buf[512] = {};
  const bool found = std::fgets(buf, sizeof buf, pipe) != nullptr;
  pclose(pipe);
  std::string path = found ? buf : "";
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  return path;
}

// One call of the typical tag script, its three variables in and out.
void TagScriptCall() {
  ScriptEngine e;
  e.AddVariable("self", "Word", Variant(10));
  e.AddVariable("NoReply", "Boolean", Variant(false));
  e.AddVariable("a", "Double", Variant(1.5));
  e.AddVariable("b", "Integer", Variant(7));
  e.AddVariable("c", "Word", Variant(3));
  std::vector<std::string> program = {"function ScriptExecute: Variant;"};
  for (const std::string& line : TypicalExecuteText()) program.push_back(line);
  for (const char* line : {"function ScriptStart: Variant;", "begin", "end;",
                           "function ScriptStop: Variant;", "begin", "end;", "begin", "end."})
    program.push_back(line);
  e.SetLines(std::move(program));
  if (!e.Compile()) {
    std::fprintf(stderr, "tag script: %s %s\n", e.ErrorPos().c_str(), e.ErrorMsg().c_str());
    return;
  }
  constexpr int kCalls = 200000;
  auto start = Clock::now();
  for (int k = 0; k < kCalls; ++k) e.CallFunction("ScriptExecute");
  const double call = Seconds(start, Clock::now()) / kCalls;
  start = Clock::now();
  for (int k = 0; k < kCalls; ++k) {
    e.SetVariable("self", Variant::OfWord(uint16_t(k)));
    e.SetVariable("a", Variant(1.5));
    e.SetVariable("b", Variant(k & 1023));
    e.SetVariable("c", Variant::OfWord(3));
    e.CallFunction("ScriptExecute");
    e.GetVariable("self");
    e.GetVariable("a");
    e.GetVariable("b");
    e.GetVariable("c");
    e.GetVariable("NoReply");
  }
  const double withTraffic = Seconds(start, Clock::now()) / kCalls;
  std::printf(
      "tag script call           %8.3f us   (with 4 SetVariable and 5 GetVariable: %.3f us;"
      " target 2 us)\n",
      call * 1e6, withTraffic * 1e6);
}

void CompileLongProgram() {
  std::vector<std::string> lines;
  int fn = 0;
  while (lines.size() < 490) {
    const std::string n = std::to_string(fn++);
    for (const std::string& l : std::vector<std::string>{
             "function F" + n + "(a: Integer; const s: String): Integer;",
             "var i, k: Integer; x: Double; t: String;", "begin", "  k := a * 2 + " + n + ";",
             "  x := k / 3.5;", "  t := s + IntToStr(k);",
             "  if (k > 10) and (Length(t) < 100) then k := k - 1 else k := k + 1;",
             "  for i := 1 to 10 do k := k + i mod 3;",
             "  case k of 1: k := 2; 3..5: k := 6; else k := 7; end;",
             "  while k > 100 do k := k div 2;", "  try x := x + Sqrt(k); except x := 0; end;",
             "  Result := k + Round(x);", "end;"})
      lines.push_back(l);
  }
  lines.push_back("begin");
  lines.push_back("  ShowMessage(IntToStr(F0(1, 'x')));");
  lines.push_back("end.");
  double best = 1e9;
  for (int k = 0; k < 20; ++k) {
    ScriptEngine e;
    e.SetLines(lines);
    const auto start = Clock::now();
    if (!e.Compile()) {
      std::fprintf(stderr, "long program: %s %s\n", e.ErrorPos().c_str(), e.ErrorMsg().c_str());
      return;
    }
    best = std::min(best, Seconds(start, Clock::now()));
  }
  std::printf("compile %zu lines          %8.3f ms   (target 5 ms)\n", lines.size(), best * 1e3);
}

}  // namespace
}  // namespace velkor

int main() {
  using namespace velkor;
  const std::string dir = VELKOR_SCRIPT_BENCH_DIR;
  const std::string lua = FindLua();
  if (lua.empty())
    std::printf("lua5.4 not found: install it (apt-get install lua5.4) for the ratios\n");
  std::printf("%-24s %10s %10s %8s  %s\n", "program", "ours (s)", "lua (s)", "ratio", "results");
  for (const char* name : {"sum", "fib", "sieve", "strings", "locals", "globals"}) {
    std::string ourOut, luaOut;
    const double ours = TimeOurs(dir + "/" + name + ".ps", ourOut);
    const double theirs = lua.empty() ? -1 : TimeLua(lua, dir + "/" + name + ".lua", luaOut);
    if (theirs > 0)
      std::printf("%-24s %10.4f %10.4f %8.2f  %s / %s\n", name, ours, theirs, ours / theirs,
                  ourOut.c_str(), luaOut.c_str());
    else
      std::printf("%-24s %10.4f %10s %8s  %s\n", name, ours, "-", "-", ourOut.c_str());
  }
  TagScriptCall();
  CompileLongProgram();
  return 0;
}
