// A template is a Device element in a document of its own; adding one reads the element
// in import mode (unique name, names re-rooted onto the new device).

#include "model/DeviceClass.h"
#include "project/ProjectXml.h"
#include "runtime/AtomicFile.h"

namespace velkor {
using namespace projectxml;
namespace {

TDeviceClass* Import(Project& project, TModbusTCPServer& server, std::string& buffer,
                     const std::string& path, const std::string* original) {
  pugi::xml_document doc;
  if (!Parse(doc, buffer, path, original, true)) throw NotATemplateError();
  TDeviceClass* device =
      ReadDevice(doc.document_element().first_child(), server, true, project.Pending);
  if (!device) return nullptr;
  if (project.Servers.IndexOf(&server) < 0) ResolveIn(server, project.Pending);
  ResolveScriptReferences(project);
  return device;
}

}  // namespace

std::string WriteTemplate(const TDeviceClass& device) {
  pugi::xml_document doc;
  WriteDevice(doc.append_child("server"), device, true);
  StringWriter writer;
  doc.save(writer, "", kSaveOptions, pugi::encoding_utf8);
  return std::move(writer.text);
}

void SaveTemplate(const TDeviceClass& device, const std::string& path) {
  WriteFileAtomically(path, WriteTemplate(device));
}

TDeviceClass* ImportTemplate(Project& project, TModbusTCPServer& server, const std::string& text) {
  std::string buffer = text;
  return Import(project, server, buffer, "", &text);
}

TDeviceClass* ImportTemplateFile(Project& project, TModbusTCPServer& server,
                                 const std::string& path) {
  std::string buffer = ReadFile(path);
  return Import(project, server, buffer, path, nullptr);
}

}  // namespace velkor
