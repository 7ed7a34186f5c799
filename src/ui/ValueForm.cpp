#include "ui/ValueForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "model/Error.h"
#include "model/Locks.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"

namespace velkor {

ValueEntry PrepareValueEntry(TModbusRegister& tag, const TConstGroups& groups) {
  ValueEntry entry;
  LockGuard lock(tag.Lock());
  entry.Caption = QString::fromStdString(tag.Caption());
  entry.Group = tag.ConstGroupName.empty() ? nullptr : groups.FindByName(tag.ConstGroupName);
  if (tag.Type() == VarType::Bool) {
    entry.Input = ValueInput::Bool;
    entry.BoolValue = tag.GetValue().RawInt() != 0;
  } else if (entry.Group) {
    entry.Input = ValueInput::Constants;
    for (int i = 0; i < entry.Group->Count(); ++i)
      entry.ConstNames.append(QString::fromStdString(entry.Group->Items(i)->Name));
    // The plain text form, as the live list matches constants against it.
    entry.Text = QString::fromStdString(entry.Group->DisplayText(tag.GetValue().ToString()));
  } else {
    entry.Input = ValueInput::Text;
    entry.Text = QString::fromStdString(tag.ValueText());
  }
  return entry;
}

bool ApplyValueEntry(TModbusRegister& tag, const TConstGroup* group, const std::string& text) {
  try {
    tag.SetValueLocked(Variant(group ? group->ValueOf(text) : text));
    return true;
  } catch (const VelkorError&) {
    return false;  // the tag keeps its value; the dialog shows no message
  }
}

TValueForm::TValueForm(TModbusRegister& tag, const TConstGroups& groups, QWidget* parent)
    : QDialog(parent), m_tag(tag), m_entry(PrepareValueEntry(tag, groups)) {
  setWindowTitle(tr("Ввод данных"));
  setObjectName(QStringLiteral("ValueForm"));

  m_caption = new QLabel(m_entry.Caption, this);
  QFont bold = m_caption->font();
  bold.setBold(true);
  bold.setPixelSize(16);
  m_caption->setFont(bold);

  m_edit = new QLineEdit(QStringLiteral("0"), this);
  m_edit->setObjectName(QStringLiteral("ValueEdit"));
  m_boolBox = new QComboBox(this);
  m_boolBox->setObjectName(QStringLiteral("BoolBox"));
  m_boolBox->addItems({QStringLiteral("TRUE"), QStringLiteral("FALSE")});
  m_constBox = new QComboBox(this);
  m_constBox->setObjectName(QStringLiteral("ConstBox"));
  m_constBox->setEditable(true);
  m_constBox->setInsertPolicy(QComboBox::NoInsert);

  m_inputs = new QStackedWidget(this);
  m_inputs->addWidget(m_edit);
  m_inputs->addWidget(m_boolBox);
  m_inputs->addWidget(m_constBox);
  switch (m_entry.Input) {
    case ValueInput::Text:
      m_edit->setText(m_entry.Text);
      m_edit->selectAll();
      m_inputs->setCurrentWidget(m_edit);
      break;
    case ValueInput::Bool:
      m_boolBox->setCurrentIndex(m_entry.BoolValue ? 0 : 1);
      m_inputs->setCurrentWidget(m_boolBox);
      break;
    case ValueInput::Constants:
      m_constBox->addItems(m_entry.ConstNames);
      m_constBox->setCurrentText(m_entry.Text);
      m_inputs->setCurrentWidget(m_constBox);
      break;
  }
  // Only the visible control may take part in the size and the tab order.
  for (QWidget* w : {static_cast<QWidget*>(m_edit), static_cast<QWidget*>(m_boolBox),
                     static_cast<QWidget*>(m_constBox)})
    if (w != m_inputs->currentWidget())
      w->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_caption);
  layout->addWidget(m_inputs);
  layout->addStretch(1);
  layout->addWidget(buttons);

  setMinimumSize(246, 90);
  setFixedSize(sizeHint().expandedTo(QSize(246, 90)));
  m_inputs->currentWidget()->setFocus();
}

bool TValueForm::OkClick() {
  QString text;
  switch (m_entry.Input) {
    case ValueInput::Text:
      text = m_edit->text();
      break;
    case ValueInput::Bool:
      text = m_boolBox->currentText();
      break;
    case ValueInput::Constants:
      text = m_constBox->currentText();
      break;
  }
  return ApplyValueEntry(m_tag, m_entry.Input == ValueInput::Constants ? m_entry.Group : nullptr,
                         text.toStdString());
}

bool TValueForm::Execute(TModbusRegister& tag, const TConstGroups& groups, QWidget* parent) {
  TValueForm form(tag, groups, parent);
  if (form.exec() != QDialog::Accepted) return false;
  return form.OkClick();
}

}  // namespace velkor
