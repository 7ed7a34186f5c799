#include "ui/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace velkor {

QString AutostartEntryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/autostart/velkor.desktop");
}

bool AutostartEntryExists() {
  QFile file(AutostartEntryPath());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  bool inEntry = false, exec = false, hidden = false;
  QTextStream in(&file);
  for (int lines = 0; !in.atEnd() && lines < 10000; ++lines) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inEntry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inEntry) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) continue;
    const QString key = line.left(eq).trimmed(), value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("Exec")) exec = !value.isEmpty();
    if (key == QLatin1String("Hidden")) hidden = value == QLatin1String("true");
  }
  return exec && !hidden;
}

QString DesktopExecArgument(const QString& path) {
  // Reserved characters force quoting; inside quotes ", `, $ and \ take a backslash. The
  // whole value is then a desktop-entry string, whose own escape doubles the backslashes.
  static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool quote = false;
  for (QChar c : path) quote = quote || kReserved.contains(c);
  QString arg;
  for (QChar c : path) {
    if (c == QLatin1Char('%')) {
      arg += QLatin1String("%%");
    } else if (quote && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                         c == QLatin1Char('\\'))) {
      arg += QLatin1String("\\\\");
      if (c == QLatin1Char('\\'))
        arg += QLatin1String("\\\\");
      else
        arg += c;
    } else {
      arg += c;
    }
  }
  return quote ? QLatin1Char('"') + arg + QLatin1Char('"') : arg;
}

bool SetAutostartEntry(bool on, const QString& exePath) {
  const QString path = AutostartEntryPath();
  if (!on) return !QFileInfo::exists(path) || QFile::remove(path);
  if (exePath.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Velkor\n"
                           "Comment=Modbus slave emulator\n"
                           "Exec=%1\n"
                           "Icon=velkor\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(DesktopExecArgument(exePath));
  file.write(text.toUtf8());
  return file.commit();
}

}  // namespace velkor
