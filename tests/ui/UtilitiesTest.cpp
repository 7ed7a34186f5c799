// The tag search, the CRC16 tool and the constants window: their rules as tables, and the
// windows driven through their handlers (questions answered by the test, never a nested
// event loop).
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"
#include "project/ProjectFile.h"
#include "ui/CRC16Form.h"
#include "ui/ConstForm.h"
#include "ui/FindTagForm.h"

using namespace velkor;

namespace {

const char* kProject = R"(<Servers><Server><Name>S</Name><Device><Name>D</Name>
<Register><Name>Reg</Name><Addr>10</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>Reg_1</Name><Addr>11</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>MyReg</Name><Addr>12</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>reg</Name><Addr>13</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>Насос</Name><Addr>14</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>B3</Name><Addr>10</Addr><BitAddr>3</BitAddr><vType>11</vType><WorkType>2</WorkType></Register>
<Register><Name>B3in</Name><Addr>10</Addr><BitAddr>3</BitAddr><mSpace>1</mSpace><vType>11</vType><WorkType>2</WorkType></Register>
<Register><Name>Coil</Name><Addr>10</Addr><mSpace>2</mSpace><vType>11</vType><WorkType>2</WorkType></Register>
</Device></Server></Servers>)";

QString Names(const std::vector<TModbusRegister*>& tags) {
  QStringList list;
  for (const TModbusRegister* tag : tags) list << QString::fromStdString(tag->Name());
  return list.join(',');
}

}  // namespace

class UtilitiesTest : public QObject {
  Q_OBJECT
 private:
  Project m_project;

 private slots:
  void init() {
    m_project.Reset();
    LoadProjectText(m_project, kProject);
  }
  void cleanup() { m_project.Reset(); }

  void Search_data() {
    QTest::addColumn<bool>("byAddress");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("found");
    QTest::newRow("contains") << false << false << false << "reg"
                              << "Reg,Reg_1,MyReg,reg";
    QTest::newRow("exact with case") << false << true << true << "reg"
                                     << "reg";
    QTest::newRow("exact without case") << false << true << false << "reg"
                                        << "Reg,reg";
    QTest::newRow("contains with case") << false << false << true << "Reg"
                                        << "Reg,Reg_1,MyReg";
    // Exact folds Latin only; contains follows the locale, Cyrillic too.
    QTest::newRow("cyrillic exact") << false << true << false << "насос"
                                    << "";
    QTest::newRow("cyrillic contains") << false << false << false << "насос"
                                       << "Насос";
    QTest::newRow("upper search text") << false << true << false << "REG"
                                       << "Reg,reg";
    QTest::newRow("address bit") << true << false << false << "10.3"
                                 << "B3,B3in";
    QTest::newRow("address reg") << true << false << false << "10"
                                 << "Reg,Coil";
    QTest::newRow("no match") << false << false << false << "zzz"
                              << "";
  }
  void Search() {
    QFETCH(bool, byAddress);
    QFETCH(bool, exact);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, text);
    QFETCH(QString, found);
    QCOMPARE(Names(FindTags({byAddress, exact, caseSensitive, text.toStdString()})), found);
  }

  void SearchDialog() {
    TFindTegForm form;
    QCOMPARE(form.windowTitle(), QString("Поиск тега"));
    QVERIFY(form.NameButton()->isChecked());
    QVERIFY(!form.ExactBox()->isChecked() && !form.CaseBox()->isChecked());
    form.ExactBox()->setChecked(true);
    form.AddressButton()->setChecked(true);
    QVERIFY(!form.ExactBox()->isEnabled() && !form.CaseBox()->isEnabled());
    QVERIFY(form.Criteria().Exact);  // read even while disabled
    form.NameButton()->setChecked(true);
    QVERIFY(form.ExactBox()->isEnabled());
    QCOMPARE(FoundTagText(*FindTags({true, false, false, "10.3"}).front()),
             QString("S.D.B3 (10.3)"));
  }

  void ParsePacket_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("blanks anywhere") << "0103 0000 0001" << 6;
    QTest::newRow("lower case") << "0a 0b" << 2;
    QTest::newRow("odd digits") << "01 0" << 0;
    QTest::newRow("other character") << "01,03" << 0;
    QTest::newRow("one character") << "1" << 0;
    QTest::newRow("empty") << "" << 0;
  }
  void ParsePacket() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QCOMPARE(int(ParsePacketText(text.toStdString()).size()), count);
    QCOMPARE(ParsePacketText("0103 0000 0001"), ParsePacketText("01 03 00 00 00 01"));
    QCOMPARE(ParsePacketText(std::string(70000, 'A')).size(), size_t(32768));
  }

  void Calculate_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("crc");
    QTest::newRow("read request") << "01 03 00 00 00 01"
                                  << "84 0A";
    QTest::newRow("no bytes") << ""
                              << "FF FF";
    QTest::newRow("bad text") << "01 0G"
                              << "FF FF";
  }
  void Calculate() {
    QFETCH(QString, text);
    QFETCH(QString, crc);
    TCheckCRC16Form form;
    form.PacketEdit()->setText(text);
    form.CalculateClick();
    QCOMPARE(form.CalculatedEdit()->text(), crc);
  }

  void Check_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("inPacket");
    QTest::addColumn<QString>("calculated");
    QTest::addColumn<int>("icon");
    QTest::newRow("initial") << "01 03 00 00 00 01 84 0A"
                             << "Контрольная сумма совпадает"
                             << "84 0A"
                             << "84 0A" << int(QMessageBox::Information);
    QTest::newRow("wrong byte") << "01 03 00 00 00 01 84 0B"
                                << "Контрольная сумма не совпадает"
                                << "84 0B"
                                << "84 0A" << int(QMessageBox::Critical);
    QTest::newRow("two bytes") << "84 0A"
                               << "Слишком короткий пакет!"
                               << ""
                               << "" << int(QMessageBox::Critical);
    QTest::newRow("odd digits") << "01 03 0"
                                << "Слишком короткий пакет!"
                                << ""
                                << "" << int(QMessageBox::Critical);
  }
  void Check() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, inPacket);
    QFETCH(QString, calculated);
    QFETCH(int, icon);
    TCheckCRC16Form form;
    QCOMPARE(form.PacketEdit()->text(), QString("01 03 00 00 00 01 84 0A"));
    form.PacketEdit()->setText(text);
    QCOMPARE(form.CheckClick(), message);
    auto* box = form.findChild<QMessageBox*>();
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QString("Проверка CRC16"));
    QCOMPARE(int(box->icon()), icon);
    box->close();
    QCOMPARE(form.InPacketEdit()->text(), inPacket);  // unchanged when too short
    QCOMPARE(form.CalculatedEdit()->text(), calculated);
  }

  void ConstChecks_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("result");
    QTest::newRow("new group") << "add"
                               << "B"
                               << "" << int(ConstCheck::Ok);
    QTest::newRow("new group taken") << "add"
                                     << "A"
                                     << "" << int(ConstCheck::Exists);
    QTest::newRow("new group empty") << "add"
                                     << ""
                                     << "" << int(ConstCheck::Empty);
    QTest::newRow("rename same") << "rename"
                                 << "A"
                                 << "" << int(ConstCheck::Empty);
    QTest::newRow("rename taken") << "rename"
                                  << "Other"
                                  << "" << int(ConstCheck::Exists);
    QTest::newRow("rename empty") << "rename"
                                  << ""
                                  << "" << int(ConstCheck::Ok);
    QTest::newRow("const ok") << "const"
                              << "Stop"
                              << "0" << int(ConstCheck::Ok);
    QTest::newRow("const no value") << "const"
                                    << "Stop"
                                    << "" << int(ConstCheck::Empty);
    QTest::newRow("const no name") << "const"
                                   << ""
                                   << "0" << int(ConstCheck::Empty);
    QTest::newRow("const taken") << "const"
                                 << "Run"
                                 << "5" << int(ConstCheck::Exists);
    QTest::newRow("const case") << "const"
                                << "run"
                                << "5" << int(ConstCheck::Ok);
    QTest::newRow("edit itself") << "edit"
                                 << "Run"
                                 << "7" << int(ConstCheck::Ok);
  }
  void ConstChecks() {
    QFETCH(QString, what);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, result);
    TConstGroups groups;
    TConstGroup* a = groups.Add(std::make_unique<TConstGroup>("A"));
    groups.Add(std::make_unique<TConstGroup>("Other"));
    TConstClass* run = a->Add(std::make_unique<TConstClass>("Run", "1"));
    const std::string n = name.toStdString(), v = value.toStdString();
    ConstCheck got = what == "add"      ? CheckNewGroupName(groups, n)
                     : what == "rename" ? CheckGroupRename(groups, *a, n)
                     : what == "const"  ? CheckConstant(*a, n, v, nullptr)
                                        : CheckConstant(*a, n, v, run);
    QCOMPARE(int(got), result);
  }

  // The window: every change at once; messages with their captions; the dialog loop.
  void ConstWindow() {
    TConstGroups groups;
    TConstForm form(groups);
    QCOMPARE(form.windowTitle(), QString("Константы"));
    QStringList errors;
    std::vector<std::optional<QString>> answers;
    std::vector<std::pair<QString, QString>> entries;  // the dialog's answers in turn
    bool yes = true;
    form.AskText = [&](const QString&, const QString& prompt, const QString&) {
      [&] { QCOMPARE(prompt, QString("Введите название группы")); }();
      auto a = answers.front();
      answers.erase(answers.begin());
      return a;
    };
    form.ShowError = [&](const QString& caption, const QString& text) {
      errors << caption + "|" + text;
    };
    form.AskYesNo = [&](const QString& caption, const QString& text) {
      errors << caption + "|" + text;
      return yes;
    };
    form.EditConstant = [&](QString& name, QString& value) {
      if (entries.empty()) return false;
      std::tie(name, value) = entries.front();
      entries.erase(entries.begin());
      return true;
    };
    QTreeWidget* tree = form.GroupsTree();
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("Группы"));

    answers = {QString("Modes"), QString("Modes"), std::nullopt, QString("")};
    form.AddGroup();
    form.AddGroup();
    form.AddGroup();  // cancelled
    form.AddGroup();  // empty
    QCOMPARE(groups.Count(), 1);
    QCOMPARE(errors, QStringList{"Добавление группы|Группа с именем - Modes уже существует"});
    errors.clear();

    // No group selected: the constant commands do nothing.
    tree->setCurrentItem(tree->topLevelItem(0));
    entries = {{"x", "1"}};
    form.AddConstant();
    QCOMPARE(entries.size(), size_t(1));

    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    form.GroupsTreeClick();
    entries = {{"", "1"}, {"Run", "1"}};  // shown again after the error
    form.AddConstant();
    QCOMPARE(errors, QStringList{"Добавление константы|Проверьте параметры константы"});
    entries = {{"Run", "5"}};
    errors.clear();
    form.AddConstant();  // taken, then the dialog is cancelled
    QCOMPARE(errors, QStringList{"Добавление константы|Константа с таким именем уже существует"});
    QCOMPARE(groups.Items(0)->Count(), 1);
    QCOMPARE(form.ListView()->topLevelItemCount(), 1);
    QCOMPARE(form.ListView()->topLevelItem(0)->text(1), QString("1"));

    form.ListView()->setCurrentItem(form.ListView()->topLevelItem(0));
    entries = {{"Go", "3"}};
    form.EditSelectedConstant();
    QCOMPARE(groups.Items(0)->Items(0)->Name, std::string("Go"));
    QCOMPARE(form.ListView()->topLevelItem(0)->text(0), QString("Go"));

    errors.clear();
    yes = false;
    form.DeleteConstant();
    QCOMPARE(errors,
             QStringList{"Удаление константы|Вы действительно хотите удалить константу Go?"});
    QCOMPARE(groups.Items(0)->Count(), 1);
    yes = true;
    form.DeleteConstant();
    QCOMPARE(groups.Items(0)->Count(), 0);

    answers = {QString("")};  // renaming to empty is accepted
    form.RenameGroup();
    QCOMPARE(groups.Items(0)->Name, std::string());
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString());

    errors.clear();
    form.DeleteGroup();
    QCOMPARE(errors, QStringList{"Удаление группы|Вы действительно хотите удалить группу ?"});
    QCOMPARE(groups.Count(), 0);
    QCOMPARE(form.ListView()->topLevelItemCount(), 0);
  }
};

QTEST_MAIN(UtilitiesTest)
#include "UtilitiesTest.moc"
