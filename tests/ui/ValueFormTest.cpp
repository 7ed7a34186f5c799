// The value entry dialog: which control a tag gets, and what "OK" makes of the entered text
// (the tag's value and its registers change together, or neither does).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/ProjectFile.h"
#include "ui/ValueForm.h"

using namespace velkor;

namespace {

const char* kProject = R"(<Servers><Server><Name>S</Name><Device><Name>D</Name>
<Register><Name>W</Name><Addr>0</Addr><vType>18</vType><WorkType>2</WorkType><Value>7</Value></Register>
<Register><Name>F</Name><Addr>1</Addr><vType>4</vType><WorkType>2</WorkType><Value>0.5</Value></Register>
<Register><Name>Лампа</Name><Addr>3</Addr><mSpace>2</mSpace><vType>11</vType><WorkType>2</WorkType><Value>true</Value></Register>
<Register><Name>Mode</Name><Addr>4</Addr><vType>3</vType><WorkType>2</WorkType><ConstGroupName>Modes</ConstGroupName><Value>1</Value></Register>
<Register><Name>Orphan</Name><Addr>6</Addr><vType>18</vType><WorkType>2</WorkType><ConstGroupName>Gone</ConstGroupName><Value>2</Value></Register>
</Device></Server>
<CONSTGROUPS><CONSTGROUP><Name>Modes</Name>
<CONST><NAME>Stop</NAME><VALUE>0</VALUE></CONST>
<CONST><NAME>Run</NAME><VALUE>1</VALUE></CONST>
<CONST><NAME>Fast</NAME><VALUE>250</VALUE></CONST>
</CONSTGROUP></CONSTGROUPS></Servers>)";

}  // namespace

class ValueFormTest : public QObject {
  Q_OBJECT
 private:
  Project m_project;
  TModbusRegister* Tag(const QString& name) {
    TDeviceClass* device = m_project.Servers.Items(0)->Devices().Items(0);
    for (int i = 0; i < device->Tags().Count(); ++i)
      if (QString::fromStdString(device->Tags().Items(i)->Name()) == name)
        return device->Tags().Items(i);
    return nullptr;
  }

 private slots:
  void init() {
    m_project.Reset();
    LoadProjectText(m_project, kProject);
  }
  void cleanup() { m_project.Reset(); }

  void Prepare_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("input");
    QTest::addColumn<QString>("shown");  // the visible control's text
    QTest::newRow("word") << "W" << int(ValueInput::Text) << "7";
    QTest::newRow("float") << "F" << int(ValueInput::Text) << "0.5";
    QTest::newRow("bool") << "Лампа" << int(ValueInput::Bool) << "TRUE";
    QTest::newRow("constant") << "Mode" << int(ValueInput::Constants) << "Run (1)";
    QTest::newRow("group gone") << "Orphan" << int(ValueInput::Text) << "2";
  }
  void Prepare() {
    QFETCH(QString, tag);
    QFETCH(int, input);
    QFETCH(QString, shown);
    TValueForm form(*Tag(tag), m_project.ConstGroups);
    QCOMPARE(int(form.Input()), input);
    QCOMPARE(form.windowTitle(), QStringLiteral("Ввод данных"));
    QCOMPARE(form.CaptionLabel()->text(), QString::fromStdString(Tag(tag)->Caption()));
    QWidget* visible = nullptr;
    QString text;
    switch (ValueInput(input)) {
      case ValueInput::Text:
        visible = form.ValueEdit(), text = form.ValueEdit()->text();
        break;
      case ValueInput::Bool:
        visible = form.BoolBox(), text = form.BoolBox()->currentText();
        break;
      case ValueInput::Constants:
        visible = form.ConstBox(), text = form.ConstBox()->currentText();
        QCOMPARE(form.ConstBox()->count(), 3);
        QCOMPARE(form.ConstBox()->itemText(2), QStringLiteral("Fast"));
        break;
    }
    form.show();
    QVERIFY(visible->isVisible());
    for (QWidget* w :
         {static_cast<QWidget*>(form.ValueEdit()), static_cast<QWidget*>(form.BoolBox()),
          static_cast<QWidget*>(form.ConstBox())})
      if (w != visible) QVERIFY(!w->isVisible());
    QCOMPARE(text, shown);
    QVERIFY(form.width() >= 246 && form.height() >= 90);
  }

  void Ok_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("value");  // the tag's ValueText afterwards
    QTest::newRow("word") << "W"
                          << "65535" << true << "65535";
    QTest::newRow("word overflow") << "W"
                                   << "65536" << false << "7";
    QTest::newRow("word, bad text") << "W"
                                    << "семь" << false << "7";
    QTest::newRow("float, point") << "F"
                                  << "1.5" << true << "1.5";
    QTest::newRow("float, comma") << "F"
                                  << "1,5" << false << "0.5";
    QTest::newRow("float, single precision") << "F"
                                             << "0.1" << true << "0.1";
    QTest::newRow("bool false") << "Лампа"
                                << "FALSE" << true << "False";
    QTest::newRow("constant name") << "Mode"
                                   << "Fast" << true << "250";
    QTest::newRow("typed value") << "Mode"
                                 << "42" << true << "42";
    QTest::newRow("shown constant text") << "Mode"
                                         << "Run (1)" << false << "1";
    QTest::newRow("name of no constant") << "Mode"
                                         << "Slow" << false << "1";
  }
  void Ok() {
    QFETCH(QString, tag);
    QFETCH(QString, entered);
    QFETCH(bool, taken);
    QFETCH(QString, value);
    TModbusRegister* t = Tag(tag);
    TValueForm form(*t, m_project.ConstGroups);
    switch (form.Input()) {
      case ValueInput::Text:
        form.ValueEdit()->setText(entered);
        break;
      case ValueInput::Bool:
        form.BoolBox()->setCurrentText(entered);
        break;
      case ValueInput::Constants:
        form.ConstBox()->setCurrentText(entered);
        break;
    }
    QCOMPARE(form.OkClick(), taken);
    QCOMPARE(QString::fromStdString(t->ValueText()), value);
    // The registers hold what the tag holds: reading them back gives the same value.
    QVERIFY(t->ReadTagFromSpace().SameAs(t->GetValue()));
  }
};

QTEST_MAIN(ValueFormTest)
#include "ValueFormTest.moc"
