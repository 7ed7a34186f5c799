#pragma once
// The main window: the project tree, the five pages beside it, menus, tool bar, status bar
// and tray icon. It owns the session (the open project and what runs it) and only wires
// controls to the rules of MainLogic.h: which page, which commands, what the selection
// means. Live values come from a model that reads the visible rows on a timer; core events
// arrive as queued signals through TQtHost, so no worker thread ever waits for the window.
//
// Nothing here blocks in a nested event loop on the way to a start: the clearing question
// is opened window-modally and the start goes on in the handler of its answer.

#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "ui/MainLogic.h"
#include "ui/ProgramSettings.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;
class QSplitter;
class QStackedWidget;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velkor {

class Session;
class TQtHost;
class TAscZeroForm;
class TagTableModel;
class TagEditor;
class ProtocolModel;
class RunStatePanel;
class TRecentFiles;
class TreeEditor;
class EditPrompts;
struct EditOutcome;
class TTraceLogForm;

// What a node of a tree made by TMainForm::BuildTree stands for.
NodeObject TreeItemNode(const QTreeWidgetItem* item);

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // Reads the program settings (which may open the default project) and the recent files.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  Session& GetSession() { return *m_session; }
  TProgramSettings& ProgramSettings() { return m_settings; }
  QSettings& SettingsStore() { return *m_store; }
  TRecentFiles* RecentFiles() const { return m_recent; }
  // Called after every save of the settings (the clearing question, closing while stopped).
  std::function<void(const TProgramSettings&)> OnSaveSettings;

  // Operations other windows call.
  void ResetProject();
  QTreeWidgetItem* BuildTree(QTreeWidget* tree, bool withGroups);
  void UpdateCommands();
  void UpdateView();
  void StartEmulation(bool automatic);
  void StopEmulation();
  void ShowRunState();
  QTreeWidgetItem* FindNodeOf(const void* object) const;
  TModbusTCPServer* SelectedServer() const;
  TDeviceClass* SelectedDevice() const;
  TGroupClass* SelectedGroup() const;

  // File commands. OpenProject empties the project and loads the file; a failure is shown
  // and leaves what the reader kept. SaveProject with an empty path asks for one.
  bool OpenProject(const QString& path);
  bool SaveProject(const QString& path);

  // The refresh tick (the timer calls it; tests may too).
  void Timer1Timer();
  // The tray icon's double click.
  void TrayDoubleClick();
  // Where no tray exists, closing while running minimises instead (tests choose).
  void SetTrayAvailable(bool available);

  bool Running() const { return m_running; }
  bool HiddenToTray() const { return m_hiddenToTray; }
  const QString& ProjectPath() const { return m_projectPath; }
  uint16_t NextPort() const;
  Page CurrentPage() const;
  QAction* Action(Cmd cmd) const { return m_actions[size_t(cmd)]; }
  TreeMenu CurrentTreeMenu() const { return m_treeMenu; }
  QMenu* FullTreeMenu() const { return m_fullMenu; }
  QMenu* RunningTreeMenu() const { return m_runningMenu; }
  QTreeWidget* DevicesTree() const { return m_tree; }
  QStackedWidget* PageControl1() const { return m_pages; }
  QTreeWidget* ServersListView() const { return m_serversList; }
  QTreeWidget* DevicesListView() const { return m_devicesList; }
  QTreeWidget* DevWorkView() const { return m_devWork; }
  QTableView* RegsListView() const { return m_regsView; }
  QTableView* ProtocolView() const { return m_protocolView; }
  QTableView* DevProtocolView() const { return m_devProtocolView; }
  QTableView* SettingsTagView() const;
  TagEditor* TagEditorPage() const { return m_tagEditor; }
  TagTableModel* RegsModel() const { return m_regsModel; }
  ProtocolModel* ProtocolViewModel() const { return m_protocolModel; }
  ProtocolModel* DevProtocolModel() const { return m_devProtocolModel; }
  // The clearing question while it is open, else null.
  TAscZeroForm* ZeroQuestion() const { return m_zeroForm; }
  QWidget* RunStateWidget() const;
  QString RunStateText() const;
  QLabel* PathPanel() const { return m_pathPanel; }
  QTimer* RefreshTimer() const { return m_timer1; }
  TTraceLogForm* TraceLogForm() const { return m_traceForm; }
  // "Трассировка": fills the trace window's tree (servers and devices) and shows it.
  void ShowTraceWindow();
  // The "Десятичный"/"HEX" menu for a row of "Состояние", or null (Bool rows, no row).
  QMenu* ValueModeMenu(int row);
  // The editing commands (ui/TreeEditing.h); tests answer its questions with their prompts.
  TreeEditor& Editor() const { return *m_editor; }
  QMenu* TagListMenu() const { return m_tagListMenu; }
  // The selected rows of the tag list on "Настройки", in row order.
  std::vector<TModbusRegister*> SelectedTags() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreatePages();
  QAction* MakeAction(Cmd cmd, const QString& text, const QKeySequence& shortcut = {});
  void ApplyCommands(const CommandTable& table);
  NodeObject SelectedNode() const;
  NodeFlags SelectedFlags() const;
  void ContinueStart(bool automatic);
  void ZeroAnswered(int answer, bool showAgain);
  void StopCommand();
  void ActivateTimerTick();
  void HideToTray();
  void ShowServers();
  void ShowServerDevices(TModbusTCPServer* server);
  void ShowDeviceActivity(TModbusTCPServer* server);
  void ShowTagList(TDeviceClass* device, TGroupClass* group);
  void ShowLiveTags(TDeviceClass* device, TGroupClass* group);
  void RefreshServerProtocol();
  void TakeTagErrors();
  void SetNodeExpanded(bool expanded);
  void RegsDoubleClicked(int row);
  void ShowError(const QString& text);
  void SaveSettings();
  void NewCommand();
  void OpenCommand();
  void SettingsCommand();
  // The tag editor's page and the windows of "Проект" and "Утилиты".
  void ConnectTagTools();
  void ConnectEditCommands();
  void ApplyEdit(const EditOutcome& outcome);

  std::unique_ptr<Session> m_session;
  TQtHost* m_host = nullptr;
  std::unique_ptr<QSettings> m_store;
  TProgramSettings m_settings;
  TRecentFiles* m_recent = nullptr;

  bool m_running = false;
  bool m_hiddenToTray = false;
  bool m_trayAvailable = false;
  bool m_trayFallbackLogged = false;
  QString m_projectPath;
  QString m_lastOpen = QStringLiteral("xml");
  QTreeWidgetItem* m_serversRoot = nullptr;
  const TModbusTCPServer* m_shownLogServer = nullptr;
  uint64_t m_logCursor = 0;
  TreeMenu m_treeMenu = TreeMenu::Full;

  std::array<QAction*, size_t(Cmd::Count)> m_actions{};
  std::vector<std::pair<Cmd, QAction*>> m_extraActions;  // context-menu twins of commands
  QMenu* m_fileMenu = nullptr;
  QMenu* m_editMenu = nullptr;
  QMenu* m_projectMenu = nullptr;
  QMenu* m_fullMenu = nullptr;
  QMenu* m_runningMenu = nullptr;
  QMenu* m_valueModeMenu = nullptr;

  QTreeWidget* m_tree = nullptr;
  QStackedWidget* m_pages = nullptr;
  QTreeWidget* m_serversList = nullptr;
  QLineEdit* m_serverName = nullptr;
  QLineEdit* m_serverDesc = nullptr;
  QPushButton* m_serverSettingsButton = nullptr;
  QTreeWidget* m_devicesList = nullptr;
  QTreeWidget* m_devWork = nullptr;
  QTableView* m_devProtocolView = nullptr;
  QTableView* m_regsView = nullptr;
  QTableView* m_protocolView = nullptr;
  TagTableModel* m_regsModel = nullptr;
  TagEditor* m_tagEditor = nullptr;
  ProtocolModel* m_protocolModel = nullptr;
  ProtocolModel* m_devProtocolModel = nullptr;
  RunStatePanel* m_runPanel = nullptr;
  QLabel* m_pathPanel = nullptr;
  QSystemTrayIcon* m_tray = nullptr;
  QTimer* m_timer1 = nullptr;
  QTimer* m_activateTimer = nullptr;
  int m_activateTicks = 0;
  TAscZeroForm* m_zeroForm = nullptr;
  std::unique_ptr<EditPrompts> m_prompts;
  std::unique_ptr<TreeEditor> m_editor;
  QMenu* m_tagListMenu = nullptr;
  TTraceLogForm* m_traceForm = nullptr;
};

}  // namespace velkor
