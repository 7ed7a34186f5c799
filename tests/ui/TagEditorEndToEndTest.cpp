// From the editor to the wire: a tag's type, byte order and address changed in the editor
// and "Принять" pressed; after a start, mbpoll reads the new bytes at the new address.
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/ProjectFile.h"
#include "project/Session.h"
#include "ui/TagEditor.h"

using namespace velkor;

namespace {
const char* kProject = R"(<Servers><Server><Name>S</Name><Port>0</Port><Mode>true</Mode>
<Device><Name>D</Name><Number>1</Number>
<Register><Name>T</Name><Addr>0</Addr><vType>18</vType><WorkType>2</WorkType><Value>5</Value><DefValue>5</DefValue></Register>
</Device></Server></Servers>)";
}  // namespace

class TagEditorEndToEndTest : public QObject {
  Q_OBJECT
 private slots:
  void EditApplyStartRead() {
    if (QStandardPaths::findExecutable("mbpoll").isEmpty()) QSKIP("mbpoll is not installed");
    Session session;
    LoadProjectText(session.GetProject(), kProject);
    TModbusTCPServer* server = session.Servers().Items(0);
    TDeviceClass* device = server->Devices().Items(0);
    TModbusRegister* tag = device->Tags().Items(0);

    TagEditor editor(session.GetProject().ConstGroups);
    editor.ShowTagList(device, nullptr, tag);
    editor.ListClicked();
    QCOMPARE(editor.CurrentTag(), tag);
    editor.TypeBox()->setCurrentText("DWord");
    editor.FormatBox()->setCurrentText("0_1_2_3");
    editor.AddressEdit()->setText("20");
    editor.BehaviourPages()->setCurrentIndex(PageManual);
    editor.DefaultEdit()->setText("287454020");  // 0x11223344
    const ApplyOutcome out = editor.ApplyClick();
    QVERIFY(out.RangeError.empty());
    QCOMPARE(tag->Type(), VarType::DWord);
    QCOMPARE(int(tag->DataFormat), 3);
    QCOMPARE(int(tag->Addr), 20);

    session.Start(true);  // the registers take the default values
    const QString port = QString::number(server->ListeningPort());
    QProcess mbpoll;
    mbpoll.start("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-o", "1", "-t",
                            "4:hex", "-r", "20", "-c", "2", "127.0.0.1"});
    const bool finished = mbpoll.waitForFinished(20000);
    if (!finished) mbpoll.kill();
    session.Stop();
    QVERIFY(finished);
    const QString text = QString::fromUtf8(mbpoll.readAllStandardOutput());
    // "0_1_2_3": the value's bytes least significant first, 44 33 22 11.
    QVERIFY2(text.contains("[20]: \t0x4433") && text.contains("[21]: \t0x2211"), qPrintable(text));
  }
};

QTEST_MAIN(TagEditorEndToEndTest)
#include "TagEditorEndToEndTest.moc"
