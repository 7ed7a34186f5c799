#include "ui/AscZeroForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace velkor {

TAscZeroForm::TAscZeroForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Очистка Modbus пространства"));
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(size, size));
  auto* text = new QLabel(tr("Очистить Modbus пространство устройств?"), this);
  QFont bold = text->font();
  bold.setBold(true);
  text->setFont(bold);
  m_show = new QCheckBox(tr("Показывать окно при пуске"), this);
  m_show->setChecked(true);
  m_yes = new QPushButton(tr("Да"), this);
  m_no = new QPushButton(tr("Нет"), this);
  m_cancel = new QPushButton(tr("Отмена"), this);
  m_yes->setDefault(true);
  connect(m_yes, &QPushButton::clicked, this, [this] { done(Yes); });
  connect(m_no, &QPushButton::clicked, this, [this] { done(No); });
  connect(m_cancel, &QPushButton::clicked, this, [this] { done(Cancel); });

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_yes);
  buttons->addWidget(m_no);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_show);
  layout->addLayout(buttons);
  setSizeGripEnabled(false);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TAscZeroForm::ShowAgain() const { return m_show->isChecked(); }

}  // namespace velkor
