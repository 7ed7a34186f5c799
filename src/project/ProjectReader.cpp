// Scalars are read through a few typed helpers, each taking its default for a missing,
// empty or unconvertible element, so no field read can stop a load.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/TextUtil.h"
#include "model/Variant.h"
#include "project/ProjectXml.h"

namespace velkor {
using namespace projectxml;
namespace {

constexpr const char* kZeroGuid = "{00000000-0000-0000-0000-000000000000}";

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

// The start of the offending text, cut at the line's end and at a character boundary.
std::string SnippetAt(std::string_view text, size_t offset) {
  constexpr size_t kLength = 40;
  if (offset >= text.size()) return {};
  size_t end = std::min(text.size(), offset + kLength);
  while (end > offset && end < text.size() && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
  const std::string_view rest = text.substr(offset, end - offset);
  return std::string(rest.substr(0, rest.find_first_of("\r\n")));
}

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

}  // namespace

namespace projectxml {

int LineAt(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + int(std::count(text.begin(), text.begin() + ptrdiff_t(offset), '\n'));
}

std::string Origin(const std::string& path) { return path.empty() ? "" : path + ": "; }

std::string ReadFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    const int error = errno;
    throw VelkorError("Не удалось открыть файл " + path + ": " + SystemErrorText(error));
  }
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

bool Parse(pugi::xml_document& doc, std::string& buffer, const std::string& path,
           const std::string* original, bool emptyAllowed) {
  const pugi::xml_parse_result result =
      doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions, pugi::encoding_auto);
  if (result) return true;
  if (emptyAllowed && result.status == pugi::status_no_document_element) return false;
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

}  // namespace projectxml

void LoadProject(Project& project, const std::string& path) {
  std::string buffer = ReadFile(path);
  LoadDocument(project, buffer, path, nullptr);
}

void LoadProjectText(Project& project, const std::string& text) {
  std::string buffer = text;
  LoadDocument(project, buffer, "", &text);
}

void ResolveScriptReferences(Project& project) {
  for (const auto& server : project.Servers) ResolveIn(*server, project.Pending);
  project.Pending.clear();
}

}  // namespace velkor
