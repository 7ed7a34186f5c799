#include "ui/MainLogic.h"

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/ModbusSpace.h"
#include "model/Variant.h"
#include "project/ConstGroups.h"
#include "serving/ModbusServerList.h"

namespace velkor {

const void* NodeObject::Object() const {
  switch (Kind) {
    case NodeKind::Server:
      return Server;
    case NodeKind::Device:
      return Device;
    case NodeKind::Group:
      return Group;
    default:
      return nullptr;
  }
}

TGroupClass* SelectedGroup(const NodeObject& node) {
  return node.Kind == NodeKind::Group ? node.Group : nullptr;
}

TDeviceClass* SelectedDevice(const NodeObject& node) {
  if (node.Kind == NodeKind::Device) return node.Device;
  if (node.Kind == NodeKind::Group && node.Group) return node.Group->Device();
  return nullptr;
}

TModbusTCPServer* SelectedServer(const NodeObject& node) {
  if (node.Kind == NodeKind::Server) return node.Server;
  if (TDeviceClass* device = SelectedDevice(node))
    return static_cast<TModbusTCPServer*>(device->Server());
  return nullptr;
}

std::string ServerNodeText(const TModbusTCPServer& server) { return server.DisplayName(); }
std::string DeviceNodeText(const TDeviceClass& device) { return device.DisplayName(); }
std::string GroupNodeText(const TGroupClass& group) { return group.Name(); }

namespace {

void AddGroupNodes(TreeNode& parent, const TGroupClass& group) {
  for (const auto& child : group.Children()) {
    TreeNode node{GroupNodeText(*child), NodeObject::Of(child.get()), {}};
    AddGroupNodes(node, *child);
    parent.Children.push_back(std::move(node));
  }
}

const TreeNode* FindBelow(const TreeNode& node, const void* object) {
  if (node.Node.Object() == object) return &node;
  for (const TreeNode& child : node.Children)
    if (const TreeNode* found = FindBelow(child, object)) return found;
  return nullptr;
}

}  // namespace

TreeNode BuildTreeNodes(const TModbusServerList& servers, bool withGroups) {
  TreeNode root{kRootText, NodeObject::Root(), {}};
  for (const auto& server : servers) {
    TreeNode serverNode{ServerNodeText(*server), NodeObject::Of(server.get()), {}};
    for (const auto& device : server->Devices()) {
      TreeNode deviceNode{DeviceNodeText(*device), NodeObject::Of(device.get()), {}};
      if (withGroups) AddGroupNodes(deviceNode, device->RootGroup());
      serverNode.Children.push_back(std::move(deviceNode));
    }
    root.Children.push_back(std::move(serverNode));
  }
  return root;
}

const TreeNode* FindNodeOf(const TreeNode& root, const void* object) {
  if (!object) return nullptr;  // the root carries no object and is never "found"
  return FindBelow(root, object);
}

Page PageFor(NodeKind kind, bool running) {
  switch (kind) {
    case NodeKind::Device:
    case NodeKind::Group:
      return running ? Page::Regs : Page::DeviceSettings;
    case NodeKind::Server:
      return running ? Page::DevicesWork : Page::ServerSettings;
    default:
      return Page::Servers;
  }
}

const char* CmdName(Cmd cmd) {
  static const char* const kNames[] = {"FileMenu",
                                       "EditMenu",
                                       "ProjectMenu",
                                       "New",
                                       "Open",
                                       "Save",
                                       "SaveAs",
                                       "Exit",
                                       "AddServer",
                                       "DeleteServer",
                                       "AddDevice",
                                       "AddDeviceFromTemplate",
                                       "SaveDeviceToTemplate",
                                       "DeleteDevice",
                                       "AddTag",
                                       "DeleteTag",
                                       "Duplicate",
                                       "AddGroup",
                                       "DeleteGroup",
                                       "EditGroup",
                                       "Copy",
                                       "Cut",
                                       "Paste",
                                       "Collapse",
                                       "Expand",
                                       "MoveUp",
                                       "MoveDown",
                                       "Constants",
                                       "Functions",
                                       "Start",
                                       "Stop",
                                       "Settings",
                                       "StayOnTop",
                                       "Trace",
                                       "FindTag",
                                       "CheckCrc",
                                       "Help",
                                       "About"};
  static_assert(std::size(kNames) == size_t(Cmd::Count));
  return kNames[size_t(cmd)];
}

namespace {

// The commands whose visibility follows the selected node while stopped.
constexpr Cmd kNodeCommands[] = {Cmd::AddServer,
                                 Cmd::DeleteServer,
                                 Cmd::AddDevice,
                                 Cmd::AddDeviceFromTemplate,
                                 Cmd::SaveDeviceToTemplate,
                                 Cmd::DeleteDevice,
                                 Cmd::AddGroup,
                                 Cmd::DeleteGroup,
                                 Cmd::EditGroup,
                                 Cmd::Collapse,
                                 Cmd::Expand,
                                 Cmd::MoveUp,
                                 Cmd::MoveDown};

constexpr Cmd kFileCommands[] = {Cmd::New, Cmd::Open, Cmd::Save, Cmd::SaveAs, Cmd::Exit};
constexpr Cmd kEditCommands[] = {Cmd::AddServer,
                                 Cmd::DeleteServer,
                                 Cmd::AddDevice,
                                 Cmd::AddDeviceFromTemplate,
                                 Cmd::SaveDeviceToTemplate,
                                 Cmd::DeleteDevice,
                                 Cmd::AddTag,
                                 Cmd::DeleteTag,
                                 Cmd::Duplicate,
                                 Cmd::AddGroup,
                                 Cmd::DeleteGroup,
                                 Cmd::EditGroup,
                                 Cmd::Copy,
                                 Cmd::Cut,
                                 Cmd::Paste,
                                 Cmd::Collapse,
                                 Cmd::Expand,
                                 Cmd::MoveUp,
                                 Cmd::MoveDown};

}  // namespace

CommandTable CommandsFor(bool running, const NodeFlags& node) {
  CommandTable t;
  const bool selected = node.Kind != NodeKind::None;
  if (running) {
    t.Menu = selected && node.HasChildren ? TreeMenu::Running : TreeMenu::None;
    for (Cmd cmd :
         {Cmd::FileMenu, Cmd::EditMenu, Cmd::ProjectMenu, Cmd::Start, Cmd::Settings, Cmd::FindTag})
      t[cmd].Enabled = false;
    // The editing commands are out of reach while running; only the running menu's collapse
    // or expand is shown.
    for (Cmd cmd : kNodeCommands) t[cmd].Visible = false;
    if (selected && node.HasChildren) t[node.Expanded ? Cmd::Collapse : Cmd::Expand].Visible = true;
  } else {
    t.Menu = TreeMenu::Full;
    t[Cmd::Stop].Enabled = false;
    t[Cmd::AddTag].Enabled = false;
    t[Cmd::Duplicate].Enabled = false;
    for (Cmd cmd : kNodeCommands) t[cmd].Visible = false;
    auto show = [&t](std::initializer_list<Cmd> cmds) {
      for (Cmd cmd : cmds) t[cmd].Visible = true;
    };
    if (selected && node.HasChildren) show({node.Expanded ? Cmd::Collapse : Cmd::Expand});
    if (selected && node.HasParent) {
      if (!node.First) show({Cmd::MoveUp});
      if (!node.Last) show({Cmd::MoveDown});
    }
    switch (node.Kind) {
      case NodeKind::None:
      case NodeKind::Root:
        show({Cmd::AddServer});
        break;
      case NodeKind::Server:
        show({Cmd::AddServer, Cmd::DeleteServer, Cmd::AddDevice, Cmd::AddDeviceFromTemplate});
        break;
      case NodeKind::Device:
        show({Cmd::DeleteDevice, Cmd::AddGroup, Cmd::SaveDeviceToTemplate});
        t[Cmd::AddTag].Enabled = true;
        break;
      case NodeKind::Group:
        show({Cmd::AddGroup, Cmd::DeleteGroup, Cmd::EditGroup});
        t[Cmd::AddTag].Enabled = true;
        break;
    }
  }
  t[Cmd::DeleteTag].Enabled = false;
  // A command of a disabled menu is disabled too.
  if (!t[Cmd::FileMenu].Enabled)
    for (Cmd cmd : kFileCommands) t[cmd].Enabled = false;
  if (!t[Cmd::EditMenu].Enabled)
    for (Cmd cmd : kEditCommands)
      if (cmd != Cmd::Collapse && cmd != Cmd::Expand) t[cmd].Enabled = false;
  if (!t[Cmd::ProjectMenu].Enabled) t[Cmd::Constants].Enabled = t[Cmd::Functions].Enabled = false;
  return t;
}

std::string SpaceText(uint8_t space) {
  switch (space) {
    case kHoldingRegs:
      return "RHR (03)";
    case kInputRegs:
      return "RIR (04)";
    case kCoils:
      return "RC (01)";
    case kDiscreteInputs:
      return "RDI (02)";
  }
  return "";
}

std::string PercentText(float percent) { return FormatReal(double(percent), 7); }

std::string ShownValue(const TModbusRegister& tag, const TConstGroups& constGroups) {
  if (!tag.ConstGroupName.empty())
    return constGroups.DisplayText(tag.ConstGroupName, tag.ValueText());
  return tag.DisplayValue();
}

std::vector<TModbusRegister*> TagsOf(TDeviceClass& device, const TGroupClass* group) {
  std::vector<TModbusRegister*> tags;
  tags.reserve(size_t(device.Tags().Count()));
  for (const auto& tag : device.Tags())
    if (!group || tag->IsInGroup(group, true)) tags.push_back(tag.get());
  return tags;
}

}  // namespace velkor
