#include "ui/MainForm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "runtime/CrashReport.h"
#include "runtime/Log.h"
#include "ui/AboutForm.h"
#include "ui/AppIcon.h"
#include "ui/AscZeroForm.h"
#include "ui/CRC16Form.h"
#include "ui/ConstForm.h"
#include "ui/FindTagForm.h"
#include "ui/Manual.h"
#include "ui/ProtocolModel.h"
#include "ui/QtHost.h"
#include "ui/RecentFiles.h"
#include "ui/RunStatePanel.h"
#include "ui/TagEditor.h"
#include "ui/TagTableModel.h"
#include "ui/TreeEditing.h"
#include "ui/TraceLogForm.h"
#include "ui/TuneForm.h"
#include "ui/ValueForm.h"

namespace velkor {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr int kKindRole = Qt::UserRole;
constexpr int kObjectRole = Qt::UserRole + 1;

NodeObject NodeOf(const QTreeWidgetItem* item) {
  if (!item) return {};
  NodeObject node;
  node.Kind = NodeKind(item->data(0, kKindRole).toInt());
  void* object = reinterpret_cast<void*>(item->data(0, kObjectRole).value<quintptr>());
  switch (node.Kind) {
    case NodeKind::Server:
      node.Server = static_cast<TModbusTCPServer*>(object);
      break;
    case NodeKind::Device:
      node.Device = static_cast<TDeviceClass*>(object);
      break;
    case NodeKind::Group:
      node.Group = static_cast<TGroupClass*>(object);
      break;
    default:
      break;
  }
  return node;
}

QTreeWidgetItem* MakeItem(const TreeNode& node) {
  auto* item = new QTreeWidgetItem(QStringList{Q(node.Text)});
  item->setData(0, kKindRole, int(node.Node.Kind));
  item->setData(0, kObjectRole, quintptr(node.Node.Object()));
  for (const TreeNode& child : node.Children) item->addChild(MakeItem(child));
  return item;
}

// A list of a few rows: one widget item per row is fine here (servers, devices).
QTreeWidget* MakeSmallList(const QStringList& headers, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setHeaderLabels(headers);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Few rows: columns fit their header and texts.
  list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list->header()->setStretchLastSection(true);
  return list;
}

// A long list: a model and a table view with rows of one height, so a scroll or a
// changed value never measures rows.
QTableView* MakeTableView(QAbstractItemModel* model, QWidget* parent) {
  auto* view = new QTableView(parent);
  view->setModel(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->verticalHeader()->hide();
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  view->horizontalHeader()->setStretchLastSection(true);
  view->horizontalHeader()->setHighlightSections(false);
  return view;
}

QString TimeText(double oleDate) { return Q(FormatDateTime(oleDate, true)); }

}  // namespace


TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), m_session(std::make_unique<Session>()) {
  setWindowTitle(QStringLiteral("Velkor"));
  m_host = new TQtHost(*m_session, this);
  m_timer1 = new QTimer(this);
  connect(m_timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  CreateActions();
  CreateMenus();
  CreatePages();
  ConnectTagTools();
  ConnectEditCommands();

  m_runPanel = new RunStatePanel(this);
  m_pathPanel = new QLabel(this);
  m_pathPanel->setMinimumWidth(250);
  statusBar()->addWidget(m_runPanel);
  statusBar()->addWidget(m_pathPanel, 1);

  m_trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  if (QApplication::windowIcon().isNull()) QApplication::setWindowIcon(AppIcon());
  setWindowIcon(QApplication::windowIcon());
  m_tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
  m_tray->setToolTip(QStringLiteral("Velkor"));
  connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) TrayDoubleClick();
  });
  if (m_trayAvailable) m_tray->show();

  // The trace window lives, hidden, for the whole run; records reach it in batches.
  m_traceForm = new TTraceLogForm(*m_session, this);
  m_traceForm->setWindowFlag(Qt::Window);
  connect(m_host, &TQtHost::traceRecordsReady, m_traceForm, &TTraceLogForm::RecordsReady);
  connect(m_host, &TQtHost::tagErrorsReady, this, &TMainForm::TakeTagErrors);
  connect(m_host, &TQtHost::protocolChanged, this, [this](const void* server) {
    if (server == m_shownLogServer && !isMinimized() && !m_hiddenToTray) RefreshServerProtocol();
  });
  connect(m_host, &TQtHost::showMessage, this, [this](const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Velkor"), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  });
  // Log-off and shut-down: the emulation stops and the session may end.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
    StopEmulation();
    UpdateCommands();
    ShowRunState();
  });

  // Start-up: the first tick shows the path, the second starts and hides as configured.
  m_activateTimer = new QTimer(this);
  m_activateTimer->setInterval(10);
  connect(m_activateTimer, &QTimer::timeout, this, &TMainForm::ActivateTimerTick);
  m_activateTimer->start();

  resize(926, 832);
  setMinimumWidth(891);
  ResetProject();
  UpdateView();
  ShowRunState();
  m_store = OpenSettingsStore();
  m_settings.LoadSettings(*m_store, [this](const TProgramSettings& settings) {
    const QString path = DefaultProjectToOpen(settings);
    if (!path.isEmpty()) OpenProject(path);
  });
  m_timer1->setInterval(std::max(1, m_settings.Period));
  m_recent = new TRecentFiles(
      *m_store, m_fileMenu, [this](const QString& path) { return OpenProject(path); }, this);
}

TMainForm::~TMainForm() {
  m_timer1->stop();
  try {
    m_session->Stop();
  } catch (...) {
    // A failing stop event must not end the program from a destructor.
  }
  // The trace window and the host go before the session.
  delete m_traceForm;
  m_traceForm = nullptr;
  delete m_host;
  m_host = nullptr;
}

QAction* TMainForm::MakeAction(Cmd cmd, const QString& text, const QKeySequence& shortcut) {
  auto* action = new QAction(text, this);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  m_actions[size_t(cmd)] = action;
  return action;
}

void TMainForm::CreateActions() {
  QStyle* s = style();
  auto icon = [](const char* theme, QIcon fallback) {
    return QIcon::fromTheme(QString::fromLatin1(theme), fallback);
  };
  MakeAction(Cmd::New, tr("Новый"), QKeySequence(Qt::CTRL | Qt::Key_N))
      ->setIcon(icon("document-new", s->standardIcon(QStyle::SP_FileIcon)));
  MakeAction(Cmd::Open, tr("Открыть"), QKeySequence(Qt::CTRL | Qt::Key_O))
      ->setIcon(icon("document-open", s->standardIcon(QStyle::SP_DialogOpenButton)));
  MakeAction(Cmd::Save, tr("Сохранить"), QKeySequence(Qt::CTRL | Qt::Key_S))
      ->setIcon(icon("document-save", s->standardIcon(QStyle::SP_DialogSaveButton)));
  MakeAction(Cmd::SaveAs, tr("Сохранить как..."));
  MakeAction(Cmd::Exit, tr("Выход"));
  MakeAction(Cmd::AddServer, tr("Добавить Сервер"));
  MakeAction(Cmd::DeleteServer, tr("Удалить сервер"));
  MakeAction(Cmd::AddDevice, tr("Добавить устройство"));
  MakeAction(Cmd::AddDeviceFromTemplate, tr("Добавить устройство из шаблона"));
  MakeAction(Cmd::SaveDeviceToTemplate, tr("Сохранить устройство в шаблон"));
  MakeAction(Cmd::DeleteDevice, tr("Удалить устройство"));
  MakeAction(Cmd::AddTag, tr("Добавить тег"), QKeySequence(Qt::CTRL | Qt::Key_A));
  MakeAction(Cmd::DeleteTag, tr("Удалить тег"));
  MakeAction(Cmd::Duplicate, tr("Дубликат"), QKeySequence(Qt::CTRL | Qt::Key_D));
  MakeAction(Cmd::AddGroup, tr("Добавить группу"));
  MakeAction(Cmd::DeleteGroup, tr("Удалить группу"));
  MakeAction(Cmd::EditGroup, tr("Изменить группу"));
  MakeAction(Cmd::Copy, tr("Копировать"), QKeySequence(Qt::CTRL | Qt::Key_C));
  MakeAction(Cmd::Cut, tr("Вырезать"), QKeySequence(Qt::CTRL | Qt::Key_X));
  MakeAction(Cmd::Paste, tr("Вставить"), QKeySequence(Qt::CTRL | Qt::Key_V));
  MakeAction(Cmd::Collapse, tr("Свернуть узел"));
  MakeAction(Cmd::Expand, tr("Развернуть узел"));
  MakeAction(Cmd::MoveUp, tr("Переместить вверх"));
  MakeAction(Cmd::MoveDown, tr("Переместить вниз"));
  MakeAction(Cmd::Constants, tr("Константы"));
  MakeAction(Cmd::Functions, tr("Функции"));
  MakeAction(Cmd::Start, tr("Пуск"), QKeySequence(Qt::Key_F9))
      ->setIcon(icon("media-playback-start", s->standardIcon(QStyle::SP_MediaPlay)));
  m_actions[size_t(Cmd::Start)]->setToolTip(tr("Старт"));
  MakeAction(Cmd::Stop, tr("Останов"), QKeySequence(Qt::CTRL | Qt::Key_F2))
      ->setIcon(icon("media-playback-stop", s->standardIcon(QStyle::SP_MediaStop)));
  m_actions[size_t(Cmd::Stop)]->setToolTip(tr("Стоп"));
  MakeAction(Cmd::Settings, tr("Настройки..."));
  MakeAction(Cmd::StayOnTop, tr("Поверх всех окон"))->setCheckable(true);
  MakeAction(Cmd::Trace, tr("Трассировка"));
  MakeAction(Cmd::FindTag, tr("Поиск тега"));
  MakeAction(Cmd::CheckCrc, tr("Проверка CRC16"));
  MakeAction(Cmd::Help, tr("Справка"));
  MakeAction(Cmd::About, tr("О программе..."))
      ->setIcon(icon("help-about", s->standardIcon(QStyle::SP_MessageBoxInformation)));

  connect(Action(Cmd::New), &QAction::triggered, this, &TMainForm::NewCommand);
  connect(Action(Cmd::Open), &QAction::triggered, this, &TMainForm::OpenCommand);
  connect(Action(Cmd::Save), &QAction::triggered, this, [this] { SaveProject(m_projectPath); });
  connect(Action(Cmd::SaveAs), &QAction::triggered, this, [this] { SaveProject(QString()); });
  connect(Action(Cmd::Exit), &QAction::triggered, this, &QWidget::close);
  connect(Action(Cmd::Collapse), &QAction::triggered, this, [this] { SetNodeExpanded(false); });
  connect(Action(Cmd::Expand), &QAction::triggered, this, [this] { SetNodeExpanded(true); });
  connect(Action(Cmd::Start), &QAction::triggered, this, [this] { StartEmulation(false); });
  connect(Action(Cmd::Stop), &QAction::triggered, this, &TMainForm::StopCommand);
  connect(Action(Cmd::Settings), &QAction::triggered, this, &TMainForm::SettingsCommand);
  connect(Action(Cmd::About), &QAction::triggered, this, [this] { TAboutForm::Execute(this); });
  connect(Action(Cmd::Help), &QAction::triggered, this, [] { OpenManual(); });
  connect(Action(Cmd::StayOnTop), &QAction::toggled, this, [this](bool on) {
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    show();  // changing a window flag hides the window
    const bool traceShown = m_traceForm->isVisible();
    m_traceForm->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (traceShown) m_traceForm->show();
  });
  connect(Action(Cmd::Trace), &QAction::triggered, this, &TMainForm::ShowTraceWindow);
}

void TMainForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  m_fileMenu = bar->addMenu(tr("Файл"));
  m_fileMenu->addActions(
      {Action(Cmd::New), Action(Cmd::Open), Action(Cmd::Save), Action(Cmd::SaveAs)});
  m_fileMenu->addSeparator();
  m_fileMenu->addAction(Action(Cmd::Exit));
  m_fileMenu->addSeparator();  // the recent files hang below it

  m_editMenu = bar->addMenu(tr("Правка"));
  const std::vector<std::vector<Cmd>> editGroups = {
      {Cmd::AddServer, Cmd::DeleteServer},
      {Cmd::AddDevice, Cmd::AddDeviceFromTemplate, Cmd::SaveDeviceToTemplate, Cmd::DeleteDevice},
      {Cmd::AddTag, Cmd::DeleteTag, Cmd::Duplicate},
      {Cmd::AddGroup, Cmd::DeleteGroup, Cmd::EditGroup},
      {Cmd::Copy, Cmd::Cut, Cmd::Paste},
      {Cmd::Collapse, Cmd::Expand},
      {Cmd::MoveUp, Cmd::MoveDown}};
  for (size_t g = 0; g < editGroups.size(); ++g) {
    if (g > 0) m_editMenu->addSeparator();
    for (Cmd cmd : editGroups[g]) m_editMenu->addAction(Action(cmd));
  }
  m_editMenu->setSeparatorsCollapsible(true);

  m_projectMenu = bar->addMenu(tr("Проект"));
  m_projectMenu->addActions({Action(Cmd::Constants), Action(Cmd::Functions)});

  QMenu* work = bar->addMenu(tr("Работа"));
  work->addActions({Action(Cmd::Start), Action(Cmd::Stop)});
  work->addSeparator();
  work->addAction(Action(Cmd::Settings));
  work->addSeparator();
  work->addAction(Action(Cmd::StayOnTop));

  bar->addAction(Action(Cmd::Trace));  // a command of its own in the menu bar

  QMenu* utilities = bar->addMenu(tr("Утилиты"));
  utilities->addActions({Action(Cmd::FindTag), Action(Cmd::CheckCrc)});

  QMenu* help = bar->addMenu(tr("Справка"));
  help->addAction(Action(Cmd::Help));
  help->addSeparator();
  help->addAction(Action(Cmd::About));

  QToolBar* tools = addToolBar(tr("Панель инструментов"));
  tools->setObjectName(QStringLiteral("ToolBar1"));
  tools->setMovable(false);
  tools->addActions({Action(Cmd::New), Action(Cmd::Open), Action(Cmd::Save), Action(Cmd::Start)});
  tools->addSeparator();
  tools->addAction(Action(Cmd::Stop));
  tools->addSeparator();
  tools->addAction(Action(Cmd::About));

  // The tree's menus. The stopped one names "Удалить Сервер" with a capital letter: a twin
  // action with the same state as the "Правка" command.
  m_fullMenu = new QMenu(this);
  auto* deleteServer = new QAction(tr("Удалить Сервер"), this);
  connect(deleteServer, &QAction::triggered, Action(Cmd::DeleteServer), &QAction::trigger);
  m_extraActions.emplace_back(Cmd::DeleteServer, deleteServer);
  m_fullMenu->addActions({Action(Cmd::AddServer), deleteServer});
  m_fullMenu->addSeparator();
  m_fullMenu->addActions({Action(Cmd::AddDevice), Action(Cmd::DeleteDevice)});
  m_fullMenu->addSeparator();
  m_fullMenu->addActions({Action(Cmd::AddGroup), Action(Cmd::DeleteGroup), Action(Cmd::EditGroup)});
  m_fullMenu->addSeparator();
  m_fullMenu->addActions({Action(Cmd::Collapse), Action(Cmd::Expand)});
  m_fullMenu->addSeparator();
  m_fullMenu->addActions({Action(Cmd::MoveUp), Action(Cmd::MoveDown)});
  m_fullMenu->setSeparatorsCollapsible(true);
  m_runningMenu = new QMenu(this);
  m_runningMenu->addActions({Action(Cmd::Collapse), Action(Cmd::Expand)});
}

void TMainForm::CreatePages() {
  auto* split = new QSplitter(Qt::Horizontal, this);
  m_tree = new QTreeWidget(split);
  m_tree->setObjectName(QStringLiteral("DevicesTree"));
  m_tree->setHeaderHidden(true);
  m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
  m_tree->setMinimumWidth(100);
  connect(m_tree, &QTreeWidget::currentItemChanged, this, [this] {
    UpdateView();
    UpdateCommands();
  });
  connect(m_tree, &QTreeWidget::itemExpanded, this, [this] { UpdateCommands(); });
  connect(m_tree, &QTreeWidget::itemCollapsed, this, [this] { UpdateCommands(); });
  connect(m_tree, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    QMenu* menu = m_treeMenu == TreeMenu::Full      ? m_fullMenu
                  : m_treeMenu == TreeMenu::Running ? m_runningMenu
                                                    : nullptr;
    if (menu) menu->popup(m_tree->viewport()->mapToGlobal(pos));
  });

  m_pages = new QStackedWidget(split);
  m_pages->setObjectName(QStringLiteral("PageControl1"));

  // "Сервера"
  m_serversList = MakeSmallList({tr("Сервер"), tr("Порт"), tr("Клиенты"), tr("Описание")}, this);
  m_serversList->setObjectName(QStringLiteral("ServersListView"));
  connect(m_serversList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (QTreeWidgetItem* node = FindNodeOf(item->data(0, kObjectRole).value<void*>()))
      m_tree->setCurrentItem(node);
  });
  m_pages->addWidget(m_serversList);

  // "Настройки сервера"
  auto* serverPage = new QWidget(this);
  m_serverName = new QLineEdit(serverPage);
  m_serverDesc = new QLineEdit(serverPage);
  m_serverName->setReadOnly(true);
  m_serverDesc->setReadOnly(true);
  m_serverSettingsButton = new QPushButton(tr("Настройки"), serverPage);
  auto* fields = new QFormLayout;
  fields->addRow(tr("Имя сервера"), m_serverName);
  fields->addRow(tr("Описание"), m_serverDesc);
  auto* header = new QHBoxLayout;
  header->addLayout(fields, 1);
  header->addWidget(m_serverSettingsButton, 0, Qt::AlignTop);
  m_devicesList = MakeSmallList({tr("Имя устройства"), tr("Номер"), tr("Описание")}, serverPage);
  m_devicesList->setObjectName(QStringLiteral("DevicesListView"));
  connect(m_devicesList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (QTreeWidgetItem* node = FindNodeOf(item->data(0, kObjectRole).value<void*>()))
      m_tree->setCurrentItem(node);
  });
  auto* serverLayout = new QVBoxLayout(serverPage);
  serverLayout->addLayout(header);
  serverLayout->addWidget(m_devicesList, 1);
  m_pages->addWidget(serverPage);

  // "Устройства"
  auto* workSplit = new QSplitter(Qt::Vertical, this);
  m_devWork = MakeSmallList(
      {tr("Устройство"), tr("Активность"), tr("Таймаут (мс)"), tr("Описание")}, workSplit);
  m_devWork->setObjectName(QStringLiteral("DevWorkView"));
  m_devProtocolModel = new ProtocolModel(ProtocolModel::kDefaultCapacity, this);
  m_devProtocolView = MakeTableView(m_devProtocolModel, workSplit);
  m_devProtocolView->setObjectName(QStringLiteral("DevProtocolView"));
  m_devProtocolView->setColumnWidth(0, 140);
  workSplit->setSizes({400, 250});
  m_pages->addWidget(workSplit);

  // "Настройки": the tag editor.
  m_tagEditor = new TagEditor(m_session->GetProject().ConstGroups, this);
  m_pages->addWidget(m_tagEditor);

  // "Состояние"
  auto* regsSplit = new QSplitter(Qt::Vertical, this);
  m_regsModel = new TagTableModel(this);
  m_regsView = MakeTableView(m_regsModel, regsSplit);
  m_regsView->setObjectName(QStringLiteral("RegsListView"));
  m_regsView->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_regsView, &QTableView::customContextMenuRequested, this, [this](const QPoint& pos) {
    const QModelIndex index = m_regsView->indexAt(pos);
    if (QMenu* menu = ValueModeMenu(index.isValid() ? index.row() : -1))
      menu->popup(m_regsView->viewport()->mapToGlobal(pos));
  });
  connect(m_regsView, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { RegsDoubleClicked(index.row()); });
  m_protocolModel = new ProtocolModel(ProtocolModel::kDefaultCapacity, this);
  m_protocolView = MakeTableView(m_protocolModel, regsSplit);
  m_protocolView->setObjectName(QStringLiteral("ProtocolView"));
  m_protocolView->setColumnWidth(0, 140);
  m_protocolView->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* clearMenu = new QMenu(this);
  clearMenu->addAction(tr("Очистить"), m_protocolModel, &ProtocolModel::Clear);
  connect(m_protocolView, &QTableView::customContextMenuRequested, this,
          [this, clearMenu](const QPoint& pos) {
            clearMenu->popup(m_protocolView->viewport()->mapToGlobal(pos));
          });
  regsSplit->setSizes({500, 200});
  m_pages->addWidget(regsSplit);
  for (QTableView* view : {m_regsView}) {
    view->setColumnWidth(TagTableModel::ColName, 100);
    view->setColumnWidth(TagTableModel::ColAddress, 55);
    view->setColumnWidth(TagTableModel::ColType, 75);
    view->setColumnWidth(TagTableModel::ColValue, 140);
    view->setColumnWidth(TagTableModel::ColBehaviour, 160);
    view->setColumnWidth(TagTableModel::ColPercent, 80);
  }

  split->addWidget(m_tree);
  split->addWidget(m_pages);
  split->setStretchFactor(1, 1);
  split->setSizes({186, 740});
  setCentralWidget(split);

  m_valueModeMenu = new QMenu(this);
  auto* modes = new QActionGroup(m_valueModeMenu);
  for (uint8_t mode : {kDisplayDecimal, kDisplayHex}) {
    QAction* item = m_valueModeMenu->addAction(mode == kDisplayHex ? tr("HEX") : tr("Десятичный"));
    item->setCheckable(true);
    item->setData(int(mode));
    modes->addAction(item);
  }
}

QMenu* TMainForm::ValueModeMenu(int row) {
  TModbusRegister* tag = m_regsModel->Tag(row);
  if (!tag || tag->Type() == VarType::Bool) return nullptr;
  // Either item toggles the mode (a click on the checked one too), as the menu's checks only
  // show the mode.
  for (QAction* item : m_valueModeMenu->actions()) {
    item->disconnect(this);
    item->setChecked(item->data().toInt() == tag->DisplayMode);
    connect(item, &QAction::triggered, this, [this, row, tag] {
      tag->DisplayMode = tag->DisplayMode == kDisplayHex ? kDisplayDecimal : kDisplayHex;
      m_regsModel->RefreshRow(row);
    });
  }
  return m_valueModeMenu;
}

QWidget* TMainForm::RunStateWidget() const { return m_runPanel; }
QString TMainForm::RunStateText() const { return m_runPanel->Text(); }

Page TMainForm::CurrentPage() const { return Page(m_pages->currentIndex()); }

NodeObject TMainForm::SelectedNode() const { return NodeOf(m_tree->currentItem()); }

NodeFlags TMainForm::SelectedFlags() const {
  const QTreeWidgetItem* item = m_tree->currentItem();
  NodeFlags flags;
  if (!item) return flags;
  flags.Kind = NodeOf(item).Kind;
  flags.HasChildren = item->childCount() > 0;
  flags.Expanded = item->isExpanded();
  if (const QTreeWidgetItem* parent = item->parent()) {
    flags.HasParent = true;
    const int index = parent->indexOfChild(const_cast<QTreeWidgetItem*>(item));
    flags.First = index == 0;
    flags.Last = index == parent->childCount() - 1;
  }
  return flags;
}

TModbusTCPServer* TMainForm::SelectedServer() const {
  return velkor::SelectedServer(SelectedNode());
}
TDeviceClass* TMainForm::SelectedDevice() const { return velkor::SelectedDevice(SelectedNode()); }
TGroupClass* TMainForm::SelectedGroup() const { return velkor::SelectedGroup(SelectedNode()); }

QTreeWidgetItem* TMainForm::FindNodeOf(const void* object) const {
  if (!object) return nullptr;
  // Depth first, parent before children: the tree order.
  std::vector<QTreeWidgetItem*> stack;
  for (int i = m_tree->topLevelItemCount() - 1; i >= 0; --i)
    stack.push_back(m_tree->topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    if (NodeOf(item).Object() == object) return item;
    for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
  }
  return nullptr;
}

QTreeWidgetItem* TMainForm::BuildTree(QTreeWidget* tree, bool withGroups) {
  const QSignalBlocker block(tree);
  tree->clear();
  QTreeWidgetItem* root = MakeItem(BuildTreeNodes(m_session->Servers(), withGroups));
  tree->addTopLevelItem(root);
  tree->expandAll();
  return root;
}

void TMainForm::ResetProject() {
  m_projectPath.clear();
  m_editor->Reset();  // before the project goes: a cut device still has registered tags
  {
    const QSignalBlocker block(m_tree);
    m_tree->setCurrentItem(nullptr);
  }
  // Rows refer to tags about to go.
  m_regsModel->Clear();
  m_tagEditor->Clear();
  m_shownLogServer = nullptr;
  m_session->New();
  m_serversRoot = BuildTree(m_tree, true);
  UpdateView();
  UpdateCommands();
  m_pathPanel->clear();
}

void TMainForm::ApplyCommands(const CommandTable& table) {
  // The commands whose windows come with later parts of the program stay greyed.
  // clang-format off: one line per group of commands, so merges stay line-sized.
  static constexpr Cmd kAvailable[] = {Cmd::New,   Cmd::Open,      Cmd::Save,     Cmd::SaveAs,
                                       Cmd::Exit,  Cmd::Collapse,  Cmd::Expand,   Cmd::Start,
                                       Cmd::Stop,  Cmd::StayOnTop, Cmd::Settings, Cmd::Help,
                                       Cmd::About, Cmd::Constants, Cmd::FindTag,  Cmd::CheckCrc,
                                       Cmd::Trace};
  // clang-format on
  auto available = [](Cmd cmd) {
    return std::find(std::begin(kAvailable), std::end(kAvailable), cmd) != std::end(kAvailable) ||
           IsEditCommand(cmd);
  };
  for (size_t i = 0; i < size_t(Cmd::Count); ++i) {
    const Cmd cmd = Cmd(i);
    const CmdState& state = table[cmd];
    if (QAction* action = m_actions[i]) {
      action->setVisible(state.Visible);
      action->setEnabled(state.Enabled && available(cmd));
    }
  }
  for (auto& [cmd, action] : m_extraActions) {
    action->setVisible(table[cmd].Visible);
    action->setEnabled(table[cmd].Enabled && available(cmd));
  }
  m_fileMenu->menuAction()->setEnabled(table[Cmd::FileMenu].Enabled);
  m_editMenu->menuAction()->setEnabled(table[Cmd::EditMenu].Enabled);
  m_projectMenu->menuAction()->setEnabled(table[Cmd::ProjectMenu].Enabled);
  m_treeMenu = table.Menu;
}

void TMainForm::UpdateCommands() { ApplyCommands(CommandsFor(m_running, SelectedFlags())); }

void TMainForm::UpdateView() {
  const NodeObject node = SelectedNode();
  const Page page = PageFor(node.Object() ? node.Kind : NodeKind::None, m_running);
  // Rows of the page left behind are dropped, so no hidden page refers to tags.
  if (page != Page::Regs) m_regsModel->Clear();
  if (page != Page::DeviceSettings) m_tagEditor->Clear();
  switch (page) {
    case Page::Servers:
      ShowServers();
      break;
    case Page::ServerSettings:
      ShowServerDevices(node.Server);
      break;
    case Page::DevicesWork:
      ShowDeviceActivity(node.Server);
      break;
    case Page::DeviceSettings:
      ShowTagList(SelectedDevice(), SelectedGroup());
      break;
    case Page::Regs:
      ShowLiveTags(SelectedDevice(), SelectedGroup());
      break;
  }
  m_pages->setCurrentIndex(int(page));
}

void TMainForm::ShowServers() {
  m_serversList->clear();
  for (const auto& server : m_session->Servers()) {
    auto* item = new QTreeWidgetItem(QStringList{
        Q(server->Name()), server->Mode ? QString::number(server->Port) : Q(server->COMMPORT),
        QString::number(server->ClientCount()), Q(server->Desc)});
    item->setData(0, kObjectRole, QVariant::fromValue<void*>(server.get()));
    m_serversList->addTopLevelItem(item);
  }
}

void TMainForm::ShowServerDevices(TModbusTCPServer* server) {
  m_devicesList->clear();
  if (!server) return;
  m_serverName->setText(Q(server->Name()));
  m_serverDesc->setText(Q(server->Desc));
  for (const auto& device : server->Devices()) {
    auto* item = new QTreeWidgetItem(
        QStringList{Q(device->Name()), QString::number(device->Number), Q(device->Description)});
    item->setData(0, kObjectRole, QVariant::fromValue<void*>(device.get()));
    m_devicesList->addTopLevelItem(item);
  }
}

void TMainForm::ShowDeviceActivity(TModbusTCPServer* server) {
  m_devWork->clear();
  if (!server) return;
  for (const auto& device : server->Devices()) {
    auto* item = new QTreeWidgetItem(
        QStringList{Q(device->DisplayName()), device->NoReply ? tr("Нет") : tr("Да"),
                    QString::number(device->ReplyTimeout.load()), Q(device->Description)});
    item->setData(0, kObjectRole, QVariant::fromValue<void*>(device.get()));
    m_devWork->addTopLevelItem(item);
  }
}

void TMainForm::ShowTagList(TDeviceClass* device, TGroupClass* group) {
  if (!device) return m_tagEditor->Clear();
  m_tagEditor->ShowTagList(device, group, nullptr);
}

void TMainForm::ShowLiveTags(TDeviceClass* device, TGroupClass* group) {
  if (!device) return m_regsModel->Clear();
  m_regsModel->SetTags(TagsOf(*device, group), &m_session->GetProject().ConstGroups);
}

void TMainForm::StartEmulation(bool automatic) {
  if (m_running || m_zeroForm) return;
  m_shownLogServer = nullptr;
  m_devProtocolModel->Clear();
  m_protocolModel->Clear();
  m_running = true;
  if (!AsksZeroQuestion(m_settings.AskZeroRegs, automatic)) return ContinueStart(automatic);
  m_zeroForm = new TAscZeroForm(this);
  m_zeroForm->setAttribute(Qt::WA_DeleteOnClose);
  connect(m_zeroForm, &QDialog::finished, this, [this](int result) {
    const bool showAgain = m_zeroForm->ShowAgain();
    m_zeroForm = nullptr;
    ZeroAnswered(result, showAgain);
  });
  m_zeroForm->open();
}

void TMainForm::ZeroAnswered(int answer, bool showAgain) {
  if (answer != TAscZeroForm::Yes && answer != TAscZeroForm::No) {
    m_running = false;  // "Отмена" or the dialog closed: no start, nothing else changes
    return;
  }
  m_settings.ZeroRegs = answer == TAscZeroForm::Yes;
  m_settings.AskZeroRegs = showAgain;
  SaveSettings();
  ContinueStart(false);
}

void TMainForm::ContinueStart(bool automatic) {
  try {
    m_session->Start(m_settings.ZeroRegs, automatic);
  } catch (const std::exception& e) {
    m_running = false;
    ShowError(Q(e.what()));
  }
  UpdateCommands();
  UpdateView();
  ShowRunState();
  if (m_running) m_timer1->start(std::max(1, m_settings.Period));
}

void TMainForm::StopEmulation() {
  m_timer1->stop();
  try {
    m_session->Stop();
  } catch (const std::exception& e) {
    LogMessage(std::string("TMainForm.StopEmulation - ") + e.what());
  }
  m_running = false;
}

void TMainForm::StopCommand() {
  StopEmulation();
  UpdateCommands();
  ShowRunState();
}

void TMainForm::ShowRunState() { m_runPanel->SetRunning(m_running); }

void TMainForm::Timer1Timer() {
  if (isMinimized() || m_hiddenToTray || !isVisible()) return;
  if (SelectedDevice() && CurrentPage() == Page::Regs && m_regsModel->rowCount() > 0) {
    // Only the rows the view shows are read.
    const int first = std::max(0, m_regsView->rowAt(0));
    int last = m_regsView->rowAt(m_regsView->viewport()->height() - 1);
    if (last < 0) last = m_regsModel->rowCount() - 1;
    m_regsModel->Refresh(first, last);
  }
  if (SelectedServer() && CurrentPage() == Page::DevicesWork) RefreshServerProtocol();
}

void TMainForm::RefreshServerProtocol() {
  TModbusTCPServer* server = SelectedServer();
  if (!server) return;
  if (server != m_shownLogServer) {
    m_devProtocolModel->Clear();
    m_shownLogServer = server;
    m_logCursor = 0;
  }
  std::vector<ProtocolModel::Entry> entries;
  for (const TLogRecord& record : server->Protocol.Since(m_logCursor))
    entries.emplace_back(TimeText(record.Time), Q(record.Text));
  m_devProtocolModel->Append(std::move(entries));
}

void TMainForm::TakeTagErrors() {
  uint64_t dropped = 0;
  std::vector<ProtocolModel::Entry> entries;
  for (const TagErrorReport& error : m_session->TakeTagErrors(&dropped))
    entries.emplace_back(TimeText(error.Time), Q(error.FullName + " - " + error.Text));
  if (dropped > 0)
    entries.emplace_back(TimeText(LocalNowOle()),
                         tr("Пропущено сообщений об ошибках: %1").arg(dropped));
  m_protocolModel->Append(std::move(entries));
}

void TMainForm::SetNodeExpanded(bool expanded) {
  QTreeWidgetItem* item = m_tree->currentItem();
  if (!item) return;
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* node = stack.back();
    stack.pop_back();
    node->setExpanded(expanded);
    for (int i = 0; i < node->childCount(); ++i) stack.push_back(node->child(i));
  }
  UpdateCommands();
}

void TMainForm::RegsDoubleClicked(int row) {
  TModbusRegister* tag = m_regsModel->Tag(row);
  if (!tag || (tag->WorkType != kWorkManual && tag->WorkType != kWorkOPC)) return;
  // A value that does not convert changes nothing, silently.
  if (TValueForm::Execute(*tag, m_session->GetProject().ConstGroups, this))
    m_regsModel->RefreshRow(row);
}

void TMainForm::ShowError(const QString& text) {
  auto* box =
      new QMessageBox(QMessageBox::Critical, QStringLiteral("Velkor"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TMainForm::SaveSettings() {
  const QRect frame = frameGeometry();
  m_settings.X = frame.x();
  m_settings.Y = frame.y();
  m_settings.Width = frame.width();
  m_settings.Height = frame.height();
  m_settings.SaveSettings(*m_store);
  if (OnSaveSettings) OnSaveSettings(m_settings);
}

void TMainForm::SettingsCommand() {
  if (TTuneForm::Execute(m_settings, *m_store, QCoreApplication::applicationFilePath(), this))
    m_timer1->setInterval(std::max(1, m_settings.Period));
}

void TMainForm::NewCommand() { ResetProject(); }

QTableView* TMainForm::SettingsTagView() const { return m_tagEditor->TagListView(); }

void TMainForm::ConnectTagTools() {
  // The device dialog (EditDevice) is wired with the editing commands.
  m_tagEditor->DeviceChanged = [this](TDeviceClass* device) {
    if (QTreeWidgetItem* node = FindNodeOf(device)) node->setText(0, Q(DeviceNodeText(*device)));
  };
  connect(Action(Cmd::Constants), &QAction::triggered, this, [this] {
    TConstForm::Execute(m_session->GetProject().ConstGroups, this);
    m_tagEditor->RefreshConstGroups();
  });
  connect(Action(Cmd::FindTag), &QAction::triggered, this, [this] { TFindTegForm::Execute(this); });
  connect(Action(Cmd::CheckCrc), &QAction::triggered, this,
          [this] { TCheckCRC16Form::Execute(this); });
}

void TMainForm::OpenCommand() {
  const QString path =
      QFileDialog::getOpenFileName(this, tr("Открыть"), m_lastOpen, QStringLiteral("*.xml"));
  if (path.isEmpty()) return;
  m_lastOpen = path;
  if (OpenProject(path)) m_recent->Add(path);
}

bool TMainForm::OpenProject(const QString& path) {
  ResetProject();
  try {
    m_session->Load(path.toStdString());
  } catch (const std::exception& e) {
    ShowError(Q(e.what()));
    return false;
  }
  m_serversRoot = BuildTree(m_tree, true);
  UpdateView();
  UpdateCommands();
  m_projectPath = path;
  m_pathPanel->setText(path);
  return true;
}

bool TMainForm::SaveProject(const QString& givenPath) {
  QString path = givenPath;
  if (path.isEmpty()) {
    QFileDialog dialog(this, tr("Сохранить как..."), m_projectPath, QStringLiteral("*.xml"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xml"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = dialog.selectedFiles().first();
  }
  m_projectPath = path;  // the path used is the project's path, even if the write fails
  try {
    m_session->Save(path.toStdString());
  } catch (const std::exception& e) {
    ShowError(Q(e.what()));
    return false;
  }
  m_pathPanel->setText(path);
  return true;
}

void TMainForm::ActivateTimerTick() {
  if (++m_activateTicks == 1) {
    m_pathPanel->setText(m_projectPath);
    return;
  }
  m_activateTimer->stop();
  if (m_settings.AutoStart) StartEmulation(true);
  if (m_settings.HideApp) HideToTray();
}

// Hidden to the tray; where there is no tray, minimised (said once in the log), so the
// window can always be brought back.
void TMainForm::HideToTray() {
  if (m_trayAvailable) {
    m_hiddenToTray = true;
    hide();
    return;
  }
  if (!m_trayFallbackLogged) {
    LogMessage("Область уведомлений недоступна: окно свёрнуто, эмуляция продолжается");
    m_trayFallbackLogged = true;
  }
  showMinimized();
}

void TMainForm::TrayDoubleClick() {
  m_hiddenToTray = false;
  showNormal();
  raise();
  activateWindow();
}

void TMainForm::SetTrayAvailable(bool available) {
  m_trayAvailable = available;
  m_tray->setVisible(available);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Closing while the clearing question is open answers it with "Отмена".
  if (m_zeroForm) m_zeroForm->reject();
  if (m_running) {
    // The emulation goes on without the window.
    event->ignore();
    HideToTray();
    return;
  }
  StopEmulation();
  SaveSettings();
  m_tray->hide();
  event->accept();
}

// --- trace window ---

NodeObject TreeItemNode(const QTreeWidgetItem* item) { return NodeOf(item); }

void TMainForm::ShowTraceWindow() {
  BuildTree(m_traceForm->DevicesTree(), false);
  m_traceForm->FilterChanged();
  m_traceForm->show();
  m_traceForm->raise();
  m_traceForm->activateWindow();
}

}  // namespace velkor
