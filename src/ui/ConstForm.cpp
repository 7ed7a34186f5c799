#include "ui/ConstForm.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "project/ConstGroups.h"

namespace velkor {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
constexpr int kObjectRole = Qt::UserRole;

template <class T>
T* ObjectOf(const QTreeWidgetItem* item) {
  return item ? static_cast<T*>(item->data(0, kObjectRole).value<void*>()) : nullptr;
}
}  // namespace

ConstCheck CheckNewGroupName(const TConstGroups& groups, const std::string& name) {
  if (name.empty()) return ConstCheck::Empty;
  return groups.FindByName(name) ? ConstCheck::Exists : ConstCheck::Ok;
}

ConstCheck CheckGroupRename(const TConstGroups& groups, const TConstGroup& group,
                            const std::string& name) {
  if (name == group.Name) return ConstCheck::Empty;
  const TConstGroup* other = groups.FindByName(name);
  return other && other != &group ? ConstCheck::Exists : ConstCheck::Ok;
}

ConstCheck CheckConstant(const TConstGroup& group, const std::string& name,
                         const std::string& value, const TConstClass* editing) {
  if (name.empty() || value.empty()) return ConstCheck::Empty;
  for (int i = 0; i < group.Count(); ++i)
    if (group.Items(i) != editing && group.Items(i)->Name == name) return ConstCheck::Exists;
  return ConstCheck::Ok;
}

TConstEditForm::TConstEditForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Константа"));
  m_name = new QLineEdit(this);
  m_value = new QLineEdit(this);
  m_name->setObjectName(QStringLiteral("ConstName"));
  m_value->setObjectName(QStringLiteral("ConstValue"));
  auto* form = new QFormLayout;
  form->addRow(tr("Название константы"), m_name);
  form->addRow(tr("Значение константы"), m_value);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  setMinimumWidth(320);
}

TConstForm::TConstForm(TConstGroups& groups, QWidget* parent) : QDialog(parent), m_groups(groups) {
  setWindowTitle(tr("Константы"));
  AskText = [this](const QString& caption, const QString& prompt,
                   const QString& text) -> std::optional<QString> {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(this, caption, prompt, QLineEdit::Normal, text, &ok);
    return ok ? std::optional<QString>(answer) : std::nullopt;
  };
  AskYesNo = [this](const QString& caption, const QString& text) {
    return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  ShowError = [this](const QString& caption, const QString& text) {
    QMessageBox::critical(this, caption, text);
  };
  EditConstant = [this](QString& name, QString& value) {
    TConstEditForm form(this);
    form.ConstName()->setText(name);
    form.ConstValue()->setText(value);
    if (form.exec() != QDialog::Accepted) return false;
    name = form.ConstName()->text();
    value = form.ConstValue()->text();
    return true;
  };

  auto* bar = new QMenuBar(this);
  QMenu* groupMenu = bar->addMenu(tr("Группы"));
  groupMenu->addAction(tr("Добавить"), this, &TConstForm::AddGroup);
  groupMenu->addAction(tr("Удалить"), this, &TConstForm::DeleteGroup);
  groupMenu->addAction(tr("Изменить"), this, &TConstForm::RenameGroup);
  QMenu* constMenu = bar->addMenu(tr("Константы"));
  constMenu->addAction(tr("Добавить"), this, &TConstForm::AddConstant);
  constMenu->addAction(tr("Удалить"), this, &TConstForm::DeleteConstant);
  constMenu->addAction(tr("Изменить"), this, &TConstForm::EditSelectedConstant);

  auto* split = new QSplitter(Qt::Horizontal, this);
  m_tree = new QTreeWidget(split);
  m_tree->setObjectName(QStringLiteral("GroupsTree"));
  m_tree->setHeaderHidden(true);
  m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
  for (auto [text, slot] : {std::pair{tr("Добавить группу"), &TConstForm::AddGroup},
                            std::pair{tr("Удалить группу"), &TConstForm::DeleteGroup},
                            std::pair{tr("Изменить группу"), &TConstForm::RenameGroup}}) {
    auto* action = new QAction(text, m_tree);
    connect(action, &QAction::triggered, this, slot);
    m_tree->addAction(action);
  }
  m_list = new QTreeWidget(split);
  m_list->setObjectName(QStringLiteral("ListView"));
  m_list->setRootIsDecorated(false);
  m_list->setHeaderLabels({tr("Название"), tr("Величина")});
  m_list->setColumnWidth(0, 150);
  m_list->setColumnWidth(1, 150);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setStyleSheet(QStringLiteral("QTreeView::item { border: 0.5px solid palette(mid); }"));
  m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
  for (auto [text, slot] :
       {std::pair{tr("Добавить константу"), &TConstForm::AddConstant},
        std::pair{tr("Удалить константу"), &TConstForm::DeleteConstant},
        std::pair{tr("Изменить константу"), &TConstForm::EditSelectedConstant}}) {
    auto* action = new QAction(text, m_list);
    connect(action, &QAction::triggered, this, slot);
    m_list->addAction(action);
  }
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelectedConstant(); });
  connect(m_tree, &QTreeWidget::itemClicked, this, [this] { GroupsTreeClick(); });
  split->addWidget(m_tree);
  split->addWidget(m_list);
  split->setSizes({153, 339});
  split->setStretchFactor(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(bar);
  layout->addWidget(split);

  // On show: the root, then the groups in list order; the root selected when there are any.
  m_root = new QTreeWidgetItem(QStringList{tr("Группы")});
  m_tree->addTopLevelItem(m_root);
  for (int i = 0; i < m_groups.Count(); ++i) {
    auto* item = new QTreeWidgetItem(QStringList{Q(m_groups.Items(i)->Name)});
    item->setData(0, kObjectRole, QVariant::fromValue<void*>(m_groups.Items(i)));
    m_root->addChild(item);
  }
  m_tree->expandAll();
  if (m_groups.Count() > 0) m_tree->setCurrentItem(m_root);
  setFixedSize(492, 319 + bar->sizeHint().height());
}

void TConstForm::Execute(TConstGroups& groups, QWidget* parent) {
  TConstForm form(groups, parent);
  form.exec();
}

TConstGroup* TConstForm::SelectedGroup() const {
  return ObjectOf<TConstGroup>(m_tree->currentItem());
}

TConstClass* TConstForm::SelectedConstant() const {
  return ObjectOf<TConstClass>(m_list->currentItem());
}

void TConstForm::FillList(TConstGroup* group) {
  m_list->clear();
  m_listed = group;
  if (!group) return;
  for (int i = 0; i < group->Count(); ++i) {
    TConstClass* constant = group->Items(i);
    auto* row = new QTreeWidgetItem(QStringList{Q(constant->Name), Q(constant->Value)});
    row->setData(0, kObjectRole, QVariant::fromValue<void*>(constant));
    m_list->addTopLevelItem(row);
  }
}

void TConstForm::GroupsTreeClick() { FillList(SelectedGroup()); }

void TConstForm::AddGroup() {
  const QString caption = tr("Добавление группы");
  const std::optional<QString> answer = AskText(caption, tr("Введите название группы"), {});
  const std::string name = answer ? answer->toStdString() : std::string();
  switch (CheckNewGroupName(m_groups, name)) {
    case ConstCheck::Empty:
      return;
    case ConstCheck::Exists:
      return ShowError(caption, tr("Группа с именем - ") + *answer + tr(" уже существует"));
    case ConstCheck::Ok:
      break;
  }
  TConstGroup* group = m_groups.Add(std::make_unique<TConstGroup>(name));
  auto* item = new QTreeWidgetItem(QStringList{*answer});
  item->setData(0, kObjectRole, QVariant::fromValue<void*>(group));
  m_root->addChild(item);
  m_root->setExpanded(true);
}

void TConstForm::DeleteGroup() {
  TConstGroup* group = SelectedGroup();
  if (!group) return;
  if (!AskYesNo(tr("Удаление группы"), tr("Вы действительно хотите удалить группу ") +
                                           Q(group->Name) + QStringLiteral("?")))
    return;
  delete m_tree->currentItem();
  m_list->clear();
  m_listed = nullptr;
  m_groups.Remove(group);
}

void TConstForm::RenameGroup() {
  TConstGroup* group = SelectedGroup();
  if (!group) return;
  const QString caption = tr("Изменение имени группы");
  const std::optional<QString> answer =
      AskText(caption, tr("Введите название группы"), Q(group->Name));
  // Cancelling answers with the current name.
  const std::string name = answer ? answer->toStdString() : group->Name;
  switch (CheckGroupRename(m_groups, *group, name)) {
    case ConstCheck::Empty:
      return;
    case ConstCheck::Exists:
      return ShowError(caption, tr("Группа с именем - ") + Q(name) + tr(" уже существует"));
    case ConstCheck::Ok:
      break;
  }
  group->Name = name;
  m_tree->currentItem()->setText(0, Q(name));
}

bool TConstForm::ConstantLoop(const QString& caption, TConstGroup& group,
                              const TConstClass* editing, QString& name, QString& value) {
  for (;;) {
    if (!EditConstant(name, value)) return false;
    switch (CheckConstant(group, name.toStdString(), value.toStdString(), editing)) {
      case ConstCheck::Empty:
        ShowError(caption, tr("Проверьте параметры константы"));
        break;
      case ConstCheck::Exists:
        ShowError(caption, tr("Константа с таким именем уже существует"));
        break;
      case ConstCheck::Ok:
        return true;
    }
  }
}

void TConstForm::AddConstant() {
  TConstGroup* group = SelectedGroup();
  if (!group) return;
  QString name, value;
  if (!ConstantLoop(tr("Добавление константы"), *group, nullptr, name, value)) return;
  TConstClass* constant =
      group->Add(std::make_unique<TConstClass>(name.toStdString(), value.toStdString()));
  if (m_listed != group) return FillList(group);
  auto* row = new QTreeWidgetItem(QStringList{name, value});
  row->setData(0, kObjectRole, QVariant::fromValue<void*>(constant));
  m_list->addTopLevelItem(row);
}

void TConstForm::DeleteConstant() {
  TConstGroup* group = SelectedGroup();
  TConstClass* constant = SelectedConstant();
  if (!group || !constant || m_listed != group) return;
  if (!AskYesNo(tr("Удаление константы"), tr("Вы действительно хотите удалить константу ") +
                                              Q(constant->Name) + QStringLiteral("?")))
    return;
  delete m_list->currentItem();
  group->Remove(constant);
}

void TConstForm::EditSelectedConstant() {
  TConstGroup* group = SelectedGroup();
  TConstClass* constant = SelectedConstant();
  if (!group || !constant || m_listed != group) return;
  QString name = Q(constant->Name), value = Q(constant->Value);
  if (!ConstantLoop(tr("Изменение константы"), *group, constant, name, value)) return;
  constant->Name = name.toStdString();
  constant->Value = value.toStdString();
  m_list->currentItem()->setText(0, name);
  m_list->currentItem()->setText(1, value);
}

}  // namespace velkor
