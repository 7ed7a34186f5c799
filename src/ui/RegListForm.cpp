#include "ui/RegListForm.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

namespace velkor {

namespace {
class RowsModel : public QAbstractTableModel {
 public:
  RowsModel(QStringList rows, QObject* parent)
      : QAbstractTableModel(parent), m_rows(std::move(rows)) {}
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : int(m_rows.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : 2;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || index.row() >= m_rows.size()) return {};
    return index.column() == 0 ? QVariant(QString::number(index.row() + 1))
                               : QVariant(m_rows[index.row()]);
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("№") : QObject::tr("Тег");
  }

 private:
  QStringList m_rows;
};
}  // namespace

TRegListForm::TRegListForm(const QStringList& rows, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Список регистров"));
  setFixedSize(454, 477);
  m_list = new QTableView(this);
  m_list->setModel(new RowsModel(rows, this));
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
  m_list->setColumnWidth(0, 50);
  m_list->setColumnWidth(1, 400);
  m_list->horizontalHeader()->setStretchLastSection(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);
}

void TRegListForm::Execute(const QStringList& rows, QWidget* parent) {
  TRegListForm form(rows, parent);
  form.exec();
}

}  // namespace velkor
