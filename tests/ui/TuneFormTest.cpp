// The settings dialog: which controls the default-project box enables, what "OK" writes
// (the logon entry first, Period only when it is a number) and that "Отмена" writes nothing.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "ui/Autostart.h"
#include "ui/TuneForm.h"

using namespace velkor;

class TuneFormTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_dir;
  const QString m_exe = QStringLiteral("/opt/velkor dir/bin/velkor");

 private slots:
  void init() { QFile::remove(AutostartEntryPath()); }

  void EnablingFollowsTheDefaultProjectBox_data() {
    QTest::addColumn<bool>("autoLoad");
    QTest::addColumn<bool>("autoStart");
    QTest::newRow("on, auto start ticked") << true << true;
    QTest::newRow("off, auto start ticked") << false << true;
    QTest::newRow("off, auto start clear") << false << false;
  }
  void EnablingFollowsTheDefaultProjectBox() {
    QFETCH(bool, autoLoad);
    QFETCH(bool, autoStart);
    TTuneForm form;
    TProgramSettings settings;
    settings.AutoLoadConfig = autoLoad;
    settings.AutoStart = autoStart;
    form.SetFromSettings(settings);
    auto check = [&](bool load) {
      QCOMPARE(form.ConfigPathEdit()->isEnabled(), load);
      QCOMPARE(form.ConfigPathButton()->isEnabled(), load);
      QCOMPARE(form.AutoStartCheckBox()->isEnabled(), load);
      QCOMPARE(form.AutoStartCheckBox()->isChecked(), autoStart);  // greyed keeps the tick
      QVERIFY(form.HideCheckBox()->isEnabled());
    };
    check(autoLoad);
    form.show();
    QTest::mouseClick(form.AutoLoadConfigCheckBox(), Qt::LeftButton);
    check(!autoLoad);
    QVERIFY(form.width() >= 333 && form.height() >= 292);
  }

  void LogonBoxShowsTheEntry() {
    TTuneForm without;
    QVERIFY(!without.AutoStartBox()->isChecked());
    QVERIFY(SetAutostartEntry(true, m_exe));
    TTuneForm with;
    QVERIFY(with.AutoStartBox()->isChecked());
    // An entry without a command does not start anything: absent.
    QFile entry(AutostartEntryPath());
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nExec=\n");
    entry.close();
    TTuneForm empty;
    QVERIFY(!empty.AutoStartBox()->isChecked());
  }

  void OkAndCancel_data() {
    QTest::addColumn<bool>("entryBefore");
    QTest::addColumn<bool>("logonTicked");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("entryAfter");
    QTest::newRow("OK creates the entry") << false << true << true << true;
    QTest::newRow("OK removes the entry") << true << false << true << false;
    QTest::newRow("OK keeps the entry") << true << true << true << true;
    QTest::newRow("Отмена keeps the entry") << true << false << false << true;
    QTest::newRow("Отмена creates nothing") << false << true << false << false;
  }
  void OkAndCancel() {
    QFETCH(bool, entryBefore);
    QFETCH(bool, logonTicked);
    QFETCH(bool, ok);
    QFETCH(bool, entryAfter);
    if (entryBefore) QVERIFY(SetAutostartEntry(true, m_exe));
    QSettings store(m_dir.filePath(QStringLiteral("%1.conf").arg(QTest::currentDataTag())),
                    QSettings::IniFormat);
    TProgramSettings settings;
    TTuneForm form;
    form.SetFromSettings(settings);
    QCOMPARE(form.AutoStartBox()->isChecked(), entryBefore);
    form.AutoStartBox()->setChecked(logonTicked);
    form.ZeroRegsCheckBoxk()->setChecked(true);
    form.PeriodEdit()->setText(QStringLiteral("250"));
    form.show();
    if (ok) {
      QVERIFY(form.OkClick(settings, store, m_exe));
    } else {
      QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
      QCOMPARE(form.result(), int(QDialog::Rejected));
    }
    QCOMPARE(AutostartEntryExists(), entryAfter);
    QCOMPARE(settings.ZeroRegs, ok);
    QCOMPARE(settings.Period, ok ? 250 : 500);
    QCOMPARE(store.contains("ZeroRegs"), ok);
  }

  void OkTakesEveryValue_data() {
    QTest::addColumn<QString>("period");
    QTest::addColumn<int>("expected");
    QTest::newRow("number") << "1000" << 1000;
    QTest::newRow("blanks around") << " 20 " << 20;
    QTest::newRow("not a number") << "1000ms" << 700;
    QTest::newRow("empty") << "" << 700;
    QTest::newRow("real") << "2.5" << 700;
  }
  void OkTakesEveryValue() {
    QFETCH(QString, period);
    QFETCH(int, expected);
    QSettings store(m_dir.filePath(QStringLiteral("all-%1.conf").arg(QTest::currentDataTag())),
                    QSettings::IniFormat);
    TProgramSettings settings;
    settings.Period = 700;
    TTuneForm form;
    form.SetFromSettings(settings);
    form.ZeroRegsCheckBoxk()->setChecked(true);
    form.ShowZeroCheckBox()->setChecked(false);
    form.AutoLoadConfigCheckBox()->setChecked(true);
    form.ConfigPathEdit()->setText(QStringLiteral("/srv/проекты/котельная.xml"));
    form.AutoStartCheckBox()->setChecked(true);
    form.HideCheckBox()->setChecked(true);
    form.PeriodEdit()->setText(period);
    QVERIFY(form.OkClick(settings, store, m_exe));
    QCOMPARE(settings.Period, expected);
    QSettings reread(store.fileName(), QSettings::IniFormat);
    TProgramSettings read;
    QVERIFY(read.LoadSettings(reread));
    QCOMPARE(read.ZeroRegs, true);
    QCOMPARE(read.AskZeroRegs, false);
    QCOMPARE(read.AutoLoadConfig, true);
    QCOMPARE(read.ConfigPath, QStringLiteral("/srv/проекты/котельная.xml"));
    QCOMPARE(read.AutoStart, true);
    QCOMPARE(read.HideApp, true);
    QCOMPARE(read.Period, expected);
  }

  void ExecLine_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/usr/bin/velkor"
                           << "/usr/bin/velkor";
    QTest::newRow("blank") << "/opt/a b/velkor"
                           << "\"/opt/a b/velkor\"";
    QTest::newRow("dollar and quote") << "/x$y/\"v"
                                      << "\"/x\\\\$y/\\\\\"v\"";
    QTest::newRow("percent") << "/100%/velkor"
                             << "/100%%/velkor";
    QTest::newRow("cyrillic") << "/home/оператор/velkor"
                              << "/home/оператор/velkor";
  }
  void ExecLine() {
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(DesktopExecArgument(path), exec);
  }

  void EntryFileIsADesktopEntry() {
    QVERIFY(SetAutostartEntry(true, m_exe));
    QFile entry(AutostartEntryPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY(text.contains("\nType=Application\n"));
    QVERIFY(text.contains("\nExec=\"/opt/velkor dir/bin/velkor\"\n"));
    QVERIFY(AutostartEntryPath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    QVERIFY(SetAutostartEntry(false, m_exe));
    QVERIFY(!QFile::exists(AutostartEntryPath()));
    QVERIFY(SetAutostartEntry(false, m_exe));  // removing what is gone is no failure
  }
};

QTEST_MAIN(TuneFormTest)
#include "TuneFormTest.moc"
