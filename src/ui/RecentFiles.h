#pragma once
// The recently opened projects: at most five paths, newest first, kept in the store's
// group "LastFiles" as file1..file5 and shown at the end of the "Файл" menu (below its
// last separator) with the full path as caption. The list logic is a plain function the
// tests drive; the menu items are rebuilt from the list after every change.

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <functional>

class QAction;

namespace velkor {

class TRecentFiles : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxFiles = 5;

  // Opens a project after a click on its item (empty the project, load the file); true when
  // the load succeeded, which moves the path to the top. A failed load leaves the list.
  using OpenAction = std::function<bool(const QString& path)>;

  // `store` and `fileMenu` must outlive this object. Loads the list and builds the menu.
  TRecentFiles(QSettings& store, QMenu* fileMenu, OpenAction open, QObject* parent = nullptr);
  ~TRecentFiles() override;

  // Reads every value of "LastFiles" in the order the store lists them; rebuilds the menu.
  void Load();
  // After "Открыть" and after a click on an item (not after saving, not for the default
  // project opened at start): to the top, at most five, written, menu rebuilt.
  void Add(const QString& path);
  const QStringList& Files() const { return m_files; }
  // The menu items, in list order.
  const QList<QAction*>& Actions() const { return m_actions; }

  // The list rule alone: removes the first entry equal to `path` (case-sensitive), puts
  // `path` on top and drops entries beyond kMaxFiles.
  static void AddToList(QStringList& files, const QString& path);

 private:
  void Save();
  void RebuildMenu();
  void ItemTriggered(const QString& path);

  QSettings& m_store;
  QPointer<QMenu> m_menu;
  OpenAction m_open;
  QStringList m_files;
  QList<QAction*> m_actions;
};

}  // namespace velkor
