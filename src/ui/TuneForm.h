#pragma once
// The settings dialog "Настройки". It edits a copy of the program settings shown in its
// controls; only "OK" (OkClick) writes anything: the logon entry first, then the values,
// then the store. "Отмена" changes nothing, the logon entry included. The controls carry
// the names the rest of the program and the tests know them by.

#include <QDialog>
#include <QSettings>
#include <QString>

#include "ui/ProgramSettings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velkor {

class TTuneForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTuneForm(QWidget* parent = nullptr);

  // "Настройки..." of the menu: fills the dialog from `settings`, shows it modally and on
  // "OK" applies it to `settings` and `store`. True after "OK": the caller then gives the
  // refresh timer the (possibly new) Period.
  static bool Execute(TProgramSettings& settings, QSettings& store, const QString& exePath,
                      QWidget* parent);

  // Fills the controls; the logon box shows whether the logon entry exists.
  void SetFromSettings(const TProgramSettings& settings);
  // The "OK" handler without the modal loop: writes or removes the logon entry (errors
  // ignored), takes the boxes and the path, Period only when its text is an integer, then
  // SaveSettings. Returns what SaveSettings returned.
  bool OkClick(TProgramSettings& settings, QSettings& store, const QString& exePath);

  // Enables the path, "..." and the automatic start box exactly when the default project is
  // to be loaded.
  void UpdateEnabling();

  QCheckBox* ZeroRegsCheckBoxk() const { return m_zeroRegs; }
  QCheckBox* ShowZeroCheckBox() const { return m_askZero; }
  QCheckBox* AutoStartBox() const { return m_logon; }
  QCheckBox* AutoLoadConfigCheckBox() const { return m_autoLoad; }
  QLineEdit* ConfigPathEdit() const { return m_path; }
  QPushButton* ConfigPathButton() const { return m_browse; }
  QCheckBox* AutoStartCheckBox() const { return m_autoStart; }
  QCheckBox* HideCheckBox() const { return m_hide; }
  QLineEdit* PeriodEdit() const { return m_period; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 private:
  void ConfigPathButtonClick();

  QCheckBox* m_zeroRegs;
  QCheckBox* m_askZero;
  QCheckBox* m_logon;
  QCheckBox* m_autoLoad;
  QLineEdit* m_path;
  QPushButton* m_browse;
  QCheckBox* m_autoStart;
  QCheckBox* m_hide;
  QLineEdit* m_period;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

}  // namespace velkor
