// The editing commands through the window: dialogs' enabling rules, the menus' wiring,
// Ctrl+Up in the tree, the running form of the device dialog, a project built with the
// commands alone and checked by the program, the serial port list, and screenshots of both
// dialogs in both uses (build tree, screenshots/edit-*.png).
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "ScriptedPrompts.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "project/Session.h"
#include "ui/DevSetForm.h"
#include "ui/MainForm.h"
#include "ui/RegListForm.h"
#include "ui/SerialPorts.h"
#include "ui/ServerSettingsForm.h"
#include "ui/TagTableModel.h"

using namespace velkor;

class EditWindowTest : public QObject {
  Q_OBJECT
  QDir shots{VELKOR_BINARY_DIR "/screenshots"};
  QTemporaryDir dir;

  void Shot(QWidget* widget, const QString& name) {
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    const QString path = shots.filePath(name + ".png");
    QVERIFY(widget->grab().save(path));
    qInfo("%s", qPrintable(path));
  }
  static void Select(TMainForm& form, const void* object) {
    QTreeWidgetItem* node = object ? form.FindNodeOf(object) : form.DevicesTree()->topLevelItem(0);
    QVERIFY(node);
    form.DevicesTree()->setCurrentItem(node);
  }

 private slots:
  void initTestCase() { QVERIFY(shots.mkpath(".")); }

  void ServerDialogFramesFollowTheMode() {
    TServSett dialog(nullptr, {"/dev/serial/by-id/usb-A", "/dev/ttyUSB0"}, false);
    QCOMPARE(dialog.windowTitle(), QString("Настройки сервера"));
    QVERIFY(dialog.TcpButton()->isChecked());
    QVERIFY(!dialog.ComFrame()->isEnabled());
    QVERIFY(dialog.EthernetFrame()->isEnabled());
    QCOMPARE(dialog.IntervalEdit()->text(), QString("10"));  // the form's own default
    dialog.RtuButton()->click();
    QVERIFY(dialog.ComFrame()->isEnabled());
    QVERIFY(!dialog.EthernetFrame()->isEnabled());
    // The proposals of a new server; a port name kept as typed.
    ServerFields fields = NewServerFields(502);
    fields.ComPort = "/dev/pts/9";
    dialog.SetFields(fields);
    QVERIFY(dialog.TcpButton()->isChecked());
    QVERIFY(!dialog.ComFrame()->isEnabled());
    QCOMPARE(dialog.IntervalEdit()->text(), QString("40"));
    QCOMPARE(dialog.PortEdit()->text(), QString("502"));
    QCOMPARE(dialog.BaudBox()->currentText(), QString("9600"));
    QCOMPARE(dialog.ComPortBox()->currentText(), QString("/dev/pts/9"));
    QCOMPARE(dialog.ComPortBox()->itemText(0), QString("/dev/serial/by-id/usb-A"));
    QVERIFY(dialog.ComPortBox()->isEditable());
    // Only rates a Linux line can take: no 14400.
    QStringList rates;
    for (int i = 0; i < dialog.BaudBox()->count(); ++i) rates << dialog.BaudBox()->itemText(i);
    QCOMPARE(rates.join(','), QString("1200,2400,4800,9600,19200,38400,57600,115200"));
    dialog.ParityBox()->setCurrentIndex(1);
    dialog.BaudBox()->setCurrentIndex(dialog.BaudBox()->findText("115200"));
    const ServerFields read = dialog.Fields();
    QCOMPARE(read.ParityIndex, 1);
    QCOMPARE(kBaudRates[read.BaudIndex], 115200);
    QCOMPARE(read.ComPort, std::string("/dev/pts/9"));
  }

  void DeviceDialogEnabling() {
    TDevSettForm dialog;
    DeviceFields fields = NewDeviceFields();
    fields.Answer = false;
    dialog.SetFields(fields, false);
    QVERIFY(!dialog.FromEdit()->isEnabled());
    QVERIFY(!dialog.ToEdit()->isEnabled());
    QVERIFY(!dialog.TimeoutLabel()->isEnabled());
    dialog.AnswerBox()->click();
    QVERIFY(dialog.FromEdit()->isEnabled() && dialog.ToEdit()->isEnabled());
    QVERIFY(dialog.NameEdit()->isEnabled());
    dialog.SetFields(fields, true);  // running: the answering settings only
    for (QWidget* w : std::initializer_list<QWidget*>{
             dialog.NameEdit(), dialog.NumberEdit(), dialog.DescriptionEdit(),
             dialog.BitsMergeBox(), dialog.RegsMergeBox(), dialog.OpcEdit()})
      QVERIFY(!w->isEnabled());
    QVERIFY(dialog.AnswerBox()->isEnabled());
  }

  void DialogScreenshots() {
    TServSett newServer(nullptr, {"/dev/serial/by-id/usb-FTDI_FT232R-if00", "/dev/ttyUSB0"}, false);
    newServer.SetFields(NewServerFields(502));
    Shot(&newServer, "edit-server-new");
    TServSett rtu(nullptr, {"/dev/ttyUSB0"}, false);
    ServerFields fields = NewServerFields(503);
    fields.Name = "Линия 1";
    fields.Tcp = false;
    fields.ComPort = "/dev/ttyUSB0";
    fields.ParityIndex = 1;
    fields.Desc = "RS-485 насосная";
    rtu.SetFields(fields);
    Shot(&rtu, "edit-server-existing-rtu");
    QVERIFY(rtu.width() >= 392 && rtu.height() >= 317);

    TDevSettForm newDevice;
    newDevice.setWindowTitle(kNewDeviceCaption);
    newDevice.SetFields(NewDeviceFields(), false);
    Shot(&newDevice, "edit-device-new");
    QVERIFY(newDevice.width() >= 292 && newDevice.height() >= 357);
    TDevSettForm running;
    DeviceFields device = NewDeviceFields();
    device.Name = "Насос";
    device.Number = "7";
    device.Answer = false;
    device.To = "100";
    running.setWindowTitle("Насос (7)");
    running.SetFields(device, true);
    Shot(&running, "edit-device-running");

    TRegListForm users({"Цех.Насос.Датчики.Давление", "Цех.Насос.Скрипт"});
    QCOMPARE(users.List()->model()->index(1, 0).data().toString(), QString("2"));
    Shot(&users, "edit-tag-list");
  }

  void SerialPortsInLinuxOrder() {
    QTemporaryDir dev;
    QVERIFY(QDir(dev.path()).mkpath("serial/by-id"));
    for (const char* name : {"serial/by-id/usb-B", "serial/by-id/usb-A", "ttyUSB10", "ttyUSB2",
                             "ttyACM0", "ttyS0", "ttyUSB", "tty1"}) {
      QFile file(dev.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // ttyS0 here is a plain file, no UART: not listed.
    const std::string root = dev.path().toStdString();
    const std::vector<std::string> expected = {root + "/serial/by-id/usb-A",
                                               root + "/serial/by-id/usb-B", root + "/ttyUSB2",
                                               root + "/ttyUSB10", root + "/ttyACM0"};
    QCOMPARE(SerialPortNames(root), expected);
    QVERIFY(SerialPortNames(root + "/missing").empty());
  }

  // A project built with the commands alone, saved and checked by the program.
  void RoundTripThroughTheCommands() {
    TMainForm form;
    ScriptedPrompts prompts;
    form.Editor().SetPrompts(prompts);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Session& session = form.GetSession();

    Select(form, nullptr);
    prompts.servers = {[](ServerFields& f) { return f.Name = "Цех", true; },
                       [](ServerFields& f) { return f.Name = "Склад", true; }};
    form.Action(Cmd::AddServer)->trigger();
    form.Action(Cmd::AddServer)->trigger();
    QCOMPARE(session.Servers().Count(), 2);
    QCOMPARE(session.Servers().Items(1)->Port, uint16_t(503));
    QCOMPARE(form.DevicesTree()->topLevelItem(0)->childCount(), 2);
    QCOMPARE(form.NextPort(), uint16_t(504));

    TModbusTCPServer* shop = session.Servers().Items(0);
    Select(form, shop);
    QCOMPARE(form.CurrentPage(), Page::ServerSettings);
    QVERIFY(form.Action(Cmd::AddDevice)->isVisible() && form.Action(Cmd::AddDevice)->isEnabled());
    prompts.devices = {[](DeviceFields& f) { return f.Name = "Насос", true; }};
    form.Action(Cmd::AddDevice)->trigger();
    TDeviceClass* pump = shop->FindDevice("Насос");
    QVERIFY(pump);
    QCOMPARE(form.DevicesListView()->topLevelItemCount(), 1);

    Select(form, pump);
    prompts.texts = {"Датчики"};
    form.Action(Cmd::AddGroup)->trigger();
    TGroupClass* sensors = pump->FindGroup("Цех.Насос.Датчики");
    QVERIFY(sensors);
    Select(form, sensors);
    QCOMPARE(form.CurrentPage(), Page::DeviceSettings);
    form.Action(Cmd::AddTag)->trigger();
    form.Action(Cmd::AddTag)->trigger();
    QCOMPARE(form.SettingsTagView()->model()->rowCount(), 2);
    // The new tag is the selected row: delete and duplicate are offered.
    QCOMPARE(form.SelectedTags().size(), size_t(1));
    QVERIFY(form.Action(Cmd::Duplicate)->isEnabled());
    form.SettingsTagView()->selectAll();
    form.Action(Cmd::Duplicate)->trigger();
    QCOMPARE(form.SettingsTagView()->model()->rowCount(), 4);
    QVERIFY(Registry().FindByFullName("Цех.Насос.Датчики.Reg_1_1"));

    // The tree has the focus: copy the group, paste it into the device.
    form.DevicesTree()->setFocus();
    form.Action(Cmd::Copy)->trigger();
    Select(form, pump);
    form.Action(Cmd::Paste)->trigger();
    QVERIFY(pump->FindGroup("Цех.Насос.Датчики_1"));
    QCOMPARE(pump->Tags().Count(), 8);
    // Copy the device into the other server.
    form.Action(Cmd::Copy)->trigger();
    Select(form, session.Servers().Items(1));
    form.Action(Cmd::Paste)->trigger();
    QCOMPARE(session.Servers().Items(1)->Devices().Count(), 1);

    // Ctrl+Up in the tree: the second server moves up.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    TModbusTCPServer* store = session.Servers().Items(1);
    Select(form, store);
    form.DevicesTree()->setFocus();
    QTest::keyClick(form.DevicesTree(), Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(session.Servers().Items(0), store);
    QCOMPARE(form.DevicesTree()->currentItem(), form.FindNodeOf(store));
    QVERIFY(!form.Action(Cmd::MoveUp)->isVisible());

    const QString path = dir.filePath("built.xml");
    QVERIFY(form.SaveProject(path));
    QProcess check;
    check.start(VELKOR_EXECUTABLE, {"--check", path});
    QVERIFY(check.waitForFinished(30000));
    QCOMPARE(check.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()).trimmed(),
             QString("servers=2 devices=2 tags=16"));
    // Reloaded in the window: the same tree.
    QVERIFY(form.OpenProject(path));
    QCOMPARE(session.Servers().Items(0)->Name(), std::string("Склад"));
    QCOMPARE(form.NextPort(), uint16_t(502));
  }

  // While running, a double click on "Устройства" opens the running form and rewrites the row.
  void RunningDeviceDialogFromTheDevicesPage() {
    TMainForm form;
    ScriptedPrompts prompts;
    form.Editor().SetPrompts(prompts);
    Session& session = form.GetSession();
    LoadProjectText(session.GetProject(),
                    "<Servers><Server><Name>S</Name><Port>0</Port><Device><Name>D</Name>"
                    "<Number>4</Number></Device></Server></Servers>");
    form.BuildTree(form.DevicesTree(), true);
    TModbusTCPServer* server = session.Servers().Items(0);
    Select(form, server);
    form.StartEmulation(true);
    QVERIFY(form.Running());
    QCOMPARE(form.CurrentPage(), Page::DevicesWork);
    prompts.devices = {[](DeviceFields& f) {
      f.Name = "ignored";
      f.Answer = false;
      f.From = "25";
      return true;
    }};
    QTreeWidgetItem* row = form.DevWorkView()->topLevelItem(0);
    emit form.DevWorkView()->itemDoubleClicked(row, 0);
    QCOMPARE(prompts.runningForms, std::vector<bool>{true});
    QCOMPARE(prompts.captions.at(0), std::string("D (4)"));
    TDeviceClass* device = server->Devices().Items(0);
    QCOMPARE(device->Name(), std::string("D"));
    QVERIFY(device->NoReply);
    QCOMPARE(row->text(1), QString("Нет"));
    QCOMPARE(row->text(2), QString("25"));
    form.StopEmulation();
  }

  // After deleting tags with a group selected the list shows that group's tags; a used tag
  // stays, and its question comes while the list holds no deleted rows. A new project
  // empties the clipboard.
  void DeleteTagsWithAGroupSelected() {
    TMainForm form;
    ScriptedPrompts prompts;
    form.Editor().SetPrompts(prompts);
    Session& session = form.GetSession();
    LoadProjectText(
        session.GetProject(),
        "<Servers><Server><Name>S</Name><Device><Name>D</Name>"
        "<Groups><Items><Name>MainGroup</Name><Items><Name>G</Name></Items></Items></Groups>"
        "<Register><Name>A</Name><Addr>0</Addr><Group>S.D.G</Group><WorkType>2</WorkType>"
        "</Register>"
        "<Register><Name>B</Name><Addr>1</Addr><Group>S.D.G</Group><WorkType>2</WorkType>"
        "</Register>"
        "<Register><Name>C</Name><Addr>2</Addr><Group>S.D.G</Group><WorkType>2</WorkType>"
        "</Register>"
        "<Register><Name>Scr</Name><Addr>3</Addr><RegFullName>S.D.Scr</RegFullName>"
        "<Script><Line>x := b;</Line></Script><RegVals><RegVal><RegFullName>S.D.G.B"
        "</RegFullName><ValName>b</ValName></RegVal></RegVals><WorkType>5</WorkType></Register>"
        "</Device></Server></Servers>");
    ResolveScriptReferences(session.GetProject());
    form.BuildTree(form.DevicesTree(), true);
    TDeviceClass* device = session.Servers().Items(0)->Devices().Items(0);
    Select(form, device->FindGroup("S.D.G"));
    QCOMPARE(form.SettingsTagView()->model()->rowCount(), 3);
    form.SettingsTagView()->selectAll();
    QVERIFY(form.Action(Cmd::DeleteTag)->isEnabled());
    form.Action(Cmd::DeleteTag)->trigger();
    QCOMPARE(prompts.questions.size(), size_t(1));
    QCOMPARE(form.SettingsTagView()->model()->rowCount(), 1);
    QCOMPARE(form.SettingsTagView()->model()->index(0, 0).data().toString(), QString("B"));
    form.SettingsTagView()->selectAll();
    form.Editor().CopyTags(form.SelectedTags());
    QCOMPARE(form.Editor().ClipboardCount(), 1);
    form.ResetProject();
    QCOMPARE(form.Editor().ClipboardCount(), 0);
  }

  // The server page's "Настройки" opens the dialog for that server and shows the result.
  void ServerSettingsButton() {
    TMainForm form;
    ScriptedPrompts prompts;
    form.Editor().SetPrompts(prompts);
    Session& session = form.GetSession();
    LoadProjectText(session.GetProject(),
                    "<Servers><Server><Name>S</Name><Port>1502</Port></Server></Servers>");
    form.BuildTree(form.DevicesTree(), true);
    Select(form, session.Servers().Items(0));
    prompts.servers = {[](ServerFields& f) {
      f.Name = "Новое";
      f.Port = "1600";
      return true;
    }};
    QList<QPushButton*> buttons = form.PageControl1()->findChildren<QPushButton*>();
    QPushButton* settings = nullptr;
    for (QPushButton* b : buttons)
      if (b->text() == "Настройки") settings = b;
    QVERIFY(settings && settings->isEnabled());
    settings->click();
    QCOMPARE(form.DevicesTree()->currentItem()->text(0), QString("Новое (1600)"));
  }
};

QTEST_MAIN(EditWindowTest)
#include "EditWindowTest.moc"
