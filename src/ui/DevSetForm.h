#pragma once
// The device settings dialog: shows DeviceFields; the command that opened it reads them
// (ui/TreeEditing.h). Its running form leaves only the answering settings editable: the
// rest of a device is read without locks by the serving threads.

#include <QDialog>

#include "ui/TreeEditing.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velkor {

class TDevSettForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDevSettForm(QWidget* parent = nullptr);

  void SetFields(const DeviceFields& fields, bool running);
  DeviceFields Fields() const;

  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* NumberEdit() const { return m_number; }
  QLineEdit* DescriptionEdit() const { return m_description; }
  QCheckBox* BitsMergeBox() const { return m_bitsMerge; }
  QCheckBox* RegsMergeBox() const { return m_regsMerge; }
  QCheckBox* AnswerBox() const { return m_answer; }
  QLabel* TimeoutLabel() const { return m_timeoutLabel; }
  QLineEdit* FromEdit() const { return m_from; }
  QLineEdit* ToEdit() const { return m_to; }
  QLineEdit* OpcEdit() const { return m_opc; }
  QPushButton* OkButton() const { return m_ok; }

 private:
  void AnswerChanged();

  QLineEdit* m_name;
  QLineEdit* m_number;
  QLineEdit* m_description;
  QCheckBox* m_bitsMerge;
  QCheckBox* m_regsMerge;
  QCheckBox* m_answer;
  QLabel* m_timeoutLabel;
  QLabel* m_fromLabel;
  QLabel* m_toLabel;
  QLineEdit* m_from;
  QLineEdit* m_to;
  QLineEdit* m_opc;
  QPushButton* m_browse;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

}  // namespace velkor
