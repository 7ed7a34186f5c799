#pragma once
// Internal to the project file code (reader, writer, templates): the pieces they share.
// Not for other layers: pugixml is a private dependency of velkor_project.
//
// One reader and one writer of the Device element serve projects and templates alike; a
// template only adds the import mode (unique name, names re-rooted onto the new device).

#include <pugixml.hpp>
#include <string>

#include "project/ProjectFile.h"

namespace velkor::projectxml {

using PendingMap = decltype(Project::Pending);

// Whitespace-only text is kept only where it is an element's sole content: that keeps a
// script line of blanks and drops the line breaks between tags. Text is stored as the
// element's value rather than as a child node, which halves the nodes of a big project.
inline constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;
inline constexpr unsigned kSaveOptions = pugi::format_raw | pugi::format_no_declaration;

// The whole file; throws VelkorError naming the path and the system's reason.
std::string ReadFile(const std::string& path);
// Parses the buffer in place (it must outlive the document). On a syntax error throws
// VelkorError with the line and the start of the offending text, located in *original
// when given, else in the file at path read again. A document without any element (empty,
// blanks, a declaration alone) is such an error too, unless emptyAllowed: then the result
// is false.
bool Parse(pugi::xml_document& doc, std::string& buffer, const std::string& path,
           const std::string* original, bool emptyAllowed = false);
// "path: " for messages, or "" for text that came from no file.
std::string Origin(const std::string& path);
int LineAt(std::string_view text, size_t offset);

// Reads a Device element into a new device appended to the server; nullptr (nothing
// created) when node is not a Device. Script references go to pending.
TDeviceClass* ReadDevice(pugi::xml_node node, TModbusTCPServer& server, bool import,
                         PendingMap& pending);
// Links the pending references of the server's script tags to tags of that server.
void ResolveIn(TModbusTCPServer& server, PendingMap& pending);

// Without tags, each Register is an empty element that marks the tag's place.
void WriteDevice(pugi::xml_node parent, const TDeviceClass& device, bool withTags);

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

}  // namespace velkor::projectxml
