#include "ui/Manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "app/InstallPaths.h"

namespace velkor {

QString ManualPath() {
  const QString relative = QStringLiteral("/manual/index.html");
  QStringList candidates;
  if (QCoreApplication::instance())
    candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../") +
                      QStringLiteral(VELKOR_INSTALL_DOCDIR_RELATIVE) + relative;
  candidates << QStringLiteral(VELKOR_INSTALL_DOCDIR) + relative
             << QStringLiteral(VELKOR_SOURCE_DIR_FOR_DOCS) + QStringLiteral("/docs") + relative;
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  return {};
}

QString ManualUrl() {
  const QString path = ManualPath();
  return path.isEmpty() ? QString() : QUrl::fromLocalFile(path).toString();
}

bool OpenManual() {
  const QString url = ManualUrl();
  return !url.isEmpty() && QDesktopServices::openUrl(QUrl(url));
}

}  // namespace velkor
