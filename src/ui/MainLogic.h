#pragma once
// The main window's rules, apart from its widgets: which page a tree node shows, which
// commands are shown and enabled, what the selection means, and the texts of nodes and
// tag rows. Plain inputs and outputs, so the tests walk them as tables and the window
// only applies the results to its controls.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

class TModbusTCPServer;
class TDeviceClass;
class TGroupClass;
class TModbusServerList;
class TModbusRegister;
class TConstGroups;

enum class NodeKind : uint8_t { None, Root, Server, Device, Group };

// What a tree node stands for: none for the root, else the one object it shows.
struct NodeObject {
  NodeKind Kind = NodeKind::None;
  TModbusTCPServer* Server = nullptr;
  TDeviceClass* Device = nullptr;
  TGroupClass* Group = nullptr;

  static NodeObject Root() { return {NodeKind::Root}; }
  static NodeObject Of(TModbusTCPServer* server) { return {NodeKind::Server, server}; }
  static NodeObject Of(TDeviceClass* device) { return {NodeKind::Device, nullptr, device}; }
  static NodeObject Of(TGroupClass* group) { return {NodeKind::Group, nullptr, nullptr, group}; }
  // The object pointer the node carries (null for none and the root).
  const void* Object() const;
};

// The three queries every editing command starts from.
TGroupClass* SelectedGroup(const NodeObject& node);
TDeviceClass* SelectedDevice(const NodeObject& node);
TModbusTCPServer* SelectedServer(const NodeObject& node);

// The project tree as plain nodes: what BuildTree shows, in tree order.
struct TreeNode {
  std::string Text;
  NodeObject Node;
  std::vector<TreeNode> Children;
};
TreeNode BuildTreeNodes(const TModbusServerList& servers, bool withGroups);
// The first node in tree order (depth first, parent before children) whose object is the
// given one; null when none.
const TreeNode* FindNodeOf(const TreeNode& root, const void* object);

std::string ServerNodeText(const TModbusTCPServer& server);
std::string DeviceNodeText(const TDeviceClass& device);
std::string GroupNodeText(const TGroupClass& group);
inline constexpr const char* kRootText = "Сервера";

// The five pages of the content area, in the order of the stacked widget.
enum class Page : uint8_t { Servers, ServerSettings, DevicesWork, DeviceSettings, Regs };
Page PageFor(NodeKind kind, bool running);

// Every command of the menus, the tool bar and the tree's context menus. The three menus
// that are disabled as a whole while running are entries too.
enum class Cmd : uint8_t {
  FileMenu,
  EditMenu,
  ProjectMenu,
  New,
  Open,
  Save,
  SaveAs,
  Exit,
  AddServer,
  DeleteServer,
  AddDevice,
  AddDeviceFromTemplate,
  SaveDeviceToTemplate,
  DeleteDevice,
  AddTag,
  DeleteTag,
  Duplicate,
  AddGroup,
  DeleteGroup,
  EditGroup,
  Copy,
  Cut,
  Paste,
  Collapse,
  Expand,
  MoveUp,
  MoveDown,
  Constants,
  Functions,
  Start,
  Stop,
  Settings,
  StayOnTop,
  Trace,
  FindTag,
  CheckCrc,
  Help,
  About,
  Count
};
const char* CmdName(Cmd cmd);

struct CmdState {
  bool Visible = true;
  bool Enabled = true;
  bool operator==(const CmdState&) const = default;
};

// The selected node as UpdateCommands sees it.
struct NodeFlags {
  NodeKind Kind = NodeKind::None;
  bool HasChildren = false;
  bool Expanded = false;
  bool HasParent = false;
  bool First = false;  // first child of its parent
  bool Last = false;   // last child of its parent
};

enum class TreeMenu : uint8_t { None, Full, Running };

struct CommandTable {
  std::array<CmdState, size_t(Cmd::Count)> States{};
  TreeMenu Menu = TreeMenu::Full;
  CmdState& operator[](Cmd cmd) { return States[size_t(cmd)]; }
  const CmdState& operator[](Cmd cmd) const { return States[size_t(cmd)]; }
};

// The UpdateCommands rule. A command inside a menu that is disabled as a whole is also
// disabled itself, so its shortcut does nothing either.
CommandTable CommandsFor(bool running, const NodeFlags& node);

// Texts of a tag row ("Состояние" and the read-only tag list).
std::string SpaceText(uint8_t space);
std::string PercentText(float percent);
// The value as the window shows it: the constant text when the tag names a constant
// group, else the display text. Call holding the tag lock; for a tag in HEX mode hold the
// device lock too (the hex bytes are read from the space).
std::string ShownValue(const TModbusRegister& tag, const TConstGroups& constGroups);

// The rows of a device or group: the device's tags in list order, only those inside the
// group (recursively) when a group is given.
std::vector<TModbusRegister*> TagsOf(TDeviceClass& device, const TGroupClass* group);

// StartEmulation asks the clearing question only at a manual start with the setting on.
inline bool AsksZeroQuestion(bool askZeroRegs, bool automatic) { return askZeroRegs && !automatic; }

}  // namespace velkor
