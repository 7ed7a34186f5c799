#include "script/ScriptRunner.h"

#include <fstream>
#include <ostream>
#include <sstream>
#include <vector>

#include "script/ScriptEngine.h"

namespace velkor {

int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    err << path << ": cannot read the file\n";
    return kRunCompileError;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  ScriptEngine engine;
  engine.SetShowMessageHandler([&out](const std::string& text) { out << text << '\n'; });
  engine.SetLines(std::move(lines));
  if (!engine.Compile()) {
    err << path << ":" << engine.ErrorPos() << ": " << engine.ErrorMsg() << '\n';
    return kRunCompileError;
  }
  try {
    engine.RunMain();
  } catch (const ScriptError& e) {
    out.flush();
    err << path << ":" << e.Line() << ": " << e.what() << '\n';
    return kRunRuntimeError;
  }
  return kRunOk;
}

}  // namespace velkor
