// Any bytes as a project file. A load either fails with the project's error type or fills
// the project; what was read, written out, must read back to the same text (the writer's
// form is a fixed point), so nothing a file can hold is lost or changed by a save.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/Error.h"
#include "project/ProjectFile.h"

using namespace velkor;

namespace {

// Each device owns its register tables (about half a megabyte): a text naming many devices
// measures memory, not the reader.
constexpr size_t kMaxDevices = 64;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (Count(text, "Device") > kMaxDevices) return 0;
  Project project;
  try {
    LoadProjectText(project, text);
  } catch (const VelkorError&) {
    return 0;
  }
  ResolveScriptReferences(project);
  const std::string written = ProjectText(project);
  Project again;
  LoadProjectText(again, written);  // a saved file that does not load is a finding
  ResolveScriptReferences(again);
  if (ProjectText(again) != written) {
    std::fprintf(stderr, "a saved project reads back differently:\n%s\n", written.c_str());
    std::abort();
  }
  return 0;
}
