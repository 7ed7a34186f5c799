#pragma once
// The editing commands of the project tree, apart from widgets: add, delete, rename and
// move servers, devices, groups and tags, the internal clipboard, device templates. Every
// question and message goes through EditPrompts, so the tests answer dialogs from a table
// and the window supplies the real ones. A command returns what the window must redo
// (tree, page, selection); the window never repeats a rule.
//
// The clipboard refers to objects of the open project without owning them (cut devices
// and groups excepted: they left the project, so the clipboard keeps them). An entry is
// looked up again in the project before every use, and the editor prunes the clipboard
// right after each deletion it makes, before a new object could take a freed address.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/DeviceClass.h"
#include "ui/MainLogic.h"

namespace velkor {

class Session;
class TModbusRegister;

inline constexpr const char* kServerExistsText = "Сервер с таким именем уже существует";
inline constexpr const char* kCheckServerText = "Проверьте введенные данные!";
inline constexpr const char* kDeviceExistsText = "Устройство с таким именем уже существует";
inline constexpr const char* kCheckDeviceText = "Проверьте введеные параметры";
inline constexpr const char* kGroupExistsText = "Группа с таким именем уже существует";
inline constexpr const char* kGroupPromptText = "Введите название группы";
inline constexpr const char* kBadTemplateText = "Некорректный шаблон";

// The server dialog's fields as the user sees them: texts and item indices.
struct ServerFields {
  std::string Name;
  std::string Desc;
  bool Tcp = true;
  std::string Port;
  std::string ComPort = "COM1";
  int BaudIndex = 3;  // into kBaudRates; -1 none selected
  int BitsIndex = 1;  // 0: 7, 1: 8
  int ParityIndex = 0;
  int StopsIndex = 0;  // 0: one, 1: two
  std::string Interval = "10";
};
inline constexpr int32_t kBaudRates[] = {1200,  2400,  4800,  9600,  14400,
                                         19200, 38400, 57600, 115200};

// The proposal for a new server (interval 40, not the form's 10).
ServerFields NewServerFields(uint16_t nextPort);
ServerFields LoadServerFields(const TModbusTCPServer& server);

struct DeviceFields {
  std::string Name;
  std::string Number;
  std::string Description;
  bool BitsMerge = false;
  bool RegsMerge = false;
  bool Answer = true;
  std::string From;
  std::string To;
  std::string ProgID;
};
DeviceFields NewDeviceFields();
DeviceFields LoadDeviceFields(const TDeviceClass& device);
inline constexpr const char* kNewDeviceCaption = "Устройство (1)";

// The questions and messages of the commands. The window shows modal dialogs; tests answer.
class EditPrompts {
 public:
  virtual ~EditPrompts() = default;
  // true on "OK"; the fields come back edited.
  virtual bool AskServer(ServerFields& fields) = 0;
  virtual bool AskDevice(DeviceFields& fields, const std::string& caption, bool running) = 0;
  // The one-line input box; true on "OK".
  virtual bool AskText(const std::string& prompt, std::string& text) = 0;
  // Empty: cancelled.
  virtual std::string AskOpenTemplate() = 0;
  virtual std::string AskSaveTemplate() = 0;
  virtual void Error(const std::string& text) = 0;        // error icon, caption "Velkor"
  virtual void Information(const std::string& text) = 0;  // information icon
  virtual bool AskYesNo(const std::string& text) = 0;     // warning icon, Yes/No
  // The tag list window (TRegListForm) with these full names.
  virtual void ShowTagList(const std::vector<std::string>& fullNames) = 0;
};

// What the window redoes after a command.
struct EditOutcome {
  bool TreeChanged = false;  // rebuild the tree
  bool Select = false;       // then select SelectObject (null: no selection)
  const void* SelectObject = nullptr;
  bool ViewChanged = false;     // UpdateView (page and lists)
  bool TagListChanged = false;  // refill the tag list, showing ShowTag when set
  TModbusRegister* ShowTag = nullptr;
};

enum class ClipboardMode : uint8_t { None = 0, Copy = 1, Cut = 2 };

class TreeEditor {
 public:
  TreeEditor(Session& session, EditPrompts& prompts);
  ~TreeEditor();
  void SetPrompts(EditPrompts& prompts) { m_prompts = &prompts; }

  uint16_t NextPort() const { return m_nextPort; }
  // ResetProject: the port counter restarts and the clipboard empties.
  void Reset();

  EditOutcome AddServer();
  EditOutcome EditServer(TModbusTCPServer* server);
  EditOutcome DeleteServer(TModbusTCPServer* server);
  EditOutcome AddDevice(TModbusTCPServer* server);
  EditOutcome EditDevice(TDeviceClass* device, bool running);
  EditOutcome DeleteDevice(TDeviceClass* device);
  EditOutcome AddGroup(const NodeObject& node);
  EditOutcome EditGroup(TGroupClass* group);
  EditOutcome DeleteGroup(TGroupClass* group);
  EditOutcome AddTag(const NodeObject& node);
  EditOutcome DeleteTags(const NodeObject& node, const std::vector<TModbusRegister*>& tags);
  EditOutcome Duplicate(const NodeObject& node, const std::vector<TModbusRegister*>& tags);
  EditOutcome Move(const NodeObject& node, bool up);
  EditOutcome SaveTemplate(TDeviceClass* device);
  EditOutcome AddFromTemplate(TModbusTCPServer* server);

  // The clipboard. Copy and cut act on the tree node when the tree has the focus, else on
  // the tag list's selection.
  EditOutcome CopyNode(const NodeObject& node);
  EditOutcome CutNode(const NodeObject& node);
  void CopyTags(const std::vector<TModbusRegister*>& tags);
  void CutTags(const std::vector<TModbusRegister*>& tags);
  EditOutcome Paste(const NodeObject& node);
  ClipboardMode Mode() const { return m_mode; }
  // Entries that still exist (pruned first).
  int ClipboardCount();
  // Drops entries whose objects left the project (and were not cut into the clipboard).
  void PruneClipboard();
  void ClearClipboard();

  // The warning for a tag that scripts use; on "Yes" the list of its users.
  void ShowScriptUsers(const TModbusRegister& tag);

 private:
  struct Entry;
  bool ServerAlive(const TModbusTCPServer* server) const;
  bool DeviceAlive(const TModbusTCPServer* server, const TDeviceClass* device) const;
  bool EntryAlive(const Entry& entry) const;
  bool ApplyNewServer(const ServerFields& fields, TModbusTCPServer& server) const;
  void SetClipboard(std::vector<Entry> entries, ClipboardMode mode);

  Session& m_session;
  EditPrompts* m_prompts;
  uint16_t m_nextPort = 502;
  std::vector<Entry> m_clipboard;
  ClipboardMode m_mode = ClipboardMode::None;
};

// The commands TreeEditor carries out (the window enables them as the command table says).
bool IsEditCommand(Cmd cmd);

// Whole integers only, optionally signed; nothing else counts as a number field.
std::optional<int64_t> ParseInteger(const std::string& text);

}  // namespace velkor
