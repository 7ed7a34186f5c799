#pragma once
// "Список регистров": a modal list of tags ("№", "Тег") that the tag search and the delete
// commands fill. A model over the row texts, so a search with many hits stays cheap.

#include <QDialog>
#include <QStringList>

class QTableView;

namespace velkor {

class TRegListForm : public QDialog {
  Q_OBJECT
 public:
  // Rows are the "Тег" texts; "№" counts from 1.
  explicit TRegListForm(const QStringList& rows, QWidget* parent = nullptr);
  static void Execute(const QStringList& rows, QWidget* parent);
  QTableView* List() const { return m_list; }

 private:
  QTableView* m_list;
};

}  // namespace velkor
