#include "ui/ServerSettingsForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/SerialPorts.h"

namespace velkor {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

TServSett::TServSett(QWidget* parent, std::vector<std::string> ports, bool listPorts)
    : QDialog(parent) {
  setWindowTitle(tr("Настройки сервера"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  m_name = new QLineEdit(this);
  m_tcp = new QRadioButton(tr("Modbus TCP"), this);
  m_rtu = new QRadioButton(tr("Modbus RTU"), this);

  m_comFrame = new QGroupBox(tr(" COM порт "), this);
  m_comPort = new QComboBox(m_comFrame);
  m_comPort->setEditable(true);
  m_comPort->setInsertPolicy(QComboBox::NoInsert);
  // Long /dev/serial/by-id names must not widen the dialog; the open list shows them whole.
  m_comPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_comPort->setMinimumContentsLength(12);
  if (listPorts && ports.empty()) ports = SerialPortNames();
  for (const std::string& port : ports) m_comPort->addItem(Q(port));
  m_comPort->setEditText(QStringLiteral("COM1"));
  m_baud = new QComboBox(m_comFrame);
  // Item data: the index into kBaudRates, so a rate the line lacks (14400) just is not there.
  for (int i = 0; i < int(std::size(kBaudRates)); ++i)
    if (LineSupportsBaud(kBaudRates[i])) m_baud->addItem(QString::number(kBaudRates[i]), i);
  m_baud->setCurrentIndex(m_baud->findData(3));
  m_bits = new QComboBox(m_comFrame);
  m_bits->addItems({QStringLiteral("7"), QStringLiteral("8")});
  m_bits->setCurrentIndex(1);
  m_parity = new QComboBox(m_comFrame);
  m_parity->addItems({tr("Нет"), tr("Четный"), tr("Нечетный")});
  m_stops = new QComboBox(m_comFrame);
  m_stops->addItems({QStringLiteral("1"), QStringLiteral("2")});
  m_interval = new QLineEdit(QStringLiteral("10"), m_comFrame);
  auto* com = new QFormLayout(m_comFrame);
  com->addRow(tr("Порт"), m_comPort);
  com->addRow(tr("Скорость, бит/сек"), m_baud);
  com->addRow(tr("Биты данных"), m_bits);
  com->addRow(tr("Бит паритета"), m_parity);
  com->addRow(tr("Стоп биты"), m_stops);
  com->addRow(tr("Межбайтовый интервал (мс)"), m_interval);

  m_ethFrame = new QGroupBox(tr(" Ethernet "), this);
  m_port = new QLineEdit(m_ethFrame);
  auto* eth = new QFormLayout(m_ethFrame);
  eth->addRow(tr("Порт"), m_port);

  m_desc = new QLineEdit(this);
  m_ok = new QPushButton(tr("OK"), this);
  m_cancel = new QPushButton(tr("Отмена"), this);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_tcp, &QRadioButton::toggled, this, &TServSett::ModeChanged);

  auto* top = new QFormLayout;
  top->addRow(tr("Имя"), m_name);
  auto* modes = new QHBoxLayout;
  modes->addWidget(m_tcp);
  modes->addWidget(m_rtu);
  modes->addStretch(1);
  top->addRow(modes);
  auto* frames = new QHBoxLayout;
  frames->addWidget(m_comFrame, 3);
  frames->addWidget(m_ethFrame, 2, Qt::AlignTop);
  auto* desc = new QFormLayout;
  desc->addRow(tr("Описание"), m_desc);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(frames);
  layout->addLayout(desc);
  layout->addStretch(1);
  layout->addLayout(buttons);

  m_tcp->setChecked(true);
  ModeChanged();
  // The form's size, grown where fonts need more, then fixed.
  resize(layout->sizeHint().expandedTo(QSize(392, 317)));
  setFixedSize(size());
}

void TServSett::ModeChanged() {
  const bool tcp = m_tcp->isChecked();
  m_comFrame->setEnabled(!tcp);
  m_ethFrame->setEnabled(tcp);
}

void TServSett::SetFields(const ServerFields& fields) {
  m_name->setText(Q(fields.Name));
  m_port->setText(Q(fields.Port));
  m_desc->setText(Q(fields.Desc));
  (fields.Tcp ? m_tcp : m_rtu)->setChecked(true);
  ModeChanged();
  const int baud = m_baud->findData(fields.BaudIndex);
  if (baud >= 0) m_baud->setCurrentIndex(baud);
  m_bits->setCurrentIndex(fields.BitsIndex == 0 ? 0 : 1);
  m_parity->setCurrentIndex(fields.ParityIndex >= 0 && fields.ParityIndex <= 2 ? fields.ParityIndex
                                                                               : 0);
  m_stops->setCurrentIndex(fields.StopsIndex == 1 ? 1 : 0);
  m_interval->setText(Q(fields.Interval));
  m_comPort->setEditText(Q(fields.ComPort));
}

ServerFields TServSett::Fields() const {
  ServerFields fields;
  fields.Name = m_name->text().toStdString();
  fields.Port = m_port->text().toStdString();
  fields.Desc = m_desc->text().toStdString();
  fields.Tcp = m_tcp->isChecked();
  fields.BaudIndex = m_baud->currentIndex() >= 0 ? m_baud->currentData().toInt() : -1;
  fields.BitsIndex = m_bits->currentIndex();
  fields.ParityIndex = m_parity->currentIndex();
  fields.StopsIndex = m_stops->currentIndex();
  fields.Interval = m_interval->text().toStdString();
  fields.ComPort = m_comPort->currentText().toStdString();
  return fields;
}

}  // namespace velkor
