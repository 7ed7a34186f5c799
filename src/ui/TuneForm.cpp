#include "ui/TuneForm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Autostart.h"

namespace velkor {

namespace {
constexpr QSize kClientSize(333, 292);
}

TTuneForm::TTuneForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TuneForm"));
  setWindowTitle(tr("Настройки"));

  auto box = [this](const QString& text, const char* name) {
    auto* b = new QCheckBox(text, this);
    b->setObjectName(QLatin1String(name));
    return b;
  };
  m_zeroRegs = box(tr("Обнулять регистры перед пуском"), "ZeroRegsCheckBoxk");
  m_askZero = box(tr("Спрашивать об обнулении перед пуском"), "ShowZeroCheckBox");
  m_logon = box(tr("Автоматический запуск при старте Windows"), "AutoStartBox");
  m_autoLoad = box(tr("Загружать файл конфигурации по умолчанию"), "AutoLoadConfigCheckBox");
  m_path = new QLineEdit(this);
  m_path->setObjectName(QStringLiteral("ConfigPathEdit"));
  m_browse = new QPushButton(QStringLiteral("..."), this);
  m_browse->setObjectName(QStringLiteral("ConfigPathButton"));
  m_browse->setAutoDefault(false);
  m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 20);
  m_autoStart = box(tr("Автоматический пуск серверов"), "AutoStartCheckBox");
  m_hide = box(tr("Сворачивать в трей при автозапуске"), "HideCheckBox");
  auto* periodLabel = new QLabel(tr("Период обновления переменных на экране (мс):"), this);
  m_period = new QLineEdit(this);
  m_period->setObjectName(QStringLiteral("PeriodEdit"));
  periodLabel->setBuddy(m_period);
  m_ok = new QPushButton(QStringLiteral("OK"), this);
  m_ok->setObjectName(QStringLiteral("OkButton"));
  m_ok->setDefault(true);
  m_cancel = new QPushButton(tr("Отмена"), this);
  m_cancel->setObjectName(QStringLiteral("CancelButton"));

  // The options that belong to the default project sit indented under its box.
  auto* dependent = new QGridLayout;
  dependent->setContentsMargins(20, 0, 0, 0);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(m_path, 1);
  pathRow->addWidget(m_browse);
  dependent->addLayout(pathRow, 0, 0);
  dependent->addWidget(m_autoStart, 1, 0);
  dependent->addWidget(m_hide, 2, 0);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_zeroRegs);
  layout->addWidget(m_askZero);
  layout->addWidget(m_logon);
  layout->addWidget(m_autoLoad);
  layout->addLayout(dependent);
  layout->addSpacing(8);
  layout->addWidget(periodLabel);
  layout->addWidget(m_period);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(m_autoLoad, &QCheckBox::clicked, this, &TTuneForm::UpdateEnabling);
  connect(m_browse, &QPushButton::clicked, this, &TTuneForm::ConfigPathButtonClick);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  UpdateEnabling();
  // A fixed border, never smaller than the layout needs (larger fonts, other styles).
  setFixedSize(sizeHint().expandedTo(kClientSize));
}

void TTuneForm::UpdateEnabling() {
  const bool load = m_autoLoad->isChecked();
  m_path->setEnabled(load);  // the style greys a disabled edit from the palette
  m_browse->setEnabled(load);
  m_autoStart->setEnabled(load);  // its tick stays either way
  m_logon->setChecked(AutostartEntryExists());
}

void TTuneForm::SetFromSettings(const TProgramSettings& settings) {
  m_zeroRegs->setChecked(settings.ZeroRegs);
  m_askZero->setChecked(settings.AskZeroRegs);
  m_autoLoad->setChecked(settings.AutoLoadConfig);
  m_path->setText(settings.ConfigPath);
  m_autoStart->setChecked(settings.AutoStart);
  m_hide->setChecked(settings.HideApp);
  m_period->setText(QString::number(settings.Period));
  UpdateEnabling();
}

bool TTuneForm::OkClick(TProgramSettings& settings, QSettings& store, const QString& exePath) {
  SetAutostartEntry(m_logon->isChecked(), exePath);  // failures are ignored
  settings.ZeroRegs = m_zeroRegs->isChecked();
  settings.AskZeroRegs = m_askZero->isChecked();
  settings.AutoLoadConfig = m_autoLoad->isChecked();
  settings.ConfigPath = m_path->text();
  settings.AutoStart = m_autoStart->isChecked();
  settings.HideApp = m_hide->isChecked();
  bool ok = false;
  const int period = m_period->text().trimmed().toInt(&ok);
  if (ok) settings.Period = period;
  return settings.SaveSettings(store);
}

bool TTuneForm::Execute(TProgramSettings& settings, QSettings& store, const QString& exePath,
                        QWidget* parent) {
  TTuneForm form(parent);
  form.SetFromSettings(settings);
  if (form.exec() != QDialog::Accepted) return false;
  form.OkClick(settings, store, exePath);
  return true;
}

void TTuneForm::ConfigPathButtonClick() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QStringLiteral("*.xml"));
  dialog.setDefaultSuffix(QStringLiteral("xml"));
  if (!m_path->text().isEmpty()) dialog.selectFile(m_path->text());
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    m_path->setText(dialog.selectedFiles().first());
}

}  // namespace velkor
