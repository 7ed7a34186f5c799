// The settings store: what a first start writes, how values of the wrong kind read, the
// write order, and the recent files list with its menu.
#include <QAction>
#include <QFile>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "ui/ProgramSettings.h"
#include "ui/RecentFiles.h"

using namespace velkor;

class ProgramSettingsTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_dir;
  std::unique_ptr<QSettings> Store(const QString& name) {
    return std::make_unique<QSettings>(m_dir.filePath(name), QSettings::IniFormat);
  }

 private slots:
  void FirstStartWritesTheDefaults() {
    // The real store, under the test's private XDG_CONFIG_HOME.
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Velkor/Velkor.conf";
    QFile::remove(expected);
    auto store = OpenSettingsStore();
    QCOMPARE(store->fileName(), expected);

    TProgramSettings settings;
    settings.Period = 7;  // proves that the values come from the store
    settings.AskZeroRegs = false;
    bool callbackSawConfigPath = false;
    QVERIFY(settings.LoadSettings(*store, [&](const TProgramSettings& s) {
      callbackSawConfigPath = s.Period == 500 && s.ConfigPath.isEmpty();
    }));
    QVERIFY(callbackSawConfigPath);
    QVERIFY(QFile::exists(expected));

    QSettings reread(expected, QSettings::IniFormat);
    const QList<std::pair<QString, QString>> defaults = {
        {"ZeroRegs", "0"},  {"AskZeroRegs", "1"}, {"AutoLoadConfig", "0"}, {"Period", "500"},
        {"ConfigPath", ""}, {"AutoStart", "0"},   {"HideApp", "0"}};
    for (const auto& [name, value] : defaults) {
      QVERIFY2(reread.contains(name), qPrintable(name));
      QCOMPARE(reread.value(name).toString(), value);
    }
    QVERIFY(!reread.contains("X"));  // geometry is only written, at close
    QCOMPARE(settings.AskZeroRegs, true);
    QCOMPARE(settings.Period, 500);
  }

  void ValuesRead_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("zeroRegs");
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("zeroRegsAfter");  // what the store then holds
    QTest::newRow("one") << "1" << true << 500 << "1";
    QTest::newRow("any non-zero") << "-3" << true << 500 << "-3";
    QTest::newRow("zero") << "0" << false << 500 << "0";
    // A hand-edited value of another kind counts as missing: default, written back.
    QTest::newRow("not a number") << "yes" << false << 500 << "0";
  }
  void ValuesRead() {
    QFETCH(QString, stored);
    QFETCH(bool, zeroRegs);
    QFETCH(int, period);
    QFETCH(QString, zeroRegsAfter);
    auto store = Store(QStringLiteral("read-%1.conf").arg(QTest::currentDataTag()));
    store->setValue("ZeroRegs", stored);
    TProgramSettings settings;
    QVERIFY(settings.LoadSettings(*store));
    QCOMPARE(settings.ZeroRegs, zeroRegs);
    QCOMPARE(settings.Period, period);
    QCOMPARE(store->value("ZeroRegs").toString(), zeroRegsAfter);
  }

  void SaveWritesEveryValueAndReadsBack() {
    auto store = Store("save.conf");
    TProgramSettings written;
    written.ZeroRegs = true;
    written.AskZeroRegs = false;
    written.AutoLoadConfig = true;
    written.ConfigPath = QStringLiteral("/home/пользователь/проект, 1.xml");
    written.AutoStart = true;
    written.HideApp = true;
    written.Period = 250;
    written.X = 10, written.Y = 20, written.Width = 926, written.Height = 832;
    QVERIFY(written.SaveSettings(*store));
    QCOMPARE(store->value("Width").toInt(), 926);
    QCOMPARE(store->value("ZeroRegs").toString(), QStringLiteral("1"));

    QSettings fresh(store->fileName(), QSettings::IniFormat);
    TProgramSettings read;
    QVERIFY(read.LoadSettings(fresh));
    QCOMPARE(read.ZeroRegs, true);
    QCOMPARE(read.AskZeroRegs, false);
    QCOMPARE(read.AutoLoadConfig, true);
    QCOMPARE(read.ConfigPath, written.ConfigPath);
    QCOMPARE(read.AutoStart, true);
    QCOMPARE(read.HideApp, true);
    QCOMPARE(read.Period, 250);
    QCOMPARE(read.Width, 0);  // never read
  }

  void DefaultProjectToOpen_data() {
    QTest::addColumn<bool>("autoLoad");
    QTest::addColumn<QString>("file");  // relative to the test directory; "" for none
    QTest::addColumn<bool>("opened");
    QTest::newRow("on, file there") << true << "there.xml" << true;
    QTest::newRow("on, file missing") << true << "missing.xml" << false;
    QTest::newRow("on, path empty") << true << "" << false;
    QTest::newRow("on, a directory") << true << "." << false;
    QTest::newRow("off, file there") << false << "there.xml" << false;
  }
  void DefaultProjectToOpen() {
    QFETCH(bool, autoLoad);
    QFETCH(QString, file);
    QFETCH(bool, opened);
    QFile there(m_dir.filePath("there.xml"));
    QVERIFY(there.open(QIODevice::WriteOnly));
    there.close();
    TProgramSettings settings;
    settings.AutoLoadConfig = autoLoad;
    settings.ConfigPath = file.isEmpty() ? QString() : m_dir.filePath(file);
    QCOMPARE(velkor::DefaultProjectToOpen(settings), opened ? settings.ConfigPath : QString());
  }

  void MissingDefaultProjectKeepsTheOtherOptions() {
    // The start-up options still act and are written back unchanged at close.
    auto store = Store("missing-project.conf");
    store->setValue("AutoLoadConfig", 1);
    store->setValue("ConfigPath", m_dir.filePath("gone.xml"));
    store->setValue("AutoStart", 1);
    store->setValue("HideApp", 1);
    TProgramSettings settings;
    QString opened = "not called";
    QVERIFY(settings.LoadSettings(
        *store, [&](const TProgramSettings& s) { opened = velkor::DefaultProjectToOpen(s); }));
    QCOMPARE(opened, QString());
    QVERIFY(settings.AutoStart && settings.HideApp);
    QVERIFY(settings.SaveSettings(*store));
    QSettings reread(store->fileName(), QSettings::IniFormat);
    QCOMPARE(reread.value("AutoStart").toInt(), 1);
    QCOMPARE(reread.value("ConfigPath").toString(), m_dir.filePath("gone.xml"));
  }

  // ------------------------------------------------------------ recent files

  void RecentList_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("into empty") << QStringList{} << "/a.xml" << QStringList{"/a.xml"};
    QTest::newRow("same file twice") << QStringList{"/a.xml"} << "/a.xml" << QStringList{"/a.xml"};
    QTest::newRow("known file moves up") << QStringList{"/a.xml", "/b.xml", "/c.xml"} << "/c.xml"
                                         << QStringList{"/c.xml", "/a.xml", "/b.xml"};
    QTest::newRow("sixth file drops the oldest")
        << QStringList{"/5", "/4", "/3", "/2", "/1"} << "/6"
        << QStringList{"/6", "/5", "/4", "/3", "/2"};
    QTest::newRow("case counts") << QStringList{"/A.xml"} << "/a.xml"
                                 << QStringList{"/a.xml", "/A.xml"};
    QTest::newRow("only the first match goes")
        << QStringList{"/b", "/a", "/a"} << "/a" << QStringList{"/a", "/b", "/a"};
  }
  void RecentList() {
    QFETCH(QStringList, before);
    QFETCH(QString, added);
    QFETCH(QStringList, after);
    TRecentFiles::AddToList(before, added);
    QCOMPARE(before, after);
  }

  void RecentFilesStoreAndMenu() {
    auto store = Store("recent.conf");
    QMenu fileMenu(QStringLiteral("Файл"));
    fileMenu.addAction(QStringLiteral("Открыть"));
    fileMenu.addSeparator();
    fileMenu.addAction(QStringLiteral("Выход"));
    fileMenu.addSeparator();
    const int fixedItems = int(fileMenu.actions().size());

    QStringList opened;
    bool loadSucceeds = true;
    auto recent = std::make_unique<TRecentFiles>(*store, &fileMenu, [&](const QString& path) {
      opened.append(path);
      return loadSucceeds;
    });
    QVERIFY(recent->Files().isEmpty());
    for (int i = 1; i <= 6; ++i) recent->Add(QStringLiteral("/p/%1 & co.xml").arg(i));
    QCOMPARE(recent->Files().size(), 5);
    QCOMPARE(recent->Files().first(), QStringLiteral("/p/6 & co.xml"));
    QCOMPARE(store->value("LastFiles/file1").toString(), QStringLiteral("/p/6 & co.xml"));
    QCOMPARE(store->value("LastFiles/file5").toString(), QStringLiteral("/p/2 & co.xml"));
    QVERIFY(!store->contains("LastFiles/file6"));

    // Items below the last separator, full path as caption, in list order.
    QCOMPARE(int(fileMenu.actions().size()), fixedItems + 5);
    QVERIFY(fileMenu.actions().at(fixedItems - 1)->isSeparator());
    for (int i = 0; i < 5; ++i) {
      QAction* item = fileMenu.actions().at(fixedItems + i);
      QCOMPARE(item->data().toString(), recent->Files().at(i));
      QCOMPARE(item->text().replace("&&", "&"), recent->Files().at(i));
    }

    // A click opens the file and moves it up; a failed load leaves the list alone.
    fileMenu.actions().at(fixedItems + 3)->trigger();
    QCOMPARE(opened, QStringList{"/p/3 & co.xml"});
    QCOMPARE(recent->Files().first(), QStringLiteral("/p/3 & co.xml"));
    QCOMPARE(int(fileMenu.actions().size()), fixedItems + 5);
    const QStringList before = recent->Files();
    loadSucceeds = false;
    fileMenu.actions().at(fixedItems + 4)->trigger();
    QCOMPARE(recent->Files(), before);

    // A new list object reads the same order back from the store.
    recent.reset();
    QCOMPARE(int(fileMenu.actions().size()), fixedItems);
    TRecentFiles again(*store, &fileMenu, [](const QString&) { return true; });
    QCOMPARE(again.Files(), before);
    QCOMPARE(int(fileMenu.actions().size()), fixedItems + 5);
  }
};

QTEST_MAIN(ProgramSettingsTest)
#include "ProgramSettingsTest.moc"
