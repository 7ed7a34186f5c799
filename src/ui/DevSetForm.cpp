#include "ui/DevSetForm.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velkor {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

TDevSettForm::TDevSettForm(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  auto* names = new QGroupBox(this);
  m_name = new QLineEdit(names);
  m_number = new QLineEdit(names);
  m_description = new QLineEdit(names);
  auto* namesLayout = new QFormLayout(names);
  namesLayout->addRow(tr("Имя устройства"), m_name);
  namesLayout->addRow(tr("Номер устройства"), m_number);
  namesLayout->addRow(tr("Описание"), m_description);

  auto* merge = new QGroupBox(this);
  m_bitsMerge = new QCheckBox(tr("Объединить битовые пространства"), merge);
  m_regsMerge = new QCheckBox(tr("Объединить пространства регистров"), merge);
  auto* mergeLayout = new QVBoxLayout(merge);
  mergeLayout->addWidget(m_bitsMerge);
  mergeLayout->addWidget(m_regsMerge);

  auto* answer = new QGroupBox(this);
  m_answer = new QCheckBox(tr("Отвечать на запросы"), answer);
  m_answer->setChecked(true);
  m_timeoutLabel = new QLabel(tr("Таймаут на ответ, мс"), answer);
  m_fromLabel = new QLabel(tr("от"), answer);
  m_toLabel = new QLabel(tr("до"), answer);
  m_from = new QLineEdit(answer);
  m_to = new QLineEdit(answer);
  auto* delays = new QHBoxLayout;
  delays->addWidget(m_fromLabel);
  delays->addWidget(m_from, 1);
  delays->addWidget(m_toLabel);
  delays->addWidget(m_to, 1);
  auto* answerLayout = new QVBoxLayout(answer);
  answerLayout->addWidget(m_answer);
  answerLayout->addWidget(m_timeoutLabel);
  answerLayout->addLayout(delays);

  auto* opc = new QGroupBox(this);
  m_opc = new QLineEdit(opc);
  m_browse = new QPushButton(QStringLiteral("..."), opc);
  m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
  // The OPC server selection comes with the OPC client; until then the name is typed.
  m_browse->setEnabled(false);
  auto* opcRow = new QHBoxLayout;
  opcRow->addWidget(m_opc, 1);
  opcRow->addWidget(m_browse);
  auto* opcLayout = new QVBoxLayout(opc);
  opcLayout->addWidget(new QLabel(tr("OPC сервер по умолчанию"), opc));
  opcLayout->addLayout(opcRow);

  m_ok = new QPushButton(tr("OK"), this);
  m_cancel = new QPushButton(tr("Отмена"), this);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_answer, &QCheckBox::toggled, this, &TDevSettForm::AnswerChanged);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(names);
  layout->addWidget(merge);
  layout->addWidget(answer);
  layout->addWidget(opc);
  layout->addStretch(1);
  layout->addLayout(buttons);
  AnswerChanged();
  resize(layout->sizeHint().expandedTo(QSize(292, 357)));
  setFixedSize(size());
}

void TDevSettForm::AnswerChanged() {
  const bool on = m_answer->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{m_timeoutLabel, m_fromLabel, m_toLabel, m_from, m_to})
    w->setEnabled(on);
}

void TDevSettForm::SetFields(const DeviceFields& fields, bool running) {
  m_name->setText(Q(fields.Name));
  m_number->setText(Q(fields.Number));
  m_description->setText(Q(fields.Description));
  m_bitsMerge->setChecked(fields.BitsMerge);
  m_regsMerge->setChecked(fields.RegsMerge);
  m_answer->setChecked(fields.Answer);
  m_from->setText(Q(fields.From));
  m_to->setText(Q(fields.To));
  m_opc->setText(Q(fields.ProgID));
  // Running: only the answering settings are taken, so only they can be edited.
  for (QWidget* w : std::initializer_list<QWidget*>{m_name, m_number, m_description, m_bitsMerge,
                                                    m_regsMerge, m_opc})
    w->setEnabled(!running);
  AnswerChanged();
}

DeviceFields TDevSettForm::Fields() const {
  DeviceFields fields;
  fields.Name = m_name->text().toStdString();
  fields.Number = m_number->text().toStdString();
  fields.Description = m_description->text().toStdString();
  fields.BitsMerge = m_bitsMerge->isChecked();
  fields.RegsMerge = m_regsMerge->isChecked();
  fields.Answer = m_answer->isChecked();
  fields.From = m_from->text().toStdString();
  fields.To = m_to->text().toStdString();
  fields.ProgID = m_opc->text().toStdString();
  return fields;
}

}  // namespace velkor
