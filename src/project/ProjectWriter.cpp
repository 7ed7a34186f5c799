// The writer reproduces the format exactly, and a big project is written tag by tag
// straight to the file, never held whole as a document or a text.

#include <cstring>
#include <string_view>
#include <unordered_map>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/TextUtil.h"
#include "model/Variant.h"
#include "project/ProjectXml.h"
#include "runtime/AtomicFile.h"

namespace velkor {
using namespace projectxml;
namespace {

void AddText(pugi::xml_node parent, const char* name, std::string_view text) {
  pugi::xml_node node = parent.append_child(name);
  // No text node for empty text: "<X></X>" would take a line break from the layout.
  if (!text.empty()) node.append_child(pugi::node_pcdata).set_value(text.data(), text.size());
}

void AddInt(pugi::xml_node parent, const char* name, int64_t value) {
  AddText(parent, name, std::to_string(value));
}

// Every integer field of up to 32 bits is stored as a signed 32-bit number.
void AddInt32(pugi::xml_node parent, const char* name, uint32_t value) {
  AddInt(parent, name, int32_t(value));
}

void AddBool(pugi::xml_node parent, const char* name, bool value) {
  AddText(parent, name, value ? "true" : "false");
}

// A boolean is written as every boolean of the format is, "true"/"false"; a date-time
// always with its time, so that every date has the one form "dd.MM.yyyy h:mm:ss".
std::string Encode(const Variant& value) {
  switch (value.Type()) {
    case VarType::Bool:
      return value.RawInt() ? "true" : "false";
    case VarType::Float:
    case VarType::Double:
      return FormatReal(value.RawReal(), 15);
    case VarType::DateTime:
      return FormatDateTime(value.RawReal(), true);
    default:
      return value.ToString();
  }
}

void AddTyped(pugi::xml_node parent, const char* name, const Variant& value) {
  AddText(parent, name, Encode(value));
}

// Parameters assigned without SetType may still hold another kind; the tag converts them
// at its next step, and the file gets what that step would see.
Variant AsTagType(const TModbusRegister& tag, const Variant& value) {
  const VarType type = tag.Type();
  if (value.Type() == type || type == VarType::Bool || type == VarType::DateTime) return value;
  try {
    return value.ConvertTo(type);
  } catch (const VelkorError&) {
    return value;
  }
}

void WriteGroup(pugi::xml_node parent, const TGroupClass& group) {
  pugi::xml_node node = parent.append_child("Items");
  AddText(node, "Name", group.Name());
  for (const auto& child : group.Children()) WriteGroup(node, *child);
}

void WriteLines(pugi::xml_node parent, const char* name, const std::vector<std::string>& lines) {
  pugi::xml_node node = parent.append_child(name);
  for (const std::string& line : lines) AddText(node, "Line", line);
}

// Full names of the groups of one device, each built once.
class GroupNames {
 public:
  explicit GroupNames(const TDeviceClass& device) : m_deviceFullName(device.FullName()) {}
  const std::string& Of(const TGroupClass* group) {
    if (!group) return m_deviceFullName;
    auto [it, inserted] = m_names.try_emplace(group);
    if (inserted) it->second = group->FullName();
    return it->second;
  }

 private:
  std::string m_deviceFullName;
  std::unordered_map<const TGroupClass*, std::string> m_names;
};

pugi::xml_node WriteTag(pugi::xml_node parent, const TModbusRegister& tag, GroupNames& groups) {
  pugi::xml_node node = parent.append_child("Register");
  AddText(node, "Name", tag.Name());
  AddInt(node, "Addr", tag.Addr);
  AddInt(node, "BitAddr", tag.BitAddr);
  AddInt(node, "vType", tag.vType());
  AddText(node, "Description", tag.Description);
  AddInt(node, "mSpace", tag.mSpace);
  AddText(node, "ConstGroupName", tag.ConstGroupName);
  AddText(node, "Group", tag.Group() ? groups.Of(tag.Group()) : std::string());
  switch (tag.WorkType) {
    case kWorkIncrement:
      AddTyped(node, "IncDec", AsTagType(tag, tag.IncDec));
      break;
    case kWorkRandom:
      AddTyped(node, "Min", AsTagType(tag, tag.Min));
      AddTyped(node, "Max", AsTagType(tag, tag.Max));
      break;
    case kWorkSine:
      AddTyped(node, "Sin.Amplitude", AsTagType(tag, tag.Sin.Amplitude));
      AddInt32(node, "Sin.Period", tag.Sin.Period);
      AddTyped(node, "Sin.Offset", AsTagType(tag, tag.Sin.Offset));
      break;
    case kWorkSaw:
      AddTyped(node, "Pila.Amplitude", AsTagType(tag, tag.Pila.Amplitude));
      AddInt32(node, "Pila.Period", tag.Pila.Period);
      AddTyped(node, "Pila.Offset", AsTagType(tag, tag.Pila.Offset));
      AddInt(node, "Pila.pType", tag.Pila.pType);
      break;
    case kWorkScript: {
      const TScriptClass& script = tag.Script();
      WriteLines(node, "Script", script.ExecuteText);
      WriteLines(node, "ScriptStart", script.StartText);
      WriteLines(node, "ScriptStop", script.StopText);
      pugi::xml_node refs = node.append_child("RegVals");
      for (int i = 0; i < script.VariableCount(); ++i) {
        pugi::xml_node ref = refs.append_child("RegVal");
        AddText(ref, "RegFullName", script.VariableTags().Items(i)->FullName());
        AddText(ref, "ValName", script.VariableNames()[size_t(i)]);
      }
      break;
    }
    case kWorkOPC:
      AddText(node, "ProgID", tag.ProgID);
      AddText(node, "OPCItem", tag.OPCItem);
      AddInt(node, "OPCUse", tag.OPCUse);
      break;
    default:
      break;
  }
  AddInt(node, "WorkType", tag.WorkType);
  AddInt(node, "DataFormat", tag.DataFormat);
  AddText(node, "Percent", FormatReal(double(tag.Percent), 15));
  AddInt(node, "Period", tag.Period);
  AddText(node, "RegFullName", groups.Of(tag.Group()) + "." + tag.Name());
  AddInt32(node, "RegsCount", tag.RegisterCount());
  AddTyped(node, "Value", tag.GetValue());
  AddTyped(node, "DefValue", tag.DefValue);
  return node;
}

void WriteServer(pugi::xml_node parent, const TModbusTCPServer& server) {
  pugi::xml_node node = parent.append_child("Server");
  AddText(node, "Name", server.Name());
  AddInt(node, "Port", server.Port);
  AddText(node, "Desc", server.Desc);
  AddBool(node, "Mode", server.Mode);
  AddInt32(node, "BAUD", uint32_t(server.BAUD));
  AddInt(node, "PARITY", server.PARITY);
  AddInt(node, "STOPS", server.STOPS);
  AddInt(node, "BITS", server.BITS);
  AddInt32(node, "INTERVAL", uint32_t(server.INTERVAL));
  AddText(node, "COMMPORT", server.COMMPORT);
  for (const auto& device : server.Devices()) WriteDevice(node, *device, false);
}

// Passes the text on with a line feed and a carriage return between adjacent tags. Markup
// characters in text are escaped, so "><" occurs only between tags and text is never
// touched.
class LayoutWriter : public pugi::xml_writer {
 public:
  explicit LayoutWriter(pugi::xml_writer& next) : m_next(next) { m_buffer.reserve(2 * kChunk); }
  void write(const void* data, size_t size) override {
    const char* at = static_cast<const char*>(data);
    const char* const end = at + size;
    while (at != end) {
      const char* tag = static_cast<const char*>(std::memchr(at, '<', size_t(end - at)));
      m_buffer.append(at, tag ? tag : end);
      if (!tag) break;
      if ((m_buffer.empty() ? m_last : m_buffer.back()) == '>') m_buffer += "\n\r";
      m_buffer += '<';
      at = tag + 1;
    }
    if (m_buffer.size() >= kChunk) Flush();
  }
  // The text goes on in chunks: a call per gap between tags would cost more than the layout.
  void Flush() {
    if (m_buffer.empty()) return;
    m_last = m_buffer.back();
    m_next.write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
  }

 private:
  static constexpr size_t kChunk = 65536;
  pugi::xml_writer& m_next;
  std::string m_buffer;
  char m_last = 0;
};

void WriteConstGroups(pugi::xml_node parent, const TConstGroups& groups) {
  pugi::xml_node node = parent.append_child("CONSTGROUPS");
  for (int i = 0; i < groups.Count(); ++i) {
    const TConstGroup& group = *groups.Items(i);
    pugi::xml_node groupNode = node.append_child("CONSTGROUP");
    AddText(groupNode, "Name", group.Name);
    for (int j = 0; j < group.Count(); ++j) {
      pugi::xml_node constNode = groupNode.append_child("CONST");
      AddText(constNode, "NAME", group.Items(j)->Name);
      AddText(constNode, "VALUE", group.Items(j)->Value);
    }
  }
}

void WriteFunctions(pugi::xml_node parent, const TFunctions& functions) {
  pugi::xml_node node = parent.append_child("FUNCTIONS");
  for (int i = 0; i < functions.Count(); ++i) {
    const TFunction& function = *functions.Items(i);
    pugi::xml_node functionNode = node.append_child("FUNCTION");
    AddText(functionNode, "Name", function.Name);
    AddBool(functionNode, "Extern", function.Extern);
    AddText(functionNode, "ExtPath", function.ExtPath);
    AddInt(functionNode, "RetType", uint16_t(function.RetType));
    AddInt(functionNode, "Convention", function.Convention);
    WriteLines(functionNode, "Script", function.Text);
    pugi::xml_node params = functionNode.append_child("Params");
    for (int j = 0; j < function.Params.Count(); ++j) {
      pugi::xml_node param = params.append_child("Param");
      AddText(param, "Name", function.Params.Items(j)->Name);
      AddInt(param, "Type", uint16_t(function.Params.Items(j)->Type));
    }
  }
}

constexpr std::string_view kTagPlaceholder = "<Register/>";

void WriteProject(const Project& project, pugi::xml_writer& out) {
  // The document holds everything but the tags, each an empty element that marks its
  // place; every tag is built and written on its own in place of its mark. A project of
  // 100,000 tags thus never holds its whole DOM, whose memory would cost more than the
  // writing itself.
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("Servers");
  for (const auto& server : project.Servers) WriteServer(root, *server);
  WriteConstGroups(root, project.ConstGroups);
  WriteFunctions(root, project.Functions);
  StringWriter skeleton;
  doc.save(skeleton, "", kSaveOptions, pugi::encoding_utf8);

  LayoutWriter layout(out);
  size_t from = 0;
  pugi::xml_document scratch;
  for (const auto& server : project.Servers) {
    for (const auto& device : server->Devices()) {
      GroupNames groups(*device);
      for (const auto& tag : device->Tags()) {
        const size_t at = skeleton.text.find(kTagPlaceholder, from);
        layout.write(skeleton.text.data() + from, at - from);
        const pugi::xml_node node = WriteTag(scratch, *tag, groups);
        node.print(layout, "", kSaveOptions, pugi::encoding_utf8);
        scratch.remove_child(node);
        from = at + kTagPlaceholder.size();
      }
    }
  }
  layout.write(skeleton.text.data() + from, skeleton.text.size() - from);
  layout.Flush();
}

struct FileWriter : pugi::xml_writer {
  explicit FileWriter(AtomicFile& f) : file(f) {}
  void write(const void* data, size_t size) override { file.Write(data, size); }
  AtomicFile& file;
};

}  // namespace

void projectxml::WriteDevice(pugi::xml_node parent, const TDeviceClass& device, bool withTags) {
  pugi::xml_node node = parent.append_child("Device");
  AddText(node, "Name", device.Name());
  AddInt(node, "Number", device.Number);
  AddText(node, "Description", device.Description);
  AddBool(node, "NoReply", device.NoReply);
  AddInt32(node, "ReplyTimeout", device.ReplyTimeout);
  AddInt32(node, "ReplyTimeoutTo", device.ReplyTimeoutTo);
  AddBool(node, "BitsMerge", device.Space().BitsMerge);
  AddBool(node, "RegsMerge", device.Space().RegsMerge);
  AddText(node, "ProgID", device.ProgID);
  // The model hands out the root group only through its non-const accessor; it is read here.
  WriteGroup(node.append_child("Groups"), const_cast<TDeviceClass&>(device).RootGroup());
  GroupNames groups(device);
  for (const auto& tag : device.Tags()) {
    if (withTags)
      WriteTag(node, *tag, groups);
    else
      node.append_child("Register");
  }
}

void SaveProject(const Project& project, const std::string& path) {
  AtomicFile file(path);
  FileWriter writer(file);
  WriteProject(project, writer);
  file.Commit();
}

std::string ProjectText(const Project& project) {
  StringWriter writer;
  WriteProject(project, writer);
  return std::move(writer.text);
}

}  // namespace velkor
