// Renders every page of the main window, stopped and running, and its dialogs to PNG files
// in the build tree (screenshots/), for a person to look at: Cyrillic rendered, nothing cut
// off. Checks only that each file was written.
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "model/DeviceClass.h"
#include "project/Session.h"
#include "ui/AscZeroForm.h"
#include "ui/MainForm.h"

using namespace velkor;

class ScreenshotsTest : public QObject {
  Q_OBJECT
 private:
  QDir out{VELKOR_BINARY_DIR "/screenshots"};

  void Save(QWidget* widget, const QString& name) {
    const QString path = out.filePath(name + ".png");
    QVERIFY(widget->grab().save(path));
    qInfo("%s", qPrintable(path));
  }
  void Select(TMainForm& form, const void* object) {
    QTreeWidgetItem* node = object ? form.FindNodeOf(object) : form.DevicesTree()->topLevelItem(0);
    QVERIFY(node);
    form.DevicesTree()->setCurrentItem(node);
  }

 private slots:
  void initTestCase() { QVERIFY(out.mkpath(".")); }

  void EveryPageStoppedAndRunning() {
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Save(&form, "main-empty");
    QVERIFY(form.OpenProject(VELKOR_SOURCE_DIR "/examples/demo.xml"));
    TModbusTCPServer* server = form.GetSession().Servers().Items(0);
    server->Port = 0;
    TDeviceClass* plc = server->Devices().Items(0);
    Select(form, nullptr);
    Save(&form, "stopped-servers");
    Select(form, server);
    Save(&form, "stopped-server-settings");
    Select(form, plc);
    Save(&form, "stopped-device-tags");

    form.StartEmulation(false);
    QVERIFY(form.ZeroQuestion());
    QVERIFY(QTest::qWaitForWindowExposed(form.ZeroQuestion()));
    Save(form.ZeroQuestion(), "dialog-clearing-question");
    form.ZeroQuestion()->NoButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(form.Running(), 5000);
    QTest::qWait(300);
    form.Timer1Timer();
    Save(&form, "running-device-state");
    Select(form, plc->RootGroup().Children().Items(0));
    form.Timer1Timer();
    Save(&form, "running-group-state");
    Select(form, server);
    server->Protocol.Add("Пример записи протокола сервера");
    form.Timer1Timer();
    Save(&form, "running-devices");
    Select(form, nullptr);
    Save(&form, "running-servers");
    form.StopEmulation();
  }

  void Menus() {
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QList<QAction*> tops = form.menuBar()->actions();
    for (int i = 0; i < tops.size(); ++i) {
      QMenu* menu = tops[i]->menu();
      if (!menu) continue;
      menu->popup(form.mapToGlobal(QPoint(0, 0)));
      QVERIFY(QTest::qWaitForWindowExposed(menu));
      Save(menu, QString("menu-%1").arg(i));
      menu->hide();
    }
    form.FullTreeMenu()->popup(form.mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(form.FullTreeMenu()));
    Save(form.FullTreeMenu(), "menu-tree-stopped");
    form.FullTreeMenu()->hide();
  }
};

QTEST_MAIN(ScreenshotsTest)
#include "ScreenshotsTest.moc"
