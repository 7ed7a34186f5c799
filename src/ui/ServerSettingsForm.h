#pragma once
// The server settings dialog. It only shows fields (ServerFields, texts and item indices);
// the command that opened it reads them and writes the server (ui/TreeEditing.h). The COM
// port list is this machine's serial lines; the stored name is kept as typed, and any
// path may be typed. The baud list holds only the rates the line can be set to.

#include <QDialog>

#include "ui/TreeEditing.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velkor {

class TServSett : public QDialog {
  Q_OBJECT
 public:
  // ports: the drop-down's entries (SerialPortNames() by default).
  explicit TServSett(QWidget* parent = nullptr, std::vector<std::string> ports = {},
                     bool listPorts = true);

  void SetFields(const ServerFields& fields);
  ServerFields Fields() const;

  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* PortEdit() const { return m_port; }
  QLineEdit* IntervalEdit() const { return m_interval; }
  QLineEdit* DescEdit() const { return m_desc; }
  QComboBox* ComPortBox() const { return m_comPort; }
  QComboBox* BaudBox() const { return m_baud; }
  QComboBox* BitsBox() const { return m_bits; }
  QComboBox* ParityBox() const { return m_parity; }
  QComboBox* StopsBox() const { return m_stops; }
  QRadioButton* TcpButton() const { return m_tcp; }
  QRadioButton* RtuButton() const { return m_rtu; }
  QGroupBox* ComFrame() const { return m_comFrame; }
  QGroupBox* EthernetFrame() const { return m_ethFrame; }
  QPushButton* OkButton() const { return m_ok; }

 private:
  void ModeChanged();

  QLineEdit* m_name;
  QRadioButton* m_tcp;
  QRadioButton* m_rtu;
  QGroupBox* m_comFrame;
  QComboBox* m_comPort;
  QComboBox* m_baud;
  QComboBox* m_bits;
  QComboBox* m_parity;
  QComboBox* m_stops;
  QLineEdit* m_interval;
  QGroupBox* m_ethFrame;
  QLineEdit* m_port;
  QLineEdit* m_desc;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

}  // namespace velkor
