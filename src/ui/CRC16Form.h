#pragma once
// "Проверка CRC16": computes the Modbus CRC of a packet typed as hexadecimal bytes, or
// checks the CRC at its end. Parsing and the check are plain functions the tests drive.

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;

namespace velkor {

// A text of byte pairs with blanks anywhere; anything else, an odd digit count or fewer
// than 2 characters gives no bytes. At most 32768 bytes are taken.
std::vector<uint8_t> ParsePacketText(const std::string& text);
// The CRC as sent: low byte first, "84 0A".
std::string CrcBytesText(uint16_t crc);

struct CrcCheck {
  bool TooShort = false;
  bool Match = false;
  std::string InPacket;    // the last two bytes as written
  std::string Calculated;  // the CRC of the bytes before them
};
CrcCheck CheckPacketCrc(const std::string& text);
// "Расчитать CRC": the CRC of every parsed byte (FF FF for none).
std::string CalculatePacketCrc(const std::string& text);

class TCheckCRC16Form : public QDialog {
  Q_OBJECT
 public:
  explicit TCheckCRC16Form(QWidget* parent = nullptr);
  static void Execute(QWidget* parent);

  // The buttons' handlers; the message boxes open window-modally. Check returns the text
  // of the message it shows.
  QString CheckClick();
  void CalculateClick();

  QLineEdit* PacketEdit() const { return m_packet; }
  QLineEdit* InPacketEdit() const { return m_inPacket; }
  QLineEdit* CalculatedEdit() const { return m_calculated; }

 private:
  QLineEdit* m_packet;
  QLineEdit* m_inPacket;
  QLineEdit* m_calculated;
};

}  // namespace velkor
