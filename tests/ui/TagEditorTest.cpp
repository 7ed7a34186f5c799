// The tag editor: the lists and codes a type brings, what "Принять" writes and in which
// order (and what it leaves when a step fails), the list's filter, sorting and click rule.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"
#include "project/ProjectFile.h"
#include "ui/TagEditor.h"

using namespace velkor;

namespace {

const char* kProject = R"(<Servers><Server><Name>S</Name><Device><Name>D</Name>
<Groups><Items><Name>MainGroup</Name><Items><Name>G</Name><Items><Name>Sub</Name></Items></Items></Items></Groups>
<Register><Name>W</Name><Addr>10</Addr><vType>18</vType><WorkType>2</WorkType><Value>7</Value></Register>
<Register><Name>b</Name><Addr>2</Addr><vType>18</vType><WorkType>2</WorkType><Value>1</Value></Register>
<Register><Name>Bits</Name><Addr>5</Addr><mSpace>2</mSpace><vType>11</vType><WorkType>2</WorkType><Value>true</Value></Register>
<Register><Name>a10</Name><Addr>2</Addr><BitAddr>0</BitAddr><vType>4</vType><DataFormat>6</DataFormat><WorkType>0</WorkType><Value>1</Value></Register>
<Register><Name>Scr</Name><Addr>30</Addr><vType>18</vType><WorkType>5</WorkType><Value>0</Value></Register>
<Register><Name>X</Name><Addr>40</Addr><vType>18</vType><Group>S.D.G</Group><WorkType>2</WorkType><Value>0</Value></Register>
<Register><Name>Inner</Name><Addr>41</Addr><vType>18</vType><Group>S.D.G.Sub</Group><WorkType>2</WorkType><Value>0</Value></Register>
</Device></Server>
<CONSTGROUPS><CONSTGROUP><Name>Modes</Name><CONST><NAME>Run</NAME><VALUE>1</VALUE></CONST></CONSTGROUP></CONSTGROUPS>
</Servers>)";

QString Joined(const std::vector<std::string>& items) {
  QStringList list;
  for (const auto& item : items) list << QString::fromStdString(item);
  return list.join(',');
}

QString Names(const std::vector<TModbusRegister*>& rows) {
  QStringList list;
  for (const TModbusRegister* tag : rows) list << QString::fromStdString(tag->Name());
  return list.join(',');
}

}  // namespace

class TagEditorTest : public QObject {
  Q_OBJECT
 private:
  Project m_project;
  TDeviceClass* Device() { return m_project.Servers.Items(0)->Devices().Items(0); }
  TModbusRegister* Tag(const char* name) {
    for (int i = 0; i < Device()->Tags().Count(); ++i)
      if (Device()->Tags().Items(i)->Name() == name) return Device()->Tags().Items(i);
    return nullptr;
  }
  TGroupClass* Group() { return Device()->RootGroup().Children().Items(0); }

 private slots:
  void init() {
    m_project.Reset();
    LoadProjectText(m_project, kProject);
  }
  void cleanup() { m_project.Reset(); }

  // "Тип данных" -> "Кол-во регистров", its enabled state, the format list and the pages.
  void TypeReaction_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("regs");
    QTest::addColumn<bool>("regsEnabled");
    QTest::addColumn<QString>("formats");
    QTest::addColumn<bool>("allPages");
    const QString f16 = "0_1,1_0", f32 = "0_1_2_3,1_0_3_2,2_3_0_1,3_2_1_0",
                  f64 =
                      "0_1_2_3_4_5_6_7,1_0_3_2_5_4_7_6,2_3_0_1_6_7_4_5,3_2_1_0_7_6_5_4,"
                      "4_5_6_7_0_1_2_3,5_4_7_6_1_0_3_2,6_7_4_5_2_3_0_1,7_6_5_4_3_2_1_0";
    QTest::newRow("Word") << 0 << 18 << "1" << false << f16 << true;
    QTest::newRow("Float") << 1 << 4 << "2" << false << f32 << true;
    QTest::newRow("ShortInt") << 2 << 2 << "1" << false << f16 << true;
    QTest::newRow("Integer") << 3 << 3 << "2" << false << f32 << true;
    QTest::newRow("DWord") << 4 << 19 << "2" << false << f32 << true;
    QTest::newRow("Int64") << 5 << 20 << "4" << false << f64 << true;
    QTest::newRow("Bool") << 6 << 11 << "0" << false << f16 << false;
    QTest::newRow("DateTime") << 7 << 7 << "4" << false << f64 << true;
    QTest::newRow("Double") << 8 << 5 << "4" << false << f64 << true;
    QTest::newRow("String") << 9 << 256 << "1" << true << f16 << false;
  }
  void TypeReaction() {
    QFETCH(int, index);
    QFETCH(int, code);
    QFETCH(QString, regs);
    QFETCH(bool, regsEnabled);
    QFETCH(QString, formats);
    QFETCH(bool, allPages);
    QCOMPARE(int(TypeItems()[size_t(index)].Code), code);
    QCOMPARE(TypeIndexOf(uint16_t(code)), index);
    TagEditor editor(m_project.ConstGroups);
    editor.ShowTag(Tag("W"));
    editor.TypeBox()->setCurrentIndex(index);
    QCOMPARE(editor.RegsCountEdit()->text(), regs);  // String: the Word tag's own count
    QCOMPARE(editor.RegsCountEdit()->isEnabled(), regsEnabled);
    QStringList shown;
    for (int i = 0; i < editor.FormatBox()->count(); ++i) shown << editor.FormatBox()->itemText(i);
    QCOMPARE(shown.join(','), formats);
    QCOMPARE(Joined(FormatItems(uint16_t(code))), formats);
    for (int page = PageIncrement; page < kBehaviourPages; ++page)
      QCOMPARE(editor.BehaviourPages()->isTabVisible(page), allPages);
    QVERIFY(editor.BehaviourPages()->isTabVisible(PageOPC));
    QCOMPARE(editor.DefaultBoolBox()->isVisibleTo(&editor), code == 11);
  }

  // A code not in the list selects the second item; the selected item gives the code back.
  void FormatCodes_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("index");
    QTest::newRow("16 in 16") << 18 << 1 << 0;
    QTest::newRow("32 in 16") << 18 << 4 << 1;
    QTest::newRow("32 in 32") << 4 << 6 << 3;
    QTest::newRow("16 in 32") << 4 << 1 << 1;
    QTest::newRow("64 in 64") << 5 << 14 << 7;
    QTest::newRow("32 in 64") << 20 << 3 << 1;
    QTest::newRow("bool") << 11 << 2 << 1;
  }
  void FormatCodes() {
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, index);
    QCOMPARE(FormatIndexOf(uint16_t(type), uint8_t(code)), index);
    const int first = type == 18 || type == 11 ? 1 : type == 4 ? 3 : 7;
    QCOMPARE(int(FormatCodeAt(uint16_t(type), index)), first + index);
  }

  void SpaceLists_data() {
    QTest::addColumn<bool>("isBool");
    QTest::addColumn<int>("space");
    QTest::addColumn<int>("index");
    QTest::newRow("bool coil") << true << 2 << 0;
    QTest::newRow("bool discrete") << true << 3 << 1;
    QTest::newRow("bool holding") << true << 0 << 2;
    QTest::newRow("bool input") << true << 1 << 3;
    QTest::newRow("reg holding") << false << 0 << 0;
    QTest::newRow("reg input") << false << 1 << 1;
    QTest::newRow("reg coil code") << false << 2 << 1;  // any other code: the second item
  }
  void SpaceLists() {
    QFETCH(bool, isBool);
    QFETCH(int, space);
    QFETCH(int, index);
    QCOMPARE(SpaceIndexOf(isBool, uint8_t(space)), index);
    if (isBool || space < 2) QCOMPARE(int(SpaceCodeAt(isBool, index)), space);
    QCOMPARE(Joined(SpaceItems(true)),
             QString("READ COIL (0x01),READ DISCR INPUT (0x02),READ HOLDING REGS (0x03),"
                     "READ INPUT REGS (0x04)"));
    QCOMPARE(Joined(SpaceItems(false)), QString("READ HOLDING REGS (0x03),READ INPUT REGS (0x04)"));
  }

  // The address goes last in the type block, so it is read for the new type and space.
  void Address_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("typeIndex");
    QTest::addColumn<int>("spaceIndex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");  // AddressText afterwards
    QTest::addColumn<bool>("reset");
    QTest::newRow("bool in holding, reg.bit") << "Bits" << 6 << 2 << "10.3"
                                              << "10.3" << false;
    QTest::newRow("bool in holding, reg alone") << "Bits" << 6 << 2 << "10"
                                                << "5.0" << true;
    QTest::newRow("bool bit above 15") << "Bits" << 6 << 3 << "7.40"
                                       << "7.15" << false;
    QTest::newRow("bool coil") << "Bits" << 6 << 0 << "12"
                               << "12" << false;
    QTest::newRow("word") << "W" << 0 << 0 << "65535"
                          << "65535" << false;
    QTest::newRow("word not a number") << "W" << 0 << 0 << "1x"
                                       << "10" << true;
    QTest::newRow("word to bool holding") << "W" << 6 << 2 << "3.1"
                                          << "3.1" << false;
  }
  void Address() {
    QFETCH(QString, tag);
    QFETCH(int, typeIndex);
    QFETCH(int, spaceIndex);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(bool, reset);
    TModbusRegister* t = Tag(tag.toUtf8().constData());
    TagEditorInput in = ReadTagFields(*t);
    in.TypeIndex = typeIndex;
    in.SpaceIndex = spaceIndex;
    in.Address = text.toStdString();
    const ApplyOutcome out = ApplyTagFields(*t, in);
    QVERIFY(out.RangeError.empty());
    QCOMPARE(out.AddressReset, reset);
    QCOMPARE(QString::fromStdString(t->AddressText()), shown);
  }

  // The tag was not Bool yet: the default comes from the text field, not the list.
  void WordToBoolTakesTextField() {
    TagEditor editor(m_project.ConstGroups);
    TModbusRegister* w = Tag("W");
    editor.ShowTagList(Device(), nullptr, w);
    editor.DefaultEdit()->setText("1");
    editor.TypeBox()->setCurrentIndex(kBoolTypeIndex);
    QVERIFY(editor.DefaultBoolBox()->isVisibleTo(&editor));
    QVERIFY(!editor.DefaultEdit()->isVisibleTo(&editor));
    editor.DefaultBoolBox()->setCurrentIndex(1);  // "False", not read
    editor.SpaceBox()->setCurrentIndex(0);        // coils
    editor.ApplyClick();
    QCOMPARE(w->Type(), VarType::Bool);
    QVERIFY(w->DefValue.IsString());
    QCOMPARE(QString::fromStdString(w->DefValue.ToString()), QString("1"));
    // Now a Bool: the list is read.
    editor.DefaultBoolBox()->setCurrentIndex(1);
    editor.ApplyClick();
    QCOMPARE(w->DefValue.Type(), VarType::Bool);
    QVERIFY(!w->DefValue.ToBool());
  }

  void LeavingScriptReleasesVariables() {
    TModbusRegister* scr = Tag("Scr");
    TModbusRegister* w = Tag("W");
    scr->Script().BindVariable(w, "w");
    QCOMPARE(w->ScriptUsers().Count(), 1);
    TagEditorInput in = ReadTagFields(*scr);
    QCOMPARE(in.Page, int(PageScript));
    ApplyTagFields(*scr, in);  // staying on the script page keeps them
    QCOMPARE(w->ScriptUsers().Count(), 1);
    in.Page = PageManual;
    ApplyTagFields(*scr, in);
    QCOMPARE(scr->WorkType, kWorkManual);
    QCOMPARE(scr->Script().VariableCount(), 0);
    QCOMPARE(w->ScriptUsers().Count(), 0);
    Device()->DeleteTag(w);  // no longer refused
  }

  void NameCheckComparesFullNames() {
    TModbusRegister* x = Tag("X");  // in group G
    TagEditorInput in = ReadTagFields(*x);
    in.Name = "W";  // W lives at the device's root
    QVERIFY(!ApplyTagFields(*x, in).NameTaken);
    QCOMPARE(QString::fromStdString(x->FullName()), QString("S.D.G.W"));

    TModbusRegister* b = Tag("b");
    in = ReadTagFields(*b);
    in.Name = "W";
    in.Description = "changed";
    in.Period = "5";
    QVERIFY(ApplyTagFields(*b, in).NameTaken);
    QCOMPARE(b->Name(), std::string("b"));
    QVERIFY(b->Description.empty());  // nothing applied
    QCOMPARE(b->Period, int64_t(100));
  }

  // Failures reset their own field only; "Принять" is not transactional.
  void FailingSteps() {
    TModbusRegister* w = Tag("W");
    TagEditorInput in = ReadTagFields(*w);
    in.Period = "abc";
    in.Percent = "1,5";
    in.Description = "kept";
    in.Page = PageSine;
    in.SinAmplitude = "3";
    in.SinPeriod = "x";
    in.SinOffset = "9";
    ApplyOutcome out = ApplyTagFields(*w, in);
    QVERIFY(out.PeriodReset && out.PercentReset && out.SinPeriodReset);
    QCOMPARE(w->Period, int64_t(100));
    QCOMPARE(w->Description, std::string("kept"));
    QCOMPARE(w->WorkType, kWorkSine);
    QCOMPARE(QString::fromStdString(w->Sin.Offset.ToString()), QString("0"));  // not taken
    QCOMPARE(QString::fromStdString(w->Sin.Amplitude.ToString()), QString("3"));

    in = ReadTagFields(*w);
    in.Page = PageSaw;
    in.SawPeriod = "";
    in.SawType = 3;
    in.SawOffset = "4";
    out = ApplyTagFields(*w, in);
    QVERIFY(out.SawPeriodReset);
    QCOMPARE(int(w->Pila.pType), 0);
    QCOMPARE(QString::fromStdString(w->Pila.Offset.ToString()), QString("4"));
  }

  // Overflow and a text that is no number end the type block with one message.
  void TypeBlockFailures_data() {
    QTest::addColumn<QString>("max");
    QTest::newRow("overflow") << "70000";
    QTest::newRow("not a number") << "abc";
  }
  void TypeBlockFailures() {
    QFETCH(QString, max);
    TModbusRegister* w = Tag("W");
    TagEditorInput in = ReadTagFields(*w);
    in.Page = PageRandom;
    in.Min = "0";
    in.Max = max.toStdString();
    in.TypeIndex = 0;
    in.FormatIndex = 0;
    in.SpaceIndex = 1;
    in.Address = "99";
    const ApplyOutcome out = ApplyTagFields(*w, in);
    QVERIFY(!out.RangeError.empty());
    QCOMPARE(int(w->DataFormat), 2);  // format, space and address not applied
    QCOMPARE(int(w->mSpace), 0);
    QCOMPARE(int(w->Addr), 10);
    QCOMPARE(w->WorkType, kWorkRandom);  // the steps before it stay

    TagEditor editor(m_project.ConstGroups);
    editor.setWindowTitle("Velkor");
    editor.ShowTagList(Device(), nullptr, w);
    editor.BehaviourPages()->setCurrentIndex(PageRandom);
    TagEditorInput fields = editor.Fields();
    fields.Max = max.toStdString();
    editor.SetFields(fields);
    editor.ApplyClick();
    auto* box = editor.findChild<QMessageBox*>();
    QVERIFY(box);
    QCOMPARE(box->text(), QString("Проверьте диапазон вводимых данных"));
    QCOMPARE(box->windowTitle(), QString("Velkor"));
    box->close();
  }

  void StringRegsCount() {
    TModbusRegister* w = Tag("W");
    TagEditorInput in = ReadTagFields(*w);
    in.TypeIndex = kStringTypeIndex;
    in.RegsCount = "x";
    in.FormatIndex = 0;
    ApplyOutcome out = ApplyTagFields(*w, in);
    QVERIFY(out.RegsCountRejected);
    QCOMPARE(w->Type(), VarType::String);
    QCOMPARE(int(w->DataFormat), 2);  // neither count nor format
    in.RegsCount = "6";
    out = ApplyTagFields(*w, in);
    QCOMPARE(int(w->RegsCount()), 6);
    QCOMPARE(int(w->DataFormat), 1);
  }

  void ListFilterAndCount() {
    TagEditor editor(m_project.ConstGroups);
    editor.ShowTagList(Device(), Group(), nullptr);
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("X"));
    QCOMPARE(editor.CountLabel()->text(), QString("Тегов: 1"));
    QVERIFY(!editor.CurrentTag());  // a row selected, the editor empty
    QCOMPARE(editor.TagListView()->selectionModel()->selectedRows().size(), 1);
    editor.AllTagsBox()->setChecked(true);  // no effect of its own
    QCOMPARE(editor.ListModel()->rowCount(), 1);
    editor.ShowTagList(Device(), Group(), Tag("Inner"));
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("Inner,X"));
    QCOMPARE(editor.CurrentTag(), Tag("Inner"));
    editor.ShowTagList(Device(), nullptr, nullptr);
    QCOMPARE(editor.ListModel()->rowCount(), 7);
    editor.AllTagsBox()->setChecked(false);
    editor.ShowTagList(Device(), nullptr, nullptr);
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("a10,b,Bits,Scr,W"));
  }

  // One direction flag for every column: each header click inverts it.
  void Sorting() {
    std::vector<TModbusRegister*> rows = TagListRows(*Device(), nullptr, false);
    SortTagRows(rows, ListColName, false);
    QCOMPARE(Names(rows), QString("a10,b,Bits,Scr,W"));
    rows = TagListRows(*Device(), nullptr, false);
    SortTagRows(rows, ListColAddress, false);
    QCOMPARE(Names(rows), QString("b,a10,Bits,W,Scr"));  // equal addresses keep their order
    SortTagRows(rows, ListColAddress, true);
    QCOMPARE(Names(rows), QString("Scr,W,Bits,b,a10"));

    TagEditor editor(m_project.ConstGroups);
    editor.ShowTagList(Device(), nullptr, nullptr);
    editor.TagListView()->horizontalHeader()->sectionClicked(ListColName);
    QVERIFY(editor.SortDescending());
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("W,Scr,Bits,b,a10"));
    editor.HeaderClicked(ListColAddress);  // the flag flips again: ascending
    QCOMPARE(editor.SortColumn(), int(ListColAddress));
    QVERIFY(!editor.SortDescending());
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("b,a10,Bits,W,Scr"));
    editor.HeaderClicked(ListColType);  // every row equal: order unchanged
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("b,a10,Bits,W,Scr"));
    // A rebuild sorted by a column of equal rows shows the device's order.
    editor.ShowTagList(Device(), nullptr, nullptr);
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("W,b,Bits,a10,Scr"));
  }

  // A mouse click shows the one selected tag; several rows leave the editor empty; moving
  // with the keyboard does not change it.
  void ClickRule() {
    TagEditor editor(m_project.ConstGroups);
    editor.resize(900, 600);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    editor.ShowTagList(Device(), nullptr, nullptr);
    QTableView* view = editor.TagListView();
    auto click = [&](int row, Qt::KeyboardModifiers mods = {}) {
      const QRect rect = view->visualRect(editor.ListModel()->index(row, 0));
      QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, rect.center());
    };
    click(1);
    QCOMPARE(editor.CurrentTag(), editor.ListModel()->Tag(1));
    QVERIFY(editor.ApplyButton()->isEnabled());
    QCOMPARE(editor.NameEdit()->text(), QString("b"));
    click(2, Qt::ControlModifier);
    QCOMPARE(editor.SelectedTags().size(), size_t(2));
    QVERIFY(!editor.CurrentTag());
    QVERIFY(!editor.ApplyButton()->isEnabled());
    QVERIFY(editor.NameEdit()->text().isEmpty());
    QVERIFY(!editor.BehaviourPages()->isVisibleTo(&editor));
    click(3);
    TModbusRegister* shown = editor.CurrentTag();
    QVERIFY(shown);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(editor.CurrentTag(), shown);
  }

  void ShowTagFields() {
    TagEditor editor(m_project.ConstGroups);
    TModbusRegister* a10 = Tag("a10");
    a10->ConstGroupName = "Modes";
    a10->Pila.pType = 2;
    editor.ShowTag(a10);
    QCOMPARE(editor.FullNameLabel()->text(), QString("S.D.a10"));
    QCOMPARE(editor.TypeBox()->currentText(), QString("Float"));
    QCOMPARE(editor.FormatBox()->currentText(), QString("3_2_1_0"));
    QCOMPARE(editor.ConstBox()->currentIndex(), 1);
    QCOMPARE(editor.ConstBox()->itemText(0), QString());
    QCOMPARE(editor.BehaviourPages()->currentIndex(), int(PageIncrement));
    QCOMPARE(editor.SawBox()->currentIndex(), 2);
    QCOMPARE(editor.SawBox()->toolTip(), QString("Прямоугольный левый треугольник"));
    // Groups added in the constants window join the list; the choice stays.
    m_project.ConstGroups.Add(std::make_unique<TConstGroup>("Aaa"));
    editor.RefreshConstGroups();
    QCOMPARE(editor.ConstBox()->count(), 3);
    QCOMPARE(editor.ConstBox()->currentText(), QString("Modes"));
    // A Bool default that is no Boolean becomes false.
    TModbusRegister* bits = Tag("Bits");
    bits->DefValue = "maybe";
    editor.ShowTag(bits);
    QCOMPARE(editor.DefaultBoolBox()->currentText(), QString("False"));
    QCOMPARE(bits->DefValue.Type(), VarType::Bool);
    QCOMPARE(editor.SpaceBox()->currentText(), QString("READ COIL (0x01)"));
  }

  // "Принять" on a tag rebuilds the list and keeps the tag selected and shown.
  void ApplyRebuildsList() {
    TagEditor editor(m_project.ConstGroups);
    TModbusRegister* w = Tag("W");
    editor.ShowTagList(Device(), nullptr, w);
    editor.NameEdit()->setText("A0");
    editor.ApplyClick();
    QCOMPARE(Names(editor.ListModel()->Rows()), QString("A0,a10,b,Bits,Scr"));
    QCOMPARE(editor.CurrentTag(), w);
    QCOMPARE(editor.TagListView()->selectionModel()->selectedRows().at(0).row(), 0);
    // "Все теги" changed alone: the next "Принять" rebuilds with it.
    editor.AllTagsBox()->setChecked(true);
    editor.ApplyClick();
    QCOMPARE(editor.ListModel()->rowCount(), 7);
  }
};

QTEST_MAIN(TagEditorTest)
#include "TagEditorTest.moc"
