#include "ui/ProgramSettings.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace velkor {

namespace {

// A value of another type than expected (a hand-edited file) counts as missing.
bool ReadBool(QSettings& store, const char* name, bool fallback) {
  const QVariant v = store.value(QLatin1String(name));
  bool ok = false;
  const int number = v.isValid() ? v.toString().trimmed().toInt(&ok) : 0;
  if (ok) return number != 0;
  store.setValue(QLatin1String(name), fallback ? 1 : 0);
  return fallback;
}

int ReadInt(QSettings& store, const char* name, int fallback) {
  const QVariant v = store.value(QLatin1String(name));
  bool ok = false;
  const int number = v.isValid() ? v.toString().trimmed().toInt(&ok) : 0;
  if (ok) return number;
  store.setValue(QLatin1String(name), fallback);
  return fallback;
}

QString ReadText(QSettings& store, const char* name, const QString& fallback) {
  const QVariant v = store.value(QLatin1String(name));
  if (v.isValid() && v.canConvert<QString>()) return v.toString();
  store.setValue(QLatin1String(name), fallback);
  return fallback;
}

// QSettings writes the whole file through a temporary and a rename, so a crash leaves
// either the old or the new file.
bool Flush(QSettings& store) {
  store.sync();
  return store.status() == QSettings::NoError;
}

}  // namespace

bool TProgramSettings::LoadSettings(
    QSettings& store, const std::function<void(const TProgramSettings&)>& afterConfigPath) {
  ZeroRegs = ReadBool(store, "ZeroRegs", false);
  AskZeroRegs = ReadBool(store, "AskZeroRegs", true);
  AutoLoadConfig = ReadBool(store, "AutoLoadConfig", false);
  Period = ReadInt(store, "Period", kDefaultPeriod);
  ConfigPath = ReadText(store, "ConfigPath", QString());
  if (afterConfigPath) afterConfigPath(*this);
  AutoStart = ReadBool(store, "AutoStart", false);
  HideApp = ReadBool(store, "HideApp", false);
  return Flush(store);
}

bool TProgramSettings::SaveSettings(QSettings& store) const {
  store.setValue(QStringLiteral("ZeroRegs"), ZeroRegs ? 1 : 0);
  store.setValue(QStringLiteral("AskZeroRegs"), AskZeroRegs ? 1 : 0);
  store.setValue(QStringLiteral("AutoLoadConfig"), AutoLoadConfig ? 1 : 0);
  store.setValue(QStringLiteral("ConfigPath"), ConfigPath);
  store.setValue(QStringLiteral("AutoStart"), AutoStart ? 1 : 0);
  store.setValue(QStringLiteral("HideApp"), HideApp ? 1 : 0);
  store.setValue(QStringLiteral("X"), X);
  store.setValue(QStringLiteral("Y"), Y);
  store.setValue(QStringLiteral("Width"), Width);
  store.setValue(QStringLiteral("Height"), Height);
  store.setValue(QStringLiteral("Period"), Period);
  return Flush(store);
}

std::unique_ptr<QSettings> OpenSettingsStore() {
  // The file QSettings' native format uses for organisation and application "Velkor" on
  // Linux, named explicitly so the INI format (and its name) holds on every platform.
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return std::make_unique<QSettings>(dir + QStringLiteral("/Velkor/Velkor.conf"),
                                     QSettings::IniFormat);
}

QString DefaultProjectToOpen(const TProgramSettings& settings) {
  if (!settings.AutoLoadConfig || settings.ConfigPath.isEmpty()) return {};
  const QFileInfo file(settings.ConfigPath);
  return file.isFile() ? settings.ConfigPath : QString();
}

}  // namespace velkor
