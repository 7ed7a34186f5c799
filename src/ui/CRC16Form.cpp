#include "ui/CRC16Form.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "serving/Crc16.h"

namespace velkor {

namespace {
constexpr size_t kMaxPacket = 32768;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string BytesText(uint8_t a, uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X %02X", a, b);
  return text;
}
}  // namespace

std::vector<uint8_t> ParsePacketText(const std::string& text) {
  if (text.size() < 2) return {};
  std::vector<int> digits;
  for (char c : text) {
    if (c == ' ') continue;
    const int d = HexDigit(c);
    if (d < 0) return {};
    digits.push_back(d);
  }
  if (digits.size() % 2 != 0) return {};
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < digits.size() && bytes.size() < kMaxPacket; i += 2)
    bytes.push_back(uint8_t(digits[i] * 16 + digits[i + 1]));
  return bytes;
}

std::string CrcBytesText(uint16_t crc) { return BytesText(uint8_t(crc & 0xFF), uint8_t(crc >> 8)); }

std::string CalculatePacketCrc(const std::string& text) {
  const std::vector<uint8_t> bytes = ParsePacketText(text);
  return CrcBytesText(Crc16(bytes.data(), bytes.size()));
}

CrcCheck CheckPacketCrc(const std::string& text) {
  CrcCheck check;
  const std::vector<uint8_t> bytes = ParsePacketText(text);
  const size_t n = bytes.size();
  if (n <= 2) {
    check.TooShort = true;
    return check;
  }
  const uint16_t crc = Crc16(bytes.data(), n - 2);
  check.Calculated = CrcBytesText(crc);
  check.InPacket = BytesText(bytes[n - 2], bytes[n - 1]);
  check.Match = uint16_t(bytes[n - 2] | (bytes[n - 1] << 8)) == crc;
  return check;
}

TCheckCRC16Form::TCheckCRC16Form(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Проверка CRC16"));
  setMinimumSize(536, 185);
  m_packet = new QLineEdit(QStringLiteral("01 03 00 00 00 01 84 0A"), this);
  m_inPacket = new QLineEdit(this);
  m_calculated = new QLineEdit(this);
  m_inPacket->setReadOnly(true);
  m_calculated->setReadOnly(true);
  auto* check = new QPushButton(tr("Проверить CRC"), this);
  auto* calc = new QPushButton(tr("Расчитать CRC"), this);
  connect(check, &QPushButton::clicked, this, [this] { CheckClick(); });
  connect(calc, &QPushButton::clicked, this, [this] { CalculateClick(); });
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(
      tr("Пакет для проверки или расчета контрольной суммы (пример: 01 03 00 00 00 01 84 0A)"),
      this);
  prompt->setWordWrap(true);
  layout->addWidget(prompt);
  layout->addWidget(m_packet);
  auto* fields = new QFormLayout;
  fields->addRow(tr("CRC в пакете"), m_inPacket);
  fields->addRow(tr("Рассчитанная CRC"), m_calculated);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(check);
  buttons->addWidget(calc);
  layout->addLayout(fields);
  layout->addStretch(1);
  layout->addLayout(buttons);
  resize(536, 185);
}

void TCheckCRC16Form::Execute(QWidget* parent) {
  TCheckCRC16Form form(parent);
  form.exec();
}

QString TCheckCRC16Form::CheckClick() {
  const CrcCheck check = CheckPacketCrc(m_packet->text().toStdString());
  QString text;
  QMessageBox::Icon icon = QMessageBox::Critical;
  if (check.TooShort) {
    text = tr("Слишком короткий пакет!");
  } else {
    m_calculated->setText(QString::fromStdString(check.Calculated));
    m_inPacket->setText(QString::fromStdString(check.InPacket));
    text = check.Match ? tr("Контрольная сумма совпадает") : tr("Контрольная сумма не совпадает");
    if (check.Match) icon = QMessageBox::Information;
  }
  auto* box = new QMessageBox(icon, windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return text;
}

void TCheckCRC16Form::CalculateClick() {
  m_calculated->setText(QString::fromStdString(CalculatePacketCrc(m_packet->text().toStdString())));
}

}  // namespace velkor
