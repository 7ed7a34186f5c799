#include "ui/TreeEditing.h"

#include <charconv>
#include <unordered_map>
#include <unordered_set>

#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "project/Session.h"
#include "ui/SerialPorts.h"

namespace velkor {

// One clipboard entry. Pointers are identities only: they are compared, never followed,
// until the entry was found again in the project (EntryAlive). Cut devices and groups are
// owned here, as they are in no other place.
struct TreeEditor::Entry {
  NodeKind Kind = NodeKind::None;  // Server, Device, Group; None for a tag
  TModbusTCPServer* Server = nullptr;
  TDeviceClass* Device = nullptr;
  TGroupClass* Group = nullptr;
  TModbusRegister* Tag = nullptr;
  std::unique_ptr<TDeviceClass> CutDevice;
  std::unique_ptr<TDetachedGroup> CutGroup;
};

std::optional<int64_t> ParseInteger(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  int64_t value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

bool IsEditCommand(Cmd cmd) {
  switch (cmd) {
    case Cmd::AddServer:
    case Cmd::DeleteServer:
    case Cmd::AddDevice:
    case Cmd::AddDeviceFromTemplate:
    case Cmd::SaveDeviceToTemplate:
    case Cmd::DeleteDevice:
    case Cmd::AddTag:
    case Cmd::DeleteTag:
    case Cmd::Duplicate:
    case Cmd::AddGroup:
    case Cmd::DeleteGroup:
    case Cmd::EditGroup:
    case Cmd::Copy:
    case Cmd::Cut:
    case Cmd::Paste:
    case Cmd::MoveUp:
    case Cmd::MoveDown:
      return true;
    default:
      return false;
  }
}

ServerFields NewServerFields(uint16_t nextPort) {
  ServerFields fields;
  fields.Name = "Сервер";
  fields.Port = std::to_string(nextPort);
  fields.Interval = "40";
  return fields;
}

ServerFields LoadServerFields(const TModbusTCPServer& server) {
  ServerFields fields;
  fields.Name = server.Name();
  fields.Port = std::to_string(server.Port);
  fields.Desc = server.Desc;
  fields.Tcp = server.Mode;
  // A rate the list (as this line offers it) lacks leaves the form's 9600.
  for (int i = 0; i < int(std::size(kBaudRates)); ++i)
    if (kBaudRates[i] == server.BAUD && LineSupportsBaud(server.BAUD)) fields.BaudIndex = i;
  fields.ParityIndex = server.PARITY <= 2 ? server.PARITY : 0;
  fields.StopsIndex = server.STOPS != 0 ? 1 : 0;
  fields.BitsIndex = server.BITS == 7 ? 0 : 1;
  fields.Interval = std::to_string(server.INTERVAL);
  fields.ComPort = server.COMMPORT;
  return fields;
}

DeviceFields NewDeviceFields() {
  DeviceFields fields;
  fields.Name = TDeviceClass::kDefaultName;
  fields.Number = "1";
  fields.From = "0";
  return fields;
}

DeviceFields LoadDeviceFields(const TDeviceClass& device) {
  DeviceFields fields;
  fields.Name = device.Name();
  fields.Number = std::to_string(device.Number);
  fields.Description = device.Description;
  fields.BitsMerge = device.Space().BitsMerge;
  fields.RegsMerge = device.Space().RegsMerge;
  fields.Answer = !device.NoReply;
  fields.From = std::to_string(device.ReplyTimeout.load());
  // No upper bound shows as an empty "до", which a new "от" alone then passes.
  if (const uint32_t to = device.ReplyTimeoutTo.load()) fields.To = std::to_string(to);
  fields.ProgID = device.ProgID;
  return fields;
}

namespace {

// Out-of-range numbers are refused like unparsable ones; nothing is wrapped silently.
bool PortInRange(int64_t port) { return port >= 1 && port <= 65535; }

struct DeviceNumbers {
  int64_t Number = 0;
  int64_t From = 0;
  int64_t To = 0;
};

// Number 0-255, delays >= 0, "до" empty (0) or not below "от".
std::optional<DeviceNumbers> CheckDeviceNumbers(const DeviceFields& fields, bool withTo) {
  DeviceNumbers n;
  const auto number = ParseInteger(fields.Number);
  const auto from = ParseInteger(fields.From);
  if (!number || *number < 0 || *number > 255 || !from || *from < 0 || *from > UINT32_MAX)
    return std::nullopt;
  n.Number = *number;
  n.From = *from;
  if (withTo && !fields.To.empty()) {
    const auto to = ParseInteger(fields.To);
    if (!to || *to < *from || *to > UINT32_MAX) return std::nullopt;
    n.To = *to;
  }
  return n;
}

EditOutcome TreeChange(const void* select) {
  EditOutcome outcome;
  outcome.TreeChanged = true;
  outcome.ViewChanged = true;
  outcome.Select = true;
  outcome.SelectObject = select;
  return outcome;
}

EditOutcome TreeKeepSelection() {
  EditOutcome outcome;
  outcome.TreeChanged = true;
  outcome.ViewChanged = true;
  return outcome;
}

EditOutcome TagList(TModbusRegister* show) {
  EditOutcome outcome;
  outcome.TagListChanged = true;
  outcome.ShowTag = show;
  return outcome;
}

}  // namespace

TreeEditor::TreeEditor(Session& session, EditPrompts& prompts)
    : m_session(session), m_prompts(&prompts) {}

TreeEditor::~TreeEditor() = default;

void TreeEditor::Reset() {
  ClearClipboard();
  m_nextPort = 502;
}

// ---- servers

bool TreeEditor::ApplyNewServer(const ServerFields& fields, TModbusTCPServer& server) const {
  server.SetName(fields.Name);
  const auto port = ParseInteger(fields.Port);
  if (!port || !PortInRange(*port)) return false;
  server.Port = uint16_t(*port);
  server.Desc = fields.Desc;
  server.Mode = fields.Tcp;
  if (fields.BaudIndex >= 0 && fields.BaudIndex < int(std::size(kBaudRates)))
    server.BAUD = kBaudRates[fields.BaudIndex];
  server.PARITY =
      uint8_t(fields.ParityIndex >= 0 && fields.ParityIndex <= 2 ? fields.ParityIndex : 0);
  server.STOPS = fields.StopsIndex == 1 ? 2 : 0;
  server.BITS = fields.BitsIndex == 0 ? 7 : 8;
  const auto interval = ParseInteger(fields.Interval);
  if (!interval || *interval < 0 || *interval > INT32_MAX) return false;
  server.INTERVAL = int32_t(*interval);
  server.COMMPORT = fields.ComPort;
  return true;
}

EditOutcome TreeEditor::AddServer() {
  TModbusServerList& servers = m_session.Servers();
  // A number that does not parse starts the command again with the proposals.
  for (;;) {
    ServerFields fields = NewServerFields(m_nextPort);
    if (!m_prompts->AskServer(fields)) return {};
    if (servers.FindServer(fields.Name)) {
      m_prompts->Error(kServerExistsText);
      return {};
    }
    auto server = std::make_unique<TModbusTCPServer>();
    if (!ApplyNewServer(fields, *server)) {
      m_prompts->Error(kCheckServerText);
      continue;
    }
    servers.Add(std::move(server));
    ++m_nextPort;
    return TreeKeepSelection();
  }
}

EditOutcome TreeEditor::EditServer(TModbusTCPServer* server) {
  if (!server || !ServerAlive(server)) return {};
  ServerFields fields = LoadServerFields(*server);
  // Whatever the answer, the page and the node show the server afterwards.
  const EditOutcome outcome = TreeChange(server);
  if (!m_prompts->AskServer(fields)) return outcome;
  TModbusTCPServer* named = m_session.Servers().FindServer(fields.Name);
  if (named && named != server) {
    m_prompts->Error(kServerExistsText);
    return outcome;
  }
  const auto port = ParseInteger(fields.Port);
  const auto interval = ParseInteger(fields.Interval);
  if ((port && !PortInRange(*port)) || (interval && (*interval < 0 || *interval > INT32_MAX))) {
    m_prompts->Error(kCheckServerText);
    return outcome;
  }
  server->SetName(fields.Name);
  // A port that is no number ends the reading here; an interval that is none is skipped.
  if (!port) return outcome;
  server->Port = uint16_t(*port);
  server->Desc = fields.Desc;
  server->Mode = fields.Tcp;
  if (fields.BaudIndex >= 0 && fields.BaudIndex < int(std::size(kBaudRates)))
    server->BAUD = kBaudRates[fields.BaudIndex];
  server->PARITY =
      uint8_t(fields.ParityIndex >= 0 && fields.ParityIndex <= 2 ? fields.ParityIndex : 0);
  server->STOPS = fields.StopsIndex == 1 ? 2 : 0;
  server->BITS = fields.BitsIndex == 0 ? 7 : 8;
  if (interval) server->INTERVAL = int32_t(*interval);
  server->COMMPORT = fields.ComPort;
  return outcome;
}

EditOutcome TreeEditor::DeleteServer(TModbusTCPServer* server) {
  if (!server || !ServerAlive(server)) return {};
  m_session.Servers().Remove(server);
  PruneClipboard();
  return TreeChange(nullptr);
}

// ---- devices

EditOutcome TreeEditor::AddDevice(TModbusTCPServer* server) {
  if (!server || !ServerAlive(server)) return {};
  DeviceFields fields = NewDeviceFields();
  if (!m_prompts->AskDevice(fields, kNewDeviceCaption, false)) return {};
  if (server->FindDevice(fields.Name)) {
    m_prompts->Error(kDeviceExistsText);
    return {};
  }
  // "до" and the OPC server are not taken for a new device.
  const auto numbers = CheckDeviceNumbers(fields, false);
  if (!numbers) {
    m_prompts->Error(kCheckDeviceText);
    return {};
  }
  auto device = std::make_unique<TDeviceClass>();
  device->SetNumber(numbers->Number);
  device->SetName(fields.Name);
  device->Description = fields.Description;
  device->Space().BitsMerge = fields.BitsMerge;
  device->Space().RegsMerge = fields.RegsMerge;
  device->ReplyTimeout = uint32_t(numbers->From);
  device->NoReply = !fields.Answer;
  server->Devices().Add(std::move(device));
  return TreeKeepSelection();
}

EditOutcome TreeEditor::EditDevice(TDeviceClass* device, bool running) {
  if (!device) return {};
  DeviceFields fields = LoadDeviceFields(*device);
  if (!m_prompts->AskDevice(fields, device->DisplayName(), running)) return {};
  if (!running && device->Server()) {
    for (const auto& other : device->Server()->Devices())
      if (other.get() != device && other->Name() == fields.Name) {
        m_prompts->Error(kDeviceExistsText);
        return {};
      }
  }
  const auto numbers = CheckDeviceNumbers(fields, true);
  if (!numbers) {
    m_prompts->Error(kCheckDeviceText);
    return {};
  }
  // While running only the answering settings change; the rest is frozen for the serving
  // threads, which read it without locks.
  if (!running) {
    device->SetNumber(numbers->Number);
    if (device->Name() != fields.Name) device->SetName(fields.Name);
    device->Description = fields.Description;
    device->ProgID = fields.ProgID;
    device->Space().BitsMerge = fields.BitsMerge;
    device->Space().RegsMerge = fields.RegsMerge;
  }
  device->ReplyTimeout = uint32_t(numbers->From);
  device->ReplyTimeoutTo = uint32_t(numbers->To);
  device->NoReply = !fields.Answer;
  if (running) {
    EditOutcome outcome;
    outcome.ViewChanged = true;
    return outcome;
  }
  return TreeChange(device);
}

EditOutcome TreeEditor::DeleteDevice(TDeviceClass* device) {
  if (!device || !device->Server()) return {};
  auto* server = static_cast<TModbusTCPServer*>(device->Server());
  try {
    server->Devices().Remove(device);
  } catch (const ReferencedTagError& e) {
    m_prompts->Error(e.what());
    return {};
  }
  PruneClipboard();
  return TreeChange(server);
}

// ---- groups

EditOutcome TreeEditor::AddGroup(const NodeObject& node) {
  TDeviceClass* device = SelectedDevice(node);
  TGroupClass* group = SelectedGroup(node);
  if (!device) return {};
  std::string text = TGroupClass::kDefaultName;
  if (!m_prompts->AskText(kGroupPromptText, text)) return {};
  const std::string fullName = (group ? group->FullName() : device->FullName()) + "." + text;
  if (device->FindGroup(fullName)) {
    m_prompts->Error(kGroupExistsText);
    return {};
  }
  device->AddGroup(std::make_unique<TGroupClass>(text, group));
  return TreeKeepSelection();
}

EditOutcome TreeEditor::EditGroup(TGroupClass* group) {
  if (!group || !group->Parent() || !group->Device()) return {};
  std::string text = group->Name();
  if (!m_prompts->AskText(kGroupPromptText, text)) return {};
  const std::string fullName = group->Parent()->FullName() + "." + text;
  TGroupClass* named = group->Device()->FindGroup(fullName);
  if (named && named != group) {
    m_prompts->Error(kGroupExistsText);
    return {};
  }
  group->SetName(text);
  return TreeChange(group);
}

EditOutcome TreeEditor::DeleteGroup(TGroupClass* group) {
  if (!group || !group->Parent() || !group->Device()) return {};
  TDeviceClass* device = group->Device();
  const void* parent = group->Parent()->Parent() ? static_cast<const void*>(group->Parent())
                                                 : static_cast<const void*>(device);
  try {
    device->DeleteGroup(group);
  } catch (const ReferencedTagError& e) {
    if (const TModbusRegister* tag = Registry().FindByFullName(e.TagFullName()))
      ShowScriptUsers(*tag);
    return {};
  }
  PruneClipboard();
  return TreeChange(parent);
}

// ---- tags

EditOutcome TreeEditor::AddTag(const NodeObject& node) {
  TDeviceClass* device = SelectedDevice(node);
  if (!device) return {};
  TGroupClass* group = SelectedGroup(node);
  auto tag = std::make_unique<TModbusRegister>();
  tag->SetName(device->UniqueTagName(group, "Reg"));
  tag->Addr = device->Tags().NextFreeAddress();
  tag->ProgID = device->ProgID;
  return TagList(device->AddTag(std::move(tag), group));
}

EditOutcome TreeEditor::DeleteTags(const NodeObject& /*node*/,
                                   const std::vector<TModbusRegister*>& tags) {
  bool deleted = false;
  for (TModbusRegister* tag : tags) {
    TDeviceClass* device = tag->Device();
    if (!device) continue;
    if (tag->ScriptUsers().Count() > 0) {
      ShowScriptUsers(*tag);
      continue;
    }
    device->DeleteTag(tag);
    deleted = true;
  }
  if (deleted) PruneClipboard();
  return TagList(nullptr);
}

EditOutcome TreeEditor::Duplicate(const NodeObject& node,
                                  const std::vector<TModbusRegister*>& tags) {
  TDeviceClass* device = SelectedDevice(node);
  if (!device || tags.empty()) return {};
  TGroupClass* group = SelectedGroup(node);
  TModbusRegister* last = nullptr;
  for (const TModbusRegister* tag : tags) last = device->AddTag(tag->Clone(device, group), group);
  m_clipboard.clear();  // the mode stays
  return TagList(last);
}

void TreeEditor::ShowScriptUsers(const TModbusRegister& tag) {
  const std::string text =
      "Переменная " + tag.FullName() + " используется в скриптах!\n\rПоказать список регистров?";
  if (!m_prompts->AskYesNo(text)) return;
  std::vector<std::string> names;
  for (int i = 0; i < tag.ScriptUsers().Count(); ++i)
    names.push_back(tag.ScriptUsers().Items(i)->FullName());
  m_prompts->ShowTagList(names);
}

// ---- order

EditOutcome TreeEditor::Move(const NodeObject& node, bool up) {
  const int step = up ? -1 : 1;
  auto exchange = [&](auto& list, const auto* item) {
    const int i = list.IndexOf(item);
    const int j = i + step;
    if (i < 0 || j < 0 || j >= list.Count()) return false;
    list.Exchange(i, j);
    return true;
  };
  bool moved = false;
  switch (node.Kind) {
    case NodeKind::Server:
      moved = exchange(m_session.Servers(), node.Server);
      break;
    case NodeKind::Device:
      if (node.Device->Server()) moved = exchange(node.Device->Server()->Devices(), node.Device);
      break;
    case NodeKind::Group:
      if (node.Group->Parent()) moved = exchange(node.Group->Parent()->Children(), node.Group);
      break;
    default:
      break;
  }
  if (!moved) return {};
  EditOutcome outcome = TreeChange(node.Object());
  outcome.ViewChanged = false;
  return outcome;
}

// ---- templates

EditOutcome TreeEditor::SaveTemplate(TDeviceClass* device) {
  if (!device) return {};
  std::string path = m_prompts->AskSaveTemplate();
  if (path.empty()) return {};
  try {
    velkor::SaveTemplate(*device, path);
  } catch (const std::exception& e) {
    m_prompts->Error(e.what());
  }
  return {};
}

EditOutcome TreeEditor::AddFromTemplate(TModbusTCPServer* server) {
  if (!server || !ServerAlive(server)) return {};
  const std::string path = m_prompts->AskOpenTemplate();
  if (path.empty()) return {};
  try {
    ImportTemplateFile(m_session.GetProject(), *server, path);
  } catch (const NotATemplateError& e) {
    m_prompts->Information(e.what());
    return {};
  } catch (const std::exception& e) {
    m_prompts->Error(e.what());
  }
  // Rebuilt also after a failure: a reader stopped midway keeps what it added.
  return TreeKeepSelection();
}

// ---- clipboard

bool TreeEditor::ServerAlive(const TModbusTCPServer* server) const {
  return server && m_session.Servers().IndexOf(server) >= 0;
}

bool TreeEditor::DeviceAlive(const TModbusTCPServer* server, const TDeviceClass* device) const {
  return ServerAlive(server) && server->Devices().IndexOf(device) >= 0;
}

bool TreeEditor::EntryAlive(const Entry& entry) const {
  switch (entry.Kind) {
    case NodeKind::Server:
      return ServerAlive(entry.Server);
    case NodeKind::Device:
      return entry.CutDevice || DeviceAlive(entry.Server, entry.Device);
    case NodeKind::Group: {
      if (entry.CutGroup) return true;
      if (!DeviceAlive(entry.Server, entry.Device)) return false;
      // Found by identity in the device's tree; the entry's own pointer is not followed.
      std::vector<const TGroupClass*> stack{&entry.Device->RootGroup()};
      while (!stack.empty()) {
        const TGroupClass* g = stack.back();
        stack.pop_back();
        if (g == entry.Group) return true;
        for (const auto& child : g->Children()) stack.push_back(child.get());
      }
      return false;
    }
    default:
      return DeviceAlive(entry.Server, entry.Device) && entry.Device->Tags().Contains(entry.Tag);
  }
}

void TreeEditor::PruneClipboard() {
  if (m_clipboard.empty()) return;
  // Tags are checked against one set per device, so a long clipboard costs one pass.
  std::unordered_map<const TDeviceClass*, std::unordered_set<const TModbusRegister*>> tagsOf;
  std::vector<Entry> kept;
  kept.reserve(m_clipboard.size());
  for (Entry& entry : m_clipboard) {
    bool alive;
    if (entry.Kind == NodeKind::None) {
      alive = DeviceAlive(entry.Server, entry.Device);
      if (alive) {
        auto [it, fresh] = tagsOf.try_emplace(entry.Device);
        if (fresh)
          for (const auto& tag : entry.Device->Tags()) it->second.insert(tag.get());
        alive = it->second.count(entry.Tag) > 0;
      }
    } else {
      alive = EntryAlive(entry);
    }
    if (alive) kept.push_back(std::move(entry));
  }
  m_clipboard = std::move(kept);
  if (m_clipboard.empty()) m_mode = ClipboardMode::None;
}

int TreeEditor::ClipboardCount() {
  PruneClipboard();
  return int(m_clipboard.size());
}

void TreeEditor::ClearClipboard() {
  m_clipboard.clear();
  m_mode = ClipboardMode::None;
}

void TreeEditor::SetClipboard(std::vector<Entry> entries, ClipboardMode mode) {
  m_clipboard = std::move(entries);  // a cut object no one pasted goes with the old content
  m_mode = mode;
}

EditOutcome TreeEditor::CopyNode(const NodeObject& node) {
  if (!node.Object()) return {};
  Entry entry;
  entry.Kind = node.Kind;
  entry.Server = SelectedServer(node);
  entry.Device = SelectedDevice(node);
  entry.Group = node.Group;
  std::vector<Entry> entries;
  entries.push_back(std::move(entry));
  SetClipboard(std::move(entries), ClipboardMode::Copy);
  return {};
}

EditOutcome TreeEditor::CutNode(const NodeObject& node) {
  if (!node.Object()) return {};
  Entry entry;
  entry.Kind = node.Kind;
  entry.Server = SelectedServer(node);
  entry.Device = SelectedDevice(node);
  entry.Group = node.Group;
  const void* select = nullptr;
  if (node.Kind == NodeKind::Group && node.Group->Parent()) {
    TGroupClass* parent = node.Group->Parent();
    select = parent->Parent() ? static_cast<const void*>(parent) : entry.Device;
    entry.CutGroup = std::make_unique<TDetachedGroup>(entry.Device->DetachGroup(node.Group));
  } else if (node.Kind == NodeKind::Device && entry.Server) {
    select = entry.Server;
    entry.CutDevice = entry.Server->Devices().Extract(node.Device);
  } else {
    entry.Kind = NodeKind::Server;  // nothing usable: a paste ignores it
    select = entry.Server;
  }
  std::vector<Entry> entries;
  entries.push_back(std::move(entry));
  SetClipboard(std::move(entries), ClipboardMode::Cut);
  return TreeChange(select);
}

void TreeEditor::CopyTags(const std::vector<TModbusRegister*>& tags) {
  std::vector<Entry> entries;
  for (TModbusRegister* tag : tags) {
    Entry entry;
    entry.Tag = tag;
    entry.Device = tag->Device();
    entry.Server = entry.Device ? static_cast<TModbusTCPServer*>(entry.Device->Server()) : nullptr;
    entries.push_back(std::move(entry));
  }
  const bool any = !entries.empty();
  m_clipboard = std::move(entries);
  if (any) m_mode = ClipboardMode::Copy;
}

void TreeEditor::CutTags(const std::vector<TModbusRegister*>& tags) {
  CopyTags(tags);
  if (!m_clipboard.empty()) m_mode = ClipboardMode::Cut;
}

EditOutcome TreeEditor::Paste(const NodeObject& node) {
  PruneClipboard();
  if (m_clipboard.empty()) return {};
  Entry& first = m_clipboard.front();
  switch (first.Kind) {
    case NodeKind::None: {  // tags
      TDeviceClass* device = SelectedDevice(node);
      TGroupClass* group = SelectedGroup(node);
      if (!device || m_mode == ClipboardMode::None) return {};
      TModbusRegister* last = nullptr;
      for (Entry& entry : m_clipboard) {
        if (entry.Kind != NodeKind::None) continue;
        if (m_mode == ClipboardMode::Copy) {
          last = device->AddTag(entry.Tag->Clone(device, group), group);
        } else {
          entry.Device->MoveTagTo(entry.Tag, *device, group);
          last = entry.Tag;
        }
      }
      ClearClipboard();
      return TagList(last);
    }
    case NodeKind::Device: {
      TModbusTCPServer* server = SelectedServer(node);
      if (!server) return {};
      const TDeviceClass& source = first.CutDevice ? *first.CutDevice : *first.Device;
      // As a template written and read back: unique name, registered tags, linked scripts.
      ImportTemplate(m_session.GetProject(), *server, WriteTemplate(source));
      return TreeKeepSelection();
    }
    case NodeKind::Group: {
      TDeviceClass* device = SelectedDevice(node);
      if (!device) return {};
      TGroupClass* parent = SelectedGroup(node);
      if (first.CutGroup) {
        std::unique_ptr<TDetachedGroup> cut = std::move(first.CutGroup);
        ClearClipboard();
        device->PasteGroup(std::move(*cut), parent);
        return TreeKeepSelection();
      }
      if (m_mode != ClipboardMode::Copy) return {};
      first.Group->Clone(device, parent);
      return TreeKeepSelection();
    }
    default:
      return {};
  }
}

}  // namespace velkor
