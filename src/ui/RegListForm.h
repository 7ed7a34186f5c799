#pragma once
// "Список регистров": a read-only numbered list of tag full names (the users of a tag
// that cannot be deleted, the tag search's findings).

#include <QDialog>
#include <string>
#include <vector>

class QTreeWidget;

namespace velkor {

class TRegListForm : public QDialog {
  Q_OBJECT
 public:
  explicit TRegListForm(QWidget* parent = nullptr);
  void SetNames(const std::vector<std::string>& fullNames);
  QTreeWidget* List() const { return m_list; }

 private:
  QTreeWidget* m_list;
};

}  // namespace velkor
