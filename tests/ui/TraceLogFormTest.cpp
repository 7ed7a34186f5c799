// The trace window against the real road of a frame: a real master (mbpoll) reads from a
// running session while the window traces; rows, the trace file and the pcapng capture (read
// back by tshark) must show the request and its reply. Plus the depth, tracing off, the
// controls, the main window's command, and screenshots of TCP and RTU tracing.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "../TestUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusSpace.h"
#include "project/Session.h"
#include "serving/Crc16.h"
#include "serving/ModbusTCPServer.h"
#include "ui/MainForm.h"
#include "ui/QtHost.h"
#include "ui/TraceLogForm.h"

using namespace velkor;

namespace {

// Holding registers 0..9 hold 0..9 (a manual Word tag each).
QString TraceProject() {
  QString text =
      "<Servers><Server><Name>Tcp</Name><Port>0</Port><Mode>true</Mode>"
      "<Device><Name>Plc</Name><Number>1</Number>";
  for (int i = 0; i < 10; ++i)
    text += QString(
                "<Register><Name>R%1</Name><Addr>%1</Addr><vType>18</vType><WorkType>2</"
                "WorkType><Value>%1</Value></Register>")
                .arg(i);
  text +=
      "</Device></Server>"
      "<Server><Name>Line</Name><Mode>false</Mode><COMMPORT>/dev/null</COMMPORT>"
      "<Device><Name>Rtu</Name><Number>3</Number></Device></Server></Servers>";
  return text;
}

QString Tool(const char* name) { return QString::fromStdString(testing::FindProgram(name)); }

QString Run(const QString& command) {
  return QString::fromStdString(testing::RunCommand(command.toStdString()).out);
}

}  // namespace

class TraceLogFormTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<Session> session;
  std::unique_ptr<TQtHost> host;
  std::unique_ptr<TTraceLogForm> form;
  QDir out{VELKOR_BINARY_DIR "/screenshots"};
  QString dir;

  TModbusTCPServer* Server(int i) { return session->Servers().Items(i); }
  void Screenshot(const QString& name) {
    form->resize(900, 420);
    const QString path = out.filePath(name + ".png");
    QVERIFY(form->grab().save(path));
    qInfo("%s", qPrintable(path));
  }
  void TurnOn() {
    if (!session->Tracer().Enabled()) form->OnOffButtonClick();
    QVERIFY(session->Tracer().Enabled());
  }
  void Choose(const void* object) {
    for (QTreeWidgetItemIterator it(form->DevicesTree()); *it; ++it)
      if (TreeItemNode(*it).Object() == object) form->DevicesTree()->setCurrentItem(*it);
  }
  // What BuildTree without groups makes, as the main window fills the window's tree.
  void FillTree() {
    auto* root = new QTreeWidgetItem(QStringList{"Сервера"});
    root->setData(0, Qt::UserRole, int(NodeKind::Root));
    for (int i = 0; i < session->Servers().Count(); ++i) {
      auto* s = new QTreeWidgetItem(QStringList{QString::fromStdString(Server(i)->DisplayName())});
      s->setData(0, Qt::UserRole, int(NodeKind::Server));
      s->setData(0, Qt::UserRole + 1, quintptr(Server(i)));
      for (const auto& d : Server(i)->Devices()) {
        auto* n = new QTreeWidgetItem(QStringList{QString::fromStdString(d->DisplayName())});
        n->setData(0, Qt::UserRole, int(NodeKind::Device));
        n->setData(0, Qt::UserRole + 1, quintptr(d.get()));
        s->addChild(n);
      }
      root->addChild(s);
    }
    form->DevicesTree()->addTopLevelItem(root);
    form->DevicesTree()->expandAll();
  }
  void TraceRtu(const std::vector<uint8_t>& bytes, uint8_t direction) {
    TraceSource source{TraceSource::Kind::Rtu, Server(1)};
    AddTrace(bytes.data(), bytes.size(), source, direction);
  }

 private slots:
  void initTestCase() { out.mkpath("."); }
  void init() {
    dir = QDir::tempPath() + "/velkor-trace-" + QString::number(QCoreApplication::applicationPid());
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    session = std::make_unique<Session>();
    LoadProjectText(session->GetProject(), TraceProject().toStdString());
    host = std::make_unique<TQtHost>(*session);
    form = std::make_unique<TTraceLogForm>(*session);
    connect(host.get(), &TQtHost::traceRecordsReady, form.get(), &TTraceLogForm::RecordsReady);
    FillTree();
  }
  void cleanup() {
    session->Tracer().SetEnabled(false);
    session->Stop();
    form.reset();
    host.reset();
    session.reset();
    QDir(dir).removeRecursively();
  }

  void MasterReadShowsTwoRowsTheFileAndTheCapture() {
    const QString mbpoll = Tool("mbpoll");
    if (mbpoll.isEmpty()) QSKIP("mbpoll is not installed (velkor.sh installs it)");
    session->Start(false, true);
    QTRY_VERIFY_WITH_TIMEOUT(Server(0)->ListeningPort() != 0, 5000);
    const QString txt = dir + "/trace.txt";
    form->ChooseTraceFile = [&] { return std::optional<QString>(txt); };
    form->SaveToFileButtonClick();
    QVERIFY(session->Tracer().SaveToFile());
    QVERIFY(!form->SaveToFileOnMenu()->isEnabled() && form->SaveToFileOffMenu()->isEnabled());
    TurnOn();
    QCOMPARE(form->StatePanelText(), QString("Вкл"));
    QVERIFY(!form->ClearButton()->isEnabled() && !form->DepthMenu()->isEnabled());

    const QString read = QString("%1 -m tcp -p %2 -a 1 -t 4 -r 1 -c 10 -1 127.0.0.1")
                             .arg(mbpoll)
                             .arg(Server(0)->ListeningPort());
    const QString answer = Run(read);
    QVERIFY2(answer.contains("[10]:"), qPrintable(answer));
    QTRY_COMPARE_WITH_TIMEOUT(form->Model()->rowCount(), 2, 5000);
    const TraceRow reply = form->Model()->Row(0), request = form->Model()->Row(1);
    QCOMPARE(QString::fromStdString(request.Direction), QString("Rec"));
    QVERIFY(QString::fromStdString(request.Header).endsWith("00 00 00 06"));
    QCOMPARE(QString::fromStdString(request.Data), QString("01 03 00 00 00 0A"));
    QCOMPARE(QString::fromStdString(reply.Direction), QString("Send"));
    QCOMPARE(reply.Header.substr(0, 5), request.Header.substr(0, 5));  // same transaction
    QVERIFY(QString::fromStdString(reply.Header).endsWith("00 00 00 17"));
    QCOMPARE(QString::fromStdString(reply.Data),
             QString("01 03 14 00 00 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09"));
    QCOMPARE(form->TraceLogView()->model()->headerData(3, Qt::Horizontal).toString(),
             QString("Данные"));

    // A few more reads so the screenshot shows a busy window.
    for (int i = 0; i < 3; ++i) Run(read);
    QTRY_COMPARE_WITH_TIMEOUT(form->Model()->rowCount(), 8, 5000);
    Screenshot("trace_tcp");

    form->OnOffButtonClick();
    form->SaveToFileButtonClick();  // saving off closes the file
    QVERIFY(!session->Tracer().SaveToFile());
    QFile file(txt);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 8);
    const QRegularExpression line(
        R"(^\d\d\.\d\d\.\d{4} \d{1,2}:\d\d:\d\d - 12 - \S\S \S\S 00 00 00 06 01 03 00 00 00 0A$)");
    QVERIFY2(line.match(lines[0]).hasMatch(), qPrintable(lines[0]));

    // The capture, read back by Wireshark's command-line reader.
    const QString tshark = Tool("tshark");
    if (tshark.isEmpty()) QSKIP("tshark is not installed (velkor.sh installs it)");
    const QString pcap = dir + "/trace.pcapng";
    form->ChoosePcapFile = [&] { return std::optional<QString>(pcap); };
    form->SavePcapMenuClick();
    const QString fields =
        Run(QString("%1 -r %2 -T fields -e mbtcp.unit_id -e modbus.func_code -e tcp.srcport "
                    "-e _ws.malformed 2>/dev/null")
                .arg(tshark, pcap));
    const QStringList rows = fields.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 8);
    for (const QString& row : rows) {
      const QStringList f = row.split('\t');
      QVERIFY2(f.size() == 4 && f[0] == "1" && f[1] == "3" && f[3].isEmpty(), qPrintable(fields));
    }
    // Requests come from the master's own port, replies from the Modbus/TCP port.
    QVERIFY2(rows[0].split('\t')[2] != "502" && rows[1].split('\t')[2] == "502",
             qPrintable(fields));
  }

  // With depth 100 the 101st frame pushes the oldest row and record out.
  void DepthBoundsRowsAndRecords() {
    form->AskDepth = [](int current) {
      return std::optional<QString>(QString::number(current == 100 ? 100 : -1));
    };
    form->DepthButtonClick();
    QCOMPARE(session->Tracer().Depth(), 100);
    TurnOn();
    for (int i = 1; i <= 101; ++i) {
      std::vector<uint8_t> frame = {0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, uint8_t(i)};
      TraceSource source{TraceSource::Kind::Tcp, Server(0)};
      AddTrace(frame.data(), frame.size(), source, kTraceReceived);
    }
    QTRY_VERIFY_WITH_TIMEOUT(form->RecordsTaken() >= 100 && session->Tracer().RecordCount() <= 100,
                             5000);
    QTRY_COMPARE_WITH_TIMEOUT(int(form->Model()->Record(0).Data[8]), 101, 5000);
    QCOMPARE(form->Model()->rowCount(), 100);
    QCOMPARE(int(form->Model()->Record(99).Data[8]), 2);
    QCOMPARE(session->Tracer().RecordCount(), size_t(100));
    QCOMPARE(int(session->Tracer().Records().front()->Data[8]), 2);

    // Depth is refused while tracing, and zero is refused when off.
    form->OnOffButtonClick();
    form->AskDepth = [](int) { return std::optional<QString>("0"); };
    form->DepthButtonClick();
    QCOMPARE(session->Tracer().Depth(), 100);
    form->AskDepth = [](int) { return std::optional<QString>("10"); };
    form->DepthButtonClick();
    QCOMPARE(form->Model()->rowCount(), 10);
    QCOMPARE(int(form->Model()->Record(0).Data[8]), 101);
    form->ClearButtonClick();
    QCOMPARE(form->Model()->rowCount(), 0);
    QCOMPARE(session->Tracer().RecordCount(), size_t(0));
  }

  void TracingOffRecordsNothing() {
    const QString txt = dir + "/off.txt";
    form->ChooseTraceFile = [&] { return std::optional<QString>(txt); };
    form->SaveToFileButtonClick();
    QVERIFY(session->Tracer().SaveToFile());
    QCOMPARE(form->StatePanelText(), QString("Выкл"));
    TraceRtu(std::vector<uint8_t>{0x03, 0x03, 0x00, 0x00}, kTraceReceived);
    QTest::qWait(3 * TTraceLogForm::kBatchMs);
    QCOMPARE(session->Tracer().RecordCount(), size_t(0));
    QCOMPARE(form->Model()->rowCount(), 0);
    form->SaveToFileButtonClick();
    QCOMPARE(QFileInfo(txt).size(), qint64(0));
  }

  // A chosen server hides the others' frames from then on; the code box needs a device.
  void FiltersAndRtuScreenshot() {
    QVERIFY(!form->CmdFilterBox()->isEnabled());
    TurnOn();
    std::vector<uint8_t> good = {0x03, 0x03, 0x00, 0x00, 0x00, 0x02, 0, 0};
    AppendCrc16(good.data(), 6);
    std::vector<uint8_t> reply = {0x03, 0x03, 0x04, 0x00, 0x2A, 0x00, 0x07, 0, 0};
    AppendCrc16(reply.data(), 7);
    const std::vector<uint8_t> bad = {0x03, 0x10, 0x00, 0x00, 0x12, 0x34};
    std::vector<uint8_t> other = {0x05, 0x03, 0x00, 0x00, 0x00, 0x01, 0, 0};
    AppendCrc16(other.data(), 6);
    Choose(Server(1)->Devices().Items(0));
    QVERIFY(form->CmdFilterBox()->isEnabled());
    form->CmdFilterBox()->setCurrentIndex(3);  // READ HOLDING REGS
    QCOMPARE(form->Filter().Function, uint8_t(3));
    TraceRtu(good, kTraceReceived);
    TraceRtu(reply, kTraceSent);
    TraceRtu(bad, kTraceReceived);
    TraceRtu(other, kTraceReceived);  // another address: hidden
    TraceSource tcp{TraceSource::Kind::Tcp, Server(0)};
    const std::vector<uint8_t> read = {0, 1, 0, 0, 0, 6, 3, 3, 0, 0, 0, 2};
    AddTrace(read.data(), read.size(), tcp, kTraceReceived);  // another server: hidden
    QTRY_COMPARE_WITH_TIMEOUT(int(form->RecordsTaken()), 5, 5000);
    QCOMPARE(form->Model()->rowCount(), 3);
    QCOMPARE(QString::fromStdString(form->Model()->Row(0).Data),
             QString("(CRC Error!) 03 10 00 00 12 34"));
    QCOMPARE(QString::fromStdString(form->Model()->Row(2).Direction), QString("Rec"));
    Screenshot("trace_rtu");
  }

  void MainWindowOpensTheWindowAndKeepsItOnTop() {
    TMainForm main;
    LoadProjectText(main.GetSession().GetProject(), TraceProject().toStdString());
    QVERIFY(main.Action(Cmd::Trace)->isEnabled());
    main.Action(Cmd::Trace)->trigger();
    TTraceLogForm* trace = main.TraceLogForm();
    QVERIFY(trace && trace->isVisible());
    QCOMPARE(trace->windowTitle(), QString("Трассировка"));
    QTreeWidgetItem* root = trace->DevicesTree()->topLevelItem(0);
    QCOMPARE(root->text(0), QString("Сервера"));
    QCOMPARE(root->childCount(), 2);
    QCOMPARE(root->child(0)->childCount(), 1);  // devices, no groups
    QCOMPARE(root->child(0)->child(0)->childCount(), 0);
    main.Action(Cmd::StayOnTop)->setChecked(true);
    QVERIFY(trace->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(trace->isVisible());
    main.Action(Cmd::StayOnTop)->setChecked(false);
    QVERIFY(!(trace->windowFlags() & Qt::WindowStaysOnTopHint));
  }
};

QTEST_MAIN(TraceLogFormTest)
#include "TraceLogFormTest.moc"
