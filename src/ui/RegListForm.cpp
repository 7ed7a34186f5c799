#include "ui/RegListForm.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velkor {

TRegListForm::TRegListForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Список регистров"));
  m_list = new QTreeWidget(this);
  m_list->setHeaderLabels({tr("№"), tr("Тег")});
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Grid lines between the cells.
  m_list->setStyleSheet(QStringLiteral("QTreeView::item { border: 1px solid palette(mid); }"));
  m_list->setColumnWidth(0, 50);
  m_list->setColumnWidth(1, 400);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);
  setFixedSize(454, 477);
}

void TRegListForm::SetNames(const std::vector<std::string>& fullNames) {
  m_list->clear();
  int n = 0;
  for (const std::string& name : fullNames)
    m_list->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::number(++n), QString::fromStdString(name)}));
}

}  // namespace velkor
