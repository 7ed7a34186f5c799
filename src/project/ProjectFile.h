#pragma once
// Projects and device templates as XML files (pugixml). The writer reproduces the
// format exactly: element order, encodings, no declaration, UTF-8, and a line feed plus a
// carriage return between adjacent tags, since files move between installations. The
// reader is tolerant: a missing, empty or unconvertible element takes its default, unknown
// elements are ignored, a declaration or a UTF-8 byte-order mark is accepted, and script
// lines keep their leading blanks.
//
// Saving never destroys the old file (runtime/AtomicFile.h). The code is split along its
// seams: ProjectReader.cpp, ProjectWriter.cpp and DeviceTemplate.cpp, sharing
// project/ProjectXml.h.

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Error.h"
#include "project/ConstGroups.h"
#include "project/Functions.h"
#include "serving/ModbusServerList.h"

namespace velkor {

// Everything a project file holds, and the script references read from files but not yet
// linked to tags (they are linked by ResolveScriptReferences, never across servers).
struct Project {
  TModbusServerList Servers;
  TConstGroups ConstGroups;
  TFunctions Functions;
  // Per script tag: (full name of the used tag, variable name), in file order.
  std::map<TModbusRegister*, std::vector<std::pair<std::string, std::string>>> Pending;

  // Empties the project (servers, devices, tags, constants, functions).
  void Reset();
  int DeviceCount() const;
  int TagCount() const;
};

// Reads a file into the project, adding to what is there. Throws VelkorError when the file
// cannot be read, is not well-formed (the message names the reason and the line), has a
// root other than Servers, or holds a bad function or parameter name (the load stops
// there, keeping what was read before).
void LoadProject(Project& project, const std::string& path);
// Loads from text (tests, in-memory copies); same rules.
void LoadProjectText(Project& project, const std::string& text);
// Writes the whole project; on failure throws with the system's error text and leaves the
// previous file intact.
void SaveProject(const Project& project, const std::string& path);
// The text SaveProject writes.
std::string ProjectText(const Project& project);

void ResolveScriptReferences(Project& project);

// A document with no top-level node at all (an empty file, say): the window answers it with
// this message in an information box, while every other failure of an import goes to the
// top-level error handler.
class NotATemplateError : public VelkorError {
 public:
  NotATemplateError() : VelkorError("Некорректный шаблон") {}
};

// A template: root "server" holding one Device element, written as one line.
std::string WriteTemplate(const TDeviceClass& device);
void SaveTemplate(const TDeviceClass& device, const std::string& path);
// Adds the template's device to the server (name made unique, names re-rooted onto the
// new device) and links its scripts. nullptr, silently, when the first top-level node's
// first child is no Device; NotATemplateError when there is no top-level node; any other
// VelkorError for a file that cannot be read or is not well-formed.
TDeviceClass* ImportTemplate(Project& project, TModbusTCPServer& server, const std::string& text);
TDeviceClass* ImportTemplateFile(Project& project, TModbusTCPServer& server,
                                 const std::string& path);

}  // namespace velkor
