#include "ui/RecentFiles.h"

#include <QAction>
#include <QMenu>

namespace velkor {

namespace {
const QString kGroup = QStringLiteral("LastFiles");
}

TRecentFiles::TRecentFiles(QSettings& store, QMenu* fileMenu, OpenAction open, QObject* parent)
    : QObject(parent), m_store(store), m_menu(fileMenu), m_open(std::move(open)) {
  Load();
}

// The items are this object's children: a destroyed item leaves the menu by itself.
TRecentFiles::~TRecentFiles() = default;

void TRecentFiles::AddToList(QStringList& files, const QString& path) {
  const qsizetype at = files.indexOf(path);
  if (at >= 0) files.removeAt(at);
  files.prepend(path);
  while (files.size() > kMaxFiles) files.removeLast();
}

void TRecentFiles::Load() {
  m_files.clear();
  m_store.beginGroup(kGroup);
  for (const QString& key : m_store.childKeys()) m_files.append(m_store.value(key).toString());
  m_store.endGroup();
  RebuildMenu();
}

void TRecentFiles::Add(const QString& path) {
  AddToList(m_files, path);
  Save();
  RebuildMenu();
}

void TRecentFiles::Save() {
  m_store.remove(kGroup);
  m_store.beginGroup(kGroup);
  for (qsizetype i = 0; i < m_files.size(); ++i)
    m_store.setValue(QStringLiteral("file%1").arg(i + 1), m_files[i]);
  m_store.endGroup();
  m_store.sync();  // a crash later keeps the list; a failed write only loses the list
}

void TRecentFiles::RebuildMenu() {
  // An item may be rebuilt away from inside its own triggered signal, so it goes later.
  for (QAction* action : m_actions) {
    if (m_menu) m_menu->removeAction(action);
    action->deleteLater();
  }
  m_actions.clear();
  if (!m_menu) return;
  for (const QString& path : m_files) {
    auto* action = new QAction(QString(path).replace(QLatin1Char('&'), QLatin1String("&&")), this);
    action->setData(path);
    connect(action, &QAction::triggered, this, [this, path] { ItemTriggered(path); });
    m_menu->addAction(action);  // the menu ends with the separator the items hang below
    m_actions.append(action);
  }
}

void TRecentFiles::ItemTriggered(const QString& path) {
  if (m_open && m_open(path)) Add(path);
}

}  // namespace velkor
