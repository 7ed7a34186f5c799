#pragma once
// The clearing question at a manual start. It is shown with open(), not exec(): the start
// continues in the handler of its answer, so nothing waits in a nested event loop and a
// test answers it by clicking its buttons.

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace velkor {

class TAscZeroForm : public QDialog {
  Q_OBJECT
 public:
  enum Answer { Cancel = 0, Yes = 1, No = 2 };  // the dialog's result codes
  explicit TAscZeroForm(QWidget* parent = nullptr);

  bool ShowAgain() const;
  QCheckBox* ShowCheckBox() const { return m_show; }
  QPushButton* YesButton() const { return m_yes; }
  QPushButton* NoButton() const { return m_no; }
  QPushButton* CancelButton() const { return m_cancel; }

 private:
  QCheckBox* m_show;
  QPushButton* m_yes;
  QPushButton* m_no;
  QPushButton* m_cancel;
};

}  // namespace velkor
