// The main window's editing commands: menus, context menus, shortcuts and the buttons that
// open the settings dialogs, wired to TreeEditor; after each command the window redoes
// what the command's outcome names (tree, page, tag list).
#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTreeWidget>
#include <unordered_set>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "ui/EditDialogs.h"
#include "ui/MainForm.h"
#include "ui/TagTableModel.h"
#include "ui/TagEditor.h"
#include "ui/TreeEditing.h"

namespace velkor {

namespace {
constexpr int kObjectRole = Qt::UserRole + 1;  // as the lists of MainForm.cpp store rows

// Tree nodes keep their object as an integer, list rows as a pointer.
const void* ItemObject(const QTreeWidgetItem* item) {
  return reinterpret_cast<const void*>(item->data(0, kObjectRole).value<quintptr>());
}
void* RowObject(const QTreeWidgetItem* item) { return item->data(0, kObjectRole).value<void*>(); }
}  // namespace

uint16_t TMainForm::NextPort() const { return m_editor->NextPort(); }

std::vector<TModbusRegister*> TMainForm::SelectedTags() const {
  std::vector<TModbusRegister*> tags;
  if (CurrentPage() != Page::DeviceSettings) return tags;
  return m_tagEditor->SelectedTags();
}

void TMainForm::ConnectEditCommands() {
  m_prompts = std::make_unique<QtEditPrompts>(this);
  m_editor = std::make_unique<TreeEditor>(*m_session, *m_prompts);
  auto on = [this](Cmd cmd, auto&& run) {
    connect(Action(cmd), &QAction::triggered, this,
            [this, run] { ApplyEdit(run(SelectedNode())); });
  };
  TreeEditor& e = *m_editor;
  on(Cmd::AddServer, [&e](const NodeObject&) { return e.AddServer(); });
  on(Cmd::DeleteServer, [&e](const NodeObject& n) { return e.DeleteServer(n.Server); });
  on(Cmd::AddDevice, [&e](const NodeObject& n) { return e.AddDevice(n.Server); });
  on(Cmd::AddDeviceFromTemplate, [&e](const NodeObject& n) { return e.AddFromTemplate(n.Server); });
  on(Cmd::SaveDeviceToTemplate, [&e](const NodeObject& n) { return e.SaveTemplate(n.Device); });
  on(Cmd::DeleteDevice, [&e](const NodeObject& n) { return e.DeleteDevice(n.Device); });
  on(Cmd::AddGroup, [&e](const NodeObject& n) { return e.AddGroup(n); });
  on(Cmd::DeleteGroup, [&e](const NodeObject& n) { return e.DeleteGroup(n.Group); });
  on(Cmd::EditGroup, [&e](const NodeObject& n) { return e.EditGroup(n.Group); });
  on(Cmd::AddTag, [&e](const NodeObject& n) { return e.AddTag(n); });
  on(Cmd::DeleteTag, [this, &e](const NodeObject& n) {
    // The list lets go of its rows first: a question about a used tag may repaint it after
    // an earlier tag of the selection is gone.
    const std::vector<TModbusRegister*> tags = SelectedTags();
    m_tagEditor->ListModel()->Clear();
    return e.DeleteTags(n, tags);
  });
  on(Cmd::Duplicate, [this, &e](const NodeObject& n) { return e.Duplicate(n, SelectedTags()); });
  on(Cmd::MoveUp, [&e](const NodeObject& n) { return e.Move(n, true); });
  on(Cmd::MoveDown, [&e](const NodeObject& n) { return e.Move(n, false); });
  on(Cmd::Paste, [&e](const NodeObject& n) { return e.Paste(n); });
  // Copy and cut act on the control with the keyboard focus.
  on(Cmd::Copy, [this, &e](const NodeObject& n) {
    if (!m_tagEditor->TagListView()->hasFocus()) return e.CopyNode(n);
    e.CopyTags(SelectedTags());
    return EditOutcome{};
  });
  on(Cmd::Cut, [this, &e](const NodeObject& n) {
    if (!m_tagEditor->TagListView()->hasFocus()) return e.CutNode(n);
    e.CutTags(SelectedTags());
    return EditOutcome{};
  });
  // The shortcuts work wherever the focus is in the window, the menus being closed.
  for (Cmd cmd : {Cmd::AddTag, Cmd::Duplicate, Cmd::Copy, Cmd::Cut, Cmd::Paste}) {
    Action(cmd)->setShortcutContext(Qt::WindowShortcut);
    addAction(Action(cmd));
  }

  // Ctrl+Up and Ctrl+Down in the tree move the node when the command is offered.
  for (auto [key, cmd] :
       {std::pair{Qt::Key_Up, Cmd::MoveUp}, std::pair{Qt::Key_Down, Cmd::MoveDown}}) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), m_tree);
    shortcut->setContext(Qt::WidgetShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, cmd = cmd] {
      QAction* action = Action(cmd);
      if (!m_running && action->isVisible() && action->isEnabled()) action->trigger();
    });
  }

  // "Настройки" of the tag editor's device header opens the device dialog.
  m_tagEditor->EditDevice = [this](TDeviceClass* device) {
    const EditOutcome outcome = m_editor->EditDevice(device, m_running);
    return outcome.TreeChanged || outcome.ViewChanged || outcome.TagListChanged;
  };

  // "Настройки" of the server page; a double click on "Устройства" (the running form).
  connect(m_serverSettingsButton, &QPushButton::clicked, this,
          [this] { ApplyEdit(m_editor->EditServer(SelectedNode().Server)); });
  connect(m_devWork, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    auto* device = static_cast<TDeviceClass*>(RowObject(item));
    TModbusTCPServer* server = SelectedNode().Server;
    if (!device || !server || server->Devices().IndexOf(device) < 0) return;
    m_editor->EditDevice(device, m_running);
    item->setText(0, QString::fromStdString(device->DisplayName()));
    item->setText(1, device->NoReply ? tr("Нет") : tr("Да"));
    item->setText(2, QString::number(device->ReplyTimeout.load()));
    item->setText(3, QString::fromStdString(device->Description));
  });

  // The tag list of "Настройки": several rows, its own menu; a selection enables delete
  // and duplicate.
  m_tagEditor->TagListView()->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_tagEditor->TagListView()->setContextMenuPolicy(Qt::CustomContextMenu);
  m_tagListMenu = new QMenu(this);
  auto* deleteTags = new QAction(tr("Удалить тег(и)"), this);
  connect(deleteTags, &QAction::triggered, Action(Cmd::DeleteTag), &QAction::trigger);
  m_extraActions.emplace_back(Cmd::DeleteTag, deleteTags);
  m_tagListMenu->addAction(Action(Cmd::AddTag));
  m_tagListMenu->addAction(deleteTags);
  m_tagListMenu->addSeparator();
  m_tagListMenu->addAction(Action(Cmd::Duplicate));
  connect(m_tagEditor->TagListView(), &QTableView::customContextMenuRequested, this,
          [this](const QPoint& pos) {
            if (!m_running) m_tagListMenu->popup(m_tagEditor->TagListView()->viewport()->mapToGlobal(pos));
          });
  connect(m_tagEditor->TagListView()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this, deleteTags] {
            const bool any = !m_running && !SelectedTags().empty();
            Action(Cmd::DeleteTag)->setEnabled(any);
            deleteTags->setEnabled(any);
            Action(Cmd::Duplicate)->setEnabled(any);
          });
}

void TMainForm::ApplyEdit(const EditOutcome& outcome) {
  if (outcome.TreeChanged) {
    QTreeWidgetItem* current = m_tree->currentItem();
    const bool rootSelected = current && !current->parent();
    const void* select =
        outcome.Select ? outcome.SelectObject : (current ? ItemObject(current) : nullptr);
    // Nodes the user collapsed stay collapsed.
    std::unordered_set<const void*> collapsed;
    std::vector<QTreeWidgetItem*> stack;
    if (m_serversRoot && m_tree->topLevelItemCount() > 0) stack.push_back(m_tree->topLevelItem(0));
    while (!stack.empty()) {
      QTreeWidgetItem* item = stack.back();
      stack.pop_back();
      if (item->childCount() > 0 && !item->isExpanded() && item->parent())
        collapsed.insert(ItemObject(item));
      for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
    }
    // Rows of the pages may refer to what the command removed.
    m_tagEditor->ListModel()->Clear();
    m_serversRoot = BuildTree(m_tree, true);
    if (!collapsed.empty()) {
      stack.push_back(m_serversRoot);
      while (!stack.empty()) {
        QTreeWidgetItem* item = stack.back();
        stack.pop_back();
        if (collapsed.count(ItemObject(item))) item->setExpanded(false);
        for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
      }
    }
    {
      const QSignalBlocker block(m_tree);
      QTreeWidgetItem* node = select                              ? FindNodeOf(select)
                              : (!outcome.Select && rootSelected) ? m_serversRoot
                                                                  : nullptr;
      m_tree->setCurrentItem(node);
    }
    UpdateView();
    UpdateCommands();
  } else if (outcome.ViewChanged) {
    UpdateView();
    UpdateCommands();
  }
  if (outcome.TagListChanged && CurrentPage() == Page::DeviceSettings) {
    ShowTagList(SelectedDevice(), SelectedGroup());
    m_tagEditor->TagListView()->clearSelection();
    if (outcome.ShowTag) {
      for (int row = 0; row < m_tagEditor->ListModel()->rowCount(); ++row)
        if (m_tagEditor->ListModel()->Tag(row) == outcome.ShowTag) {
          m_tagEditor->TagListView()->selectRow(row);
          m_tagEditor->TagListView()->scrollTo(m_tagEditor->ListModel()->index(row, 0));
          break;
        }
    }
  }
}

}  // namespace velkor
