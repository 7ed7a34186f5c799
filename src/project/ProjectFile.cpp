// One reader and one writer of the Device element serve projects and templates alike; a
// template only adds the import mode (unique name, names re-rooted onto the new device).
// Scalars are read through a few typed helpers, each taking its default for a missing,
// empty or unconvertible element, so no field read can stop a load.

#include "project/ProjectFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/TextUtil.h"
#include "model/Variant.h"

namespace velkor {
namespace {

using PendingMap = decltype(Project::Pending);

// Whitespace-only text is kept only where it is an element's sole content: that keeps a
// script line of blanks and drops the line breaks between tags. Text is stored as the
// element's value rather than as a child node, which halves the nodes of a big project.
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;
constexpr unsigned kSaveOptions = pugi::format_raw | pugi::format_no_declaration;
constexpr const char* kZeroGuid = "{00000000-0000-0000-0000-000000000000}";

// ---------------------------------------------------------------- reading fields

// Each helper takes the field's element (null when missing) and its default.

std::string ReadText(pugi::xml_node field, const char* fallback) {
  const std::string_view text = field.text().get();
  return std::string(text.empty() ? std::string_view(fallback) : text);
}

// A number outside the field's range takes the default, like text that is no number: a
// clamped or wrapped value would be a setting nobody chose.
int64_t ReadInt(pugi::xml_node field, int64_t lo, int64_t hi, int64_t fallback) {
  int64_t integer = 0;
  double real = 0;
  bool isInteger = false;
  if (!ParseNumber(field.text().get(), integer, real, isInteger) || !isInteger) return fallback;
  return integer >= lo && integer <= hi ? integer : fallback;
}

uint8_t ReadU8(pugi::xml_node field, uint8_t fallback) {
  return uint8_t(ReadInt(field, 0, UINT8_MAX, fallback));
}

uint16_t ReadU16(pugi::xml_node field, uint16_t fallback) {
  return uint16_t(ReadInt(field, 0, UINT16_MAX, fallback));
}

// Fields of up to 32 bits are written as signed 32-bit numbers, so an unsigned value above
// 2^31 - 1 comes back negative; taking those forms too lets every value round-trip.
uint32_t ReadU32(pugi::xml_node field, uint32_t fallback) {
  return uint32_t(ReadInt(field, INT32_MIN, UINT32_MAX, fallback));
}

bool ReadBool(pugi::xml_node field, bool fallback) {
  const char* text = field.text().get();
  bool word = false;
  if (ParseBoolWord(text, word)) return word;
  int64_t integer = 0;
  double real = 0;
  bool isInteger = false;
  if (ParseNumber(text, integer, real, isInteger) && isInteger) return integer != 0;
  return fallback;
}

float ReadFloat(pugi::xml_node field, float fallback) {
  int64_t integer = 0;
  double real = 0;
  bool isInteger = false;
  if (!ParseNumber(field.text().get(), integer, real, isInteger)) return fallback;
  return std::isfinite(real) && std::fabs(real) <= FLT_MAX ? float(real) : fallback;
}

Variant DefaultOf(VarType type) { return Variant(0).ConvertTo(type); }

// A tag-typed field: the text converted to the tag's type. emptyIsText serves Value and
// DefValue of a String tag, where an empty element is the empty text the tag held, not
// the default 0.
Variant ReadTyped(pugi::xml_node field, VarType type, bool emptyIsText = false) {
  const std::string_view text = field.text().get();
  if (text.empty())
    return field && emptyIsText && type == VarType::String ? Variant(std::string())
                                                           : DefaultOf(type);
  try {
    return Variant(text).ConvertTo(type);
  } catch (const VelkorError&) {
    return DefaultOf(type);
  }
}

// The fields of a tag, found in one pass over its children: a project holds some 100,000
// tags of thirty fields, and a lookup by name per field would scan the children each time.
struct TagFields {
  pugi::xml_node Name, Addr, BitAddr, vType, Description, mSpace, ConstGroupName, Group, IncDec,
      Min, Max, SinAmplitude, SinPeriod, SinOffset, PilaAmplitude, PilaPeriod, PilaOffset, PilaType,
      Script, ScriptStart, ScriptStop, ProgID, OPCItem, OPCUse, WorkType, DataFormat, Percent,
      Period, RegsCount, Value, DefValue;

  explicit TagFields(pugi::xml_node node) {
    using F = TagFields;
    static const std::unordered_map<std::string_view, pugi::xml_node F::*> kByName = {
        {"Name", &F::Name},
        {"Addr", &F::Addr},
        {"BitAddr", &F::BitAddr},
        {"vType", &F::vType},
        {"Description", &F::Description},
        {"mSpace", &F::mSpace},
        {"ConstGroupName", &F::ConstGroupName},
        {"Group", &F::Group},
        {"IncDec", &F::IncDec},
        {"Min", &F::Min},
        {"Max", &F::Max},
        {"Sin.Amplitude", &F::SinAmplitude},
        {"Sin.Period", &F::SinPeriod},
        {"Sin.Offset", &F::SinOffset},
        {"Pila.Amplitude", &F::PilaAmplitude},
        {"Pila.Period", &F::PilaPeriod},
        {"Pila.Offset", &F::PilaOffset},
        {"Pila.pType", &F::PilaType},
        {"Script", &F::Script},
        {"ScriptStart", &F::ScriptStart},
        {"ScriptStop", &F::ScriptStop},
        {"ProgID", &F::ProgID},
        {"OPCItem", &F::OPCItem},
        {"OPCUse", &F::OPCUse},
        {"WorkType", &F::WorkType},
        {"DataFormat", &F::DataFormat},
        {"Percent", &F::Percent},
        {"Period", &F::Period},
        {"RegsCount", &F::RegsCount},
        {"Value", &F::Value},
        {"DefValue", &F::DefValue}};
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      const auto it = kByName.find(child.name());
      if (it != kByName.end() && !(this->*it->second)) this->*it->second = child;  // the first
    }
  }
};

uint8_t DefaultFormat(VarType type) {
  switch (type) {
    case VarType::Integer:
    case VarType::Float:
    case VarType::DWord:
      return 4;
    case VarType::Double:
    case VarType::DateTime:
    case VarType::Int64:
      return 8;
    default:
      return 2;
  }
}

// Element children only: the whitespace a layout puts between lines is no line.
bool HasElementChild(pugi::xml_node node) {
  return node.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
}

std::vector<std::string> ReadLines(pugi::xml_node node) {
  std::vector<std::string> lines;
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element && *child.text().get())
      lines.emplace_back(child.text().get());
  return lines;
}

// ---------------------------------------------------------------- parsing

int LineAt(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + int(std::count(text.begin(), text.begin() + ptrdiff_t(offset), '\n'));
}

// The start of the offending text, cut at the line's end and at a character boundary.
std::string SnippetAt(std::string_view text, size_t offset) {
  constexpr size_t kLength = 40;
  if (offset >= text.size()) return {};
  size_t end = std::min(text.size(), offset + kLength);
  while (end > offset && end < text.size() && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
  const std::string_view rest = text.substr(offset, end - offset);
  return std::string(rest.substr(0, rest.find_first_of("\r\n")));
}

std::string Origin(const std::string& path) { return path.empty() ? "" : path + ": "; }

std::string ReadFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw VelkorError("Не удалось открыть файл " + path + ": " + SystemErrorText(errno));
  // Sized once from the file's length: a big project is read without regrowing the text.
  struct stat st;
  std::string text;
  if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) text.resize(size_t(st.st_size));
  size_t length = std::fread(text.data(), 1, text.size(), file);
  char chunk[65536];
  for (size_t count; length == text.size() && (count = std::fread(chunk, 1, sizeof chunk, file));)
    length = text.append(chunk, count).size();
  text.resize(length);
  const int error = std::ferror(file) ? errno : 0;
  std::fclose(file);
  if (error) throw VelkorError("Не удалось прочитать файл " + path + ": " + SystemErrorText(error));
  return text;
}

// Parses the buffer in place, which spares a copy of a big project. Parsing rewrites the
// buffer, so an error is located in the original text: the caller's, or the file again.
void Parse(pugi::xml_document& doc, std::string& buffer, const std::string& path,
           const std::string* original) {
  const pugi::xml_parse_result result =
      doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions, pugi::encoding_auto);
  if (result) return;
  std::string reread;
  if (!original) {
    try {
      reread = ReadFile(path);
    } catch (const VelkorError&) {
      reread = buffer;
    }
  }
  const std::string& text = original ? *original : reread;
  const size_t offset = size_t(std::max<ptrdiff_t>(result.offset, 0));
  std::string message = Origin(path) + "Ошибка XML в строке " +
                        std::to_string(LineAt(text, offset)) + ": " + result.description();
  if (const std::string snippet = SnippetAt(text, offset); !snippet.empty())
    message += ": " + snippet;
  throw VelkorError(message);
}

// ---------------------------------------------------------------- reading objects

// Moves a name that points into the source device onto the new device: drops the source
// server and device names (the text up to the second "."), puts the new full name first.
std::string Reroot(std::string name, const std::string& deviceFullName) {
  for (int i = 0; i < 2; ++i)
    if (const size_t dot = name.find('.'); dot != std::string::npos) name.erase(0, dot + 1);
  return deviceFullName + "." + name;
}

std::unique_ptr<TGroupClass> ReadGroup(pugi::xml_node node, TGroupClass* parent) {
  auto group = std::make_unique<TGroupClass>(
      ReadText(node.child("Name"), TGroupClass::kDefaultName), parent);
  for (pugi::xml_node child : node.children("Items"))
    group->Children().Add(ReadGroup(child, group.get()));
  return group;
}

void ReadTag(pugi::xml_node node, TDeviceClass& device, bool import,
             const std::string& deviceFullName) {
  const TagFields f(node);
  auto tag = std::make_unique<TModbusRegister>();
  tag->SetName(ReadText(f.Name, "Reg"));
  tag->Addr = ReadU16(f.Addr, 0);
  tag->BitAddr = ReadU8(f.BitAddr, 0);
  tag->ConstGroupName = ReadText(f.ConstGroupName, "");
  tag->Description = ReadText(f.Description, "");
  tag->WorkType = ReadU8(f.WorkType, kWorkManual);

  uint16_t code = ReadU16(f.vType, uint16_t(VarType::Word));
  if (!IsTagType(code)) code = uint16_t(VarType::Word);
  tag->SetType(code);  // a new tag's value and parameters convert to every type
  const VarType type = tag->Type();
  // String tags read their byte order too: without it a String saved with "0_1" would
  // come back with the bytes of every register swapped.
  tag->DataFormat = ReadU8(f.DataFormat, DefaultFormat(type));

  tag->mSpace = ReadU8(f.mSpace, kHoldingRegs);
  tag->Min = ReadTyped(f.Min, type);
  tag->Max = ReadTyped(f.Max, type);
  tag->IncDec = ReadTyped(f.IncDec, type);
  tag->Percent = ReadFloat(f.Percent, 0);
  tag->Period = ReadInt(f.Period, INT64_MIN, INT64_MAX, 100);
  tag->SetRegsCount(uint32_t(ReadInt(f.RegsCount, 0, INT32_MAX, 0)));  // below 0 is no count

  tag->Sin.Amplitude = ReadTyped(f.SinAmplitude, type);
  tag->Sin.Period = ReadU32(f.SinPeriod, 0);
  tag->Sin.Offset = ReadTyped(f.SinOffset, type);
  tag->Pila.Amplitude = ReadTyped(f.PilaAmplitude, type);
  tag->Pila.Period = ReadU32(f.PilaPeriod, 0);
  tag->Pila.Offset = ReadTyped(f.PilaOffset, type);
  tag->Pila.pType = ReadU8(f.PilaType, kSawTriangle);

  tag->ProgID = ReadText(f.ProgID, "");
  tag->OPCItem = ReadText(f.OPCItem, "");
  tag->OPCUse = ReadU8(f.OPCUse, 0);

  std::string groupName = ReadText(f.Group, "");
  if (import && !groupName.empty()) groupName = Reroot(std::move(groupName), deviceFullName);
  TGroupClass* group = groupName.empty() ? nullptr : device.FindGroup(groupName);

  // The script object is made only for tags whose file holds script text.
  const std::pair<pugi::xml_node, TScriptClass::Lines TScriptClass::*> texts[] = {
      {f.Script, &TScriptClass::ExecuteText},
      {f.ScriptStart, &TScriptClass::StartText},
      {f.ScriptStop, &TScriptClass::StopText}};
  for (const auto& [lines, text] : texts)
    if (HasElementChild(lines)) tag->Script().*text = ReadLines(lines);

  TModbusRegister* added = device.AddTag(std::move(tag), group);
  LockGuard lock(added->Lock());
  const Variant value = ReadTyped(f.Value, type, true);
  try {
    added->SetValue(value);
  } catch (const VelkorError&) {
    added->SetValue(DefaultOf(type));
  }
  added->DefValue = ReadTyped(f.DefValue, type, true);
  added->LastOPCValue = added->GetValue();
}

void ReadReferences(pugi::xml_node deviceNode, TDeviceClass& device, bool import,
                    const std::string& deviceFullName, PendingMap& pending) {
  // First tag of each full name, in list order; built only when a script tag needs it.
  std::unordered_map<std::string, TModbusRegister*> byName;
  for (pugi::xml_node node : deviceNode.children("Register")) {
    if (ReadU8(node.child("WorkType"), kWorkManual) != kWorkScript) continue;
    if (byName.empty())
      for (const auto& tag : device.Tags()) byName.try_emplace(tag->FullName(), tag.get());
    std::string fullName = ReadText(node.child("RegFullName"), "");
    if (import) fullName = Reroot(std::move(fullName), deviceFullName);
    const auto found = byName.find(fullName);
    if (found == byName.end()) continue;
    auto& references = pending[found->second];
    references.clear();
    for (pugi::xml_node ref : node.child("RegVals").children("RegVal")) {
      std::string refName = ReadText(ref.child("RegFullName"), "");
      if (import) refName = Reroot(std::move(refName), deviceFullName);
      references.emplace_back(std::move(refName), ReadText(ref.child("ValName"), kZeroGuid));
    }
  }
}

TDeviceClass* ReadDevice(pugi::xml_node node, TModbusTCPServer& server, bool import,
                         PendingMap& pending) {
  if (std::strcmp(node.name(), "Device") != 0) return nullptr;
  // The in-memory default name is Russian; files written elsewhere expect this one.
  std::string name = ReadText(node.child("Name"), "Device");
  if (import) name = server.UniqueDeviceName(name);
  auto created = std::make_unique<TDeviceClass>();
  created->SetName(std::move(name));
  // Joining the server first gives the tags their full names while they are read.
  TDeviceClass* device = server.Devices().Add(std::move(created));

  device->Number = ReadU8(node.child("Number"), 1);
  device->Description = ReadText(node.child("Description"), "");
  device->ProgID = ReadText(node.child("ProgID"), "");
  device->NoReply = ReadBool(node.child("NoReply"), false);
  device->ReplyTimeout = ReadU32(node.child("ReplyTimeout"), 0);
  device->ReplyTimeoutTo = ReadU32(node.child("ReplyTimeoutTo"), 0);
  device->Space().BitsMerge = ReadBool(node.child("BitsMerge"), false);
  device->Space().RegsMerge = ReadBool(node.child("RegsMerge"), false);

  // The root group keeps the name the device gave it; only its children come from the file.
  for (pugi::xml_node child : node.child("Groups").child("Items").children("Items"))
    device->AddGroup(ReadGroup(child, nullptr));

  const std::string deviceFullName = device->FullName();
  {
    // Device before tag, the lock order; one acquisition serves every tag.
    LockGuard lock(device->DeviceLock());
    for (pugi::xml_node child : node.children("Register"))
      ReadTag(child, *device, import, deviceFullName);
  }
  ReadReferences(node, *device, import, deviceFullName, pending);
  return device;
}

void ReadServer(pugi::xml_node node, Project& project) {
  auto created = std::make_unique<TModbusTCPServer>();
  created->SetName(ReadText(node.child("Name"), "Server"));
  created->Port = ReadU16(node.child("Port"), 503);
  created->Desc = ReadText(node.child("Desc"), "");
  created->Mode = ReadBool(node.child("Mode"), true);
  created->BAUD = int32_t(ReadU32(node.child("BAUD"), 9600));
  created->PARITY = ReadU8(node.child("PARITY"), 0);
  created->STOPS = ReadU8(node.child("STOPS"), 0);
  created->BITS = ReadU8(node.child("BITS"), 8);
  created->INTERVAL = int32_t(ReadU32(node.child("INTERVAL"), 40));
  created->COMMPORT = ReadText(node.child("COMMPORT"), "COM1");
  TModbusTCPServer* server = project.Servers.Add(std::move(created));
  // A device's elements are dropped once it is read: the tags of the next device then
  // reuse their memory instead of touching fresh pages.
  for (pugi::xml_node child = node.first_child(), next; child; child = next) {
    next = child.next_sibling();
    if (ReadDevice(child, *server, false, project.Pending)) node.remove_child(child);
  }
}

void ReadConstGroups(pugi::xml_node node, TConstGroups& groups) {
  for (pugi::xml_node groupNode : node.children("CONSTGROUP")) {
    auto group = std::make_unique<TConstGroup>(ReadText(groupNode.child("Name"), ""));
    for (pugi::xml_node constNode : groupNode.children("CONST"))
      group->Add(std::make_unique<TConstClass>(ReadText(constNode.child("NAME"), ""),
                                               ReadText(constNode.child("VALUE"), "")));
    groups.Add(std::move(group));
  }
}

void ReadFunctions(pugi::xml_node node, TFunctions& functions) {
  for (pugi::xml_node functionNode : node.children("FUNCTION")) {
    auto function = std::make_unique<TFunction>();
    function->Name = ReadText(functionNode.child("Name"), "");
    function->Extern = ReadBool(functionNode.child("Extern"), false);
    function->ExtPath = ReadText(functionNode.child("ExtPath"), "");
    function->RetType = VarType(ReadU16(functionNode.child("RetType"), uint16_t(VarType::Word)));
    function->Convention = ReadU8(functionNode.child("Convention"), 0);
    function->Text = ReadLines(functionNode.child("Script"));
    for (pugi::xml_node paramNode : functionNode.child("Params").children("Param")) {
      auto param = std::make_unique<TFuncParam>();
      param->Name = ReadText(paramNode.child("Name"), "");
      param->Type = VarType(ReadU16(paramNode.child("Type"), uint16_t(VarType::Word)));
      function->Params.Add(std::move(param));
    }
    functions.Add(std::move(function));
  }
}

// The buffer is parsed in place and must outlive the document.
void LoadDocument(Project& project, std::string& buffer, const std::string& path,
                  const std::string* original) {
  pugi::xml_document doc;
  Parse(doc, buffer, path, original);
  const pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "Servers") != 0)
    throw VelkorError(
        Origin(path) + "Ошибка XML в строке " +
        std::to_string(LineAt(buffer, size_t(std::max<ptrdiff_t>(root.offset_debug(), 0)))) +
        ": корневой элемент " + root.name() + ", а не Servers");
  for (pugi::xml_node node : root.children("Server")) ReadServer(node, project);
  for (pugi::xml_node node : root.children("CONSTGROUPS"))
    ReadConstGroups(node, project.ConstGroups);
  for (pugi::xml_node node : root.children("FUNCTIONS")) ReadFunctions(node, project.Functions);
  ResolveScriptReferences(project);
}

// ---------------------------------------------------------------- writing

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

// Without tags, each Register is an empty element that marks the tag's place.
void WriteDevice(pugi::xml_node parent, const TDeviceClass& device, bool withTags) {
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

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

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

[[noreturn]] void ThrowSaveError(int error, const std::string& path) {
  throw VelkorError("Не удалось записать файл " + path + ": " + SystemErrorText(error));
}

// Permissions a new file would get: those of the file it replaces, else 0666 less the
// umask (read from /proc, since umask() cannot be read without changing it).
mode_t ModeFor(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status))
      if (std::strncmp(line, "Umask:", 6) == 0) mask = mode_t(std::strtoul(line + 6, nullptr, 8));
    std::fclose(status);
  }
  return 0666 & ~mask;
}

struct FileWriter : pugi::xml_writer {
  explicit FileWriter(FILE* f) : file(f) {}
  void write(const void* data, size_t size) override {
    if (!error && std::fwrite(data, 1, size, file) != size) error = errno ? errno : EIO;
  }
  FILE* file;
  int error = 0;
};

// The old file is replaced only by a complete, flushed new one: a failure at any step
// removes the temporary file and leaves the target as it was.
void WriteFileAtomically(const std::string& path,
                         const std::function<void(pugi::xml_writer&)>& produce) {
  std::string target = path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link.
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : target.substr(0, slash);
  std::string temp = dir + "/.velkor-save-XXXXXX";

  const int fd = mkstemp(temp.data());
  if (fd < 0) ThrowSaveError(errno, path);
  FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int error = errno;
    close(fd);
    unlink(temp.c_str());
    ThrowSaveError(error, path);
  }
  FileWriter writer(file);
  try {
    if (fchmod(fd, ModeFor(target)) != 0) writer.error = errno;
    if (!writer.error) produce(writer);
  } catch (...) {
    std::fclose(file);
    unlink(temp.c_str());
    throw;
  }
  int error = writer.error;
  if (!error && (std::fflush(file) != 0 || fsync(fd) != 0)) error = errno;
  if (std::fclose(file) != 0 && !error) error = errno;
  if (!error && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error) {
    unlink(temp.c_str());
    ThrowSaveError(error, path);
  }
  // The rename itself reaches the disk with the directory.
  if (const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY); dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

// Links the pending references of the server's script tags to tags of that server (first
// match, device by device, as FindTag has it) and drops the ones that name no tag.
void ResolveIn(TModbusTCPServer& server, PendingMap& pending) {
  std::unordered_map<std::string, TModbusRegister*> byName;
  for (const auto& device : server.Devices()) {
    for (const auto& tag : device->Tags()) {
      if (pending.empty()) return;
      if (tag->WorkType != kWorkScript) continue;
      const auto found = pending.find(tag.get());
      if (found == pending.end()) continue;
      if (byName.empty())
        for (const auto& d : server.Devices())
          for (const auto& t : d->Tags()) byName.try_emplace(t->FullName(), t.get());
      for (const auto& [fullName, variable] : found->second)
        if (const auto used = byName.find(fullName); used != byName.end())
          tag->Script().BindVariable(used->second, variable);
      pending.erase(found);
    }
  }
}

TDeviceClass* Import(Project& project, TModbusTCPServer& server, std::string& buffer,
                     const std::string& path, const std::string* original) {
  pugi::xml_document doc;
  Parse(doc, buffer, path, original);
  TDeviceClass* device =
      ReadDevice(doc.document_element().first_child(), server, true, project.Pending);
  if (!device) return nullptr;
  if (project.Servers.IndexOf(&server) < 0) ResolveIn(server, project.Pending);
  ResolveScriptReferences(project);
  return device;
}

}  // namespace

void Project::Reset() {
  Pending.clear();
  if (Servers.Running()) Servers.Stop();
  for (const auto& server : Servers)
    if (server->Running()) server->Stop();
  Servers.Clear();
  ConstGroups.Clear();
  Functions.Clear();
}

int Project::DeviceCount() const {
  int count = 0;
  for (const auto& server : Servers) count += server->Devices().Count();
  return count;
}

int Project::TagCount() const {
  int count = 0;
  for (const auto& server : Servers)
    for (const auto& device : server->Devices()) count += device->Tags().Count();
  return count;
}

void LoadProject(Project& project, const std::string& path) {
  std::string buffer = ReadFile(path);
  LoadDocument(project, buffer, path, nullptr);
}

void LoadProjectText(Project& project, const std::string& text) {
  std::string buffer = text;
  LoadDocument(project, buffer, "", &text);
}

void SaveProject(const Project& project, const std::string& path) {
  WriteFileAtomically(path, [&project](pugi::xml_writer& out) { WriteProject(project, out); });
}

std::string ProjectText(const Project& project) {
  StringWriter writer;
  WriteProject(project, writer);
  return std::move(writer.text);
}

void ResolveScriptReferences(Project& project) {
  for (const auto& server : project.Servers) ResolveIn(*server, project.Pending);
  project.Pending.clear();
}

std::string WriteTemplate(const TDeviceClass& device) {
  pugi::xml_document doc;
  WriteDevice(doc.append_child("server"), device, true);
  StringWriter writer;
  doc.save(writer, "", kSaveOptions, pugi::encoding_utf8);
  return std::move(writer.text);
}

void SaveTemplate(const TDeviceClass& device, const std::string& path) {
  const std::string text = WriteTemplate(device);
  WriteFileAtomically(path,
                      [&text](pugi::xml_writer& out) { out.write(text.data(), text.size()); });
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
