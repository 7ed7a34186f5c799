#pragma once
// "Константы": the editor of the project's constant groups. It works on the groups
// directly; every change takes effect at once and there is no cancel. The checks behind
// each command are plain functions; the questions and messages go through replaceable
// hooks so the tests answer them without nested event loops.

#include <QDialog>
#include <functional>
#include <optional>

class QLineEdit;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace velkor {

class TConstClass;
class TConstGroup;
class TConstGroups;

enum class ConstCheck { Ok, Empty, Exists };
// A new group name: empty does nothing, a taken name is refused.
ConstCheck CheckNewGroupName(const TConstGroups& groups, const std::string& name);
// A rename: the same name does nothing (Empty here), a name of another group is refused;
// an empty name is accepted.
ConstCheck CheckGroupRename(const TConstGroups& groups, const TConstGroup& group,
                            const std::string& name);
// A constant entered for the group (editing: that constant itself is ignored).
ConstCheck CheckConstant(const TConstGroup& group, const std::string& name,
                         const std::string& value, const TConstClass* editing);

// "Константа": the name and value of one constant.
class TConstEditForm : public QDialog {
  Q_OBJECT
 public:
  explicit TConstEditForm(QWidget* parent = nullptr);
  QLineEdit* ConstName() const { return m_name; }
  QLineEdit* ConstValue() const { return m_value; }

 private:
  QLineEdit* m_name;
  QLineEdit* m_value;
};

class TConstForm : public QDialog {
  Q_OBJECT
 public:
  explicit TConstForm(TConstGroups& groups, QWidget* parent = nullptr);
  static void Execute(TConstGroups& groups, QWidget* parent);

  // Hooks (defaults: input box, message boxes, the constant dialog).
  std::function<std::optional<QString>(const QString& caption, const QString& prompt,
                                       const QString& text)>
      AskText;
  std::function<bool(const QString& caption, const QString& text)> AskYesNo;
  std::function<void(const QString& caption, const QString& text)> ShowError;
  // Opens the constant dialog with the texts; false when cancelled.
  std::function<bool(QString& name, QString& value)> EditConstant;

  // The commands N1..N6 and the tree click.
  void GroupsTreeClick();
  void AddGroup();
  void DeleteGroup();
  void RenameGroup();
  void AddConstant();
  void DeleteConstant();
  void EditSelectedConstant();

  QTreeWidget* GroupsTree() const { return m_tree; }
  QTreeWidget* ListView() const { return m_list; }

 private:
  TConstGroup* SelectedGroup() const;
  TConstClass* SelectedConstant() const;
  void FillList(TConstGroup* group);
  // The dialog loop of N4 and N6; true with the accepted texts.
  bool ConstantLoop(const QString& caption, TConstGroup& group, const TConstClass* editing,
                    QString& name, QString& value);

  TConstGroups& m_groups;
  QTreeWidget* m_tree;
  QTreeWidget* m_list;
  QTreeWidgetItem* m_root;
  TConstGroup* m_listed = nullptr;
};

}  // namespace velkor
