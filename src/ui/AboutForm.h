#pragma once
// The about box: product name and version from the build (the CMake project version), the
// program's icon, and a link to the user manual, opened with the system's viewer.

#include <QDialog>

class QLabel;
class QPushButton;

namespace velkor {

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  static void Execute(QWidget* parent);

  QLabel* VersionLabel() const { return m_version; }
  QLabel* ManualLink() const { return m_link; }

 private:
  QLabel* m_version;
  QLabel* m_link;
};

// "Velkor" and the build's version ("0.1.0").
QString ProductName();
QString FileVersion();

}  // namespace velkor
