// The main window's rules as tables: page per node and run state, the command table for
// every node kind stopped and running, the tree, the selection queries, row texts.
#include <QTest>

#include "UiFixture.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "simulation/Behaviours.h"
#include "ui/MainLogic.h"

using namespace velkor;

Q_DECLARE_METATYPE(velkor::NodeKind)
Q_DECLARE_METATYPE(velkor::Page)
Q_DECLARE_METATYPE(velkor::TreeMenu)

namespace {

// The names of the commands for which pick(state) holds, in command order.
template <typename Pick>
QString Names(const CommandTable& table, Pick pick) {
  QStringList names;
  for (size_t i = 0; i < size_t(Cmd::Count); ++i)
    if (pick(table.States[i])) names << CmdName(Cmd(i));
  return names.join(',');
}

void Flatten(const TreeNode& node, int depth, QStringList& out) {
  out << QString(depth * 2, ' ') + QString::fromStdString(node.Text);
  for (const TreeNode& child : node.Children) Flatten(child, depth + 1, out);
}

const char* kRunningDisabled =
    "FileMenu,EditMenu,ProjectMenu,New,Open,Save,SaveAs,Exit,AddServer,DeleteServer,AddDevice,"
    "AddDeviceFromTemplate,SaveDeviceToTemplate,DeleteDevice,AddTag,DeleteTag,Duplicate,"
    "AddGroup,DeleteGroup,EditGroup,Copy,Cut,Paste,MoveUp,MoveDown,Constants,Functions,Start,"
    "Settings,FindTag";

}  // namespace

class MainLogicTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { LoadProjectText(session.GetProject(), kTreeProject); }
  void cleanup() { session.New(); }

  void PageForNodeAndRunState_data() {
    QTest::addColumn<NodeKind>("kind");
    QTest::addColumn<bool>("running");
    QTest::addColumn<Page>("page");
    QTest::newRow("nothing, stopped") << NodeKind::None << false << Page::Servers;
    QTest::newRow("nothing, running") << NodeKind::None << true << Page::Servers;
    QTest::newRow("root, stopped") << NodeKind::Root << false << Page::Servers;
    QTest::newRow("root, running") << NodeKind::Root << true << Page::Servers;
    QTest::newRow("server, stopped") << NodeKind::Server << false << Page::ServerSettings;
    QTest::newRow("server, running") << NodeKind::Server << true << Page::DevicesWork;
    QTest::newRow("device, stopped") << NodeKind::Device << false << Page::DeviceSettings;
    QTest::newRow("device, running") << NodeKind::Device << true << Page::Regs;
    QTest::newRow("group, stopped") << NodeKind::Group << false << Page::DeviceSettings;
    QTest::newRow("group, running") << NodeKind::Group << true << Page::Regs;
  }
  void PageForNodeAndRunState() {
    QFETCH(NodeKind, kind);
    QFETCH(bool, running);
    QFETCH(Page, page);
    QCOMPARE(PageFor(kind, running), page);
  }

  // Every row checks every command: the node commands shown, and all disabled commands.
  void CommandTableForEveryNode_data() {
    QTest::addColumn<bool>("running");
    QTest::addColumn<NodeKind>("kind");
    QTest::addColumn<QString>("flags");  // c children, e expanded, p parent, f first, l last
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("disabled");
    QTest::addColumn<TreeMenu>("menu");
    const QString stoppedOff = "AddTag,DeleteTag,Duplicate,Stop";
    const QString stoppedTagsOn = "DeleteTag,Duplicate,Stop";
    QTest::newRow("stopped, nothing selected") << false << NodeKind::None << ""
                                               << "AddServer" << stoppedOff << TreeMenu::Full;
    QTest::newRow("stopped, root expanded") << false << NodeKind::Root << "ce"
                                            << "AddServer,Collapse" << stoppedOff << TreeMenu::Full;
    QTest::newRow("stopped, empty root") << false << NodeKind::Root << ""
                                         << "AddServer" << stoppedOff << TreeMenu::Full;
    QTest::newRow("stopped, only server")
        << false << NodeKind::Server << "cepfl"
        << "AddServer,DeleteServer,AddDevice,AddDeviceFromTemplate,Collapse" << stoppedOff
        << TreeMenu::Full;
    QTest::newRow("stopped, first of two servers, collapsed")
        << false << NodeKind::Server << "cpf"
        << "AddServer,DeleteServer,AddDevice,AddDeviceFromTemplate,Expand,MoveDown" << stoppedOff
        << TreeMenu::Full;
    QTest::newRow("stopped, last server without devices")
        << false << NodeKind::Server << "pl"
        << "AddServer,DeleteServer,AddDevice,AddDeviceFromTemplate,MoveUp" << stoppedOff
        << TreeMenu::Full;
    QTest::newRow("stopped, middle device with groups")
        << false << NodeKind::Device << "cep"
        << "SaveDeviceToTemplate,DeleteDevice,AddGroup,Collapse,MoveUp,MoveDown" << stoppedTagsOn
        << TreeMenu::Full;
    QTest::newRow("stopped, device without groups")
        << false << NodeKind::Device << "pfl"
        << "SaveDeviceToTemplate,DeleteDevice,AddGroup" << stoppedTagsOn << TreeMenu::Full;
    QTest::newRow("stopped, last group, collapsed")
        << false << NodeKind::Group << "cpl"
        << "AddGroup,DeleteGroup,EditGroup,Expand,MoveUp" << stoppedTagsOn << TreeMenu::Full;
    QTest::newRow("stopped, first leaf group")
        << false << NodeKind::Group << "pf"
        << "AddGroup,DeleteGroup,EditGroup,MoveDown" << stoppedTagsOn << TreeMenu::Full;
    QTest::newRow("running, nothing selected") << true << NodeKind::None << ""
                                               << "" << kRunningDisabled << TreeMenu::None;
    QTest::newRow("running, root expanded") << true << NodeKind::Root << "ce"
                                            << "Collapse" << kRunningDisabled << TreeMenu::Running;
    QTest::newRow("running, server collapsed") << true << NodeKind::Server << "cpf"
                                               << "Expand" << kRunningDisabled << TreeMenu::Running;
    QTest::newRow("running, device expanded")
        << true << NodeKind::Device << "cepl"
        << "Collapse" << kRunningDisabled << TreeMenu::Running;
    QTest::newRow("running, leaf device") << true << NodeKind::Device << "pfl"
                                          << "" << kRunningDisabled << TreeMenu::None;
    QTest::newRow("running, leaf group") << true << NodeKind::Group << "p"
                                         << "" << kRunningDisabled << TreeMenu::None;
  }
  void CommandTableForEveryNode() {
    QFETCH(bool, running);
    QFETCH(NodeKind, kind);
    QFETCH(QString, flags);
    QFETCH(QString, shown);
    QFETCH(QString, disabled);
    QFETCH(TreeMenu, menu);
    const NodeFlags node{kind,
                         flags.contains('c'),
                         flags.contains('e'),
                         flags.contains('p'),
                         flags.contains('f'),
                         flags.contains('l')};
    const CommandTable table = CommandsFor(running, node);
    // The shown node commands, in command order (other commands are always shown).
    QStringList visible;
    for (Cmd cmd : {Cmd::AddServer, Cmd::DeleteServer, Cmd::AddDevice, Cmd::AddDeviceFromTemplate,
                    Cmd::SaveDeviceToTemplate, Cmd::DeleteDevice, Cmd::AddGroup, Cmd::DeleteGroup,
                    Cmd::EditGroup, Cmd::Collapse, Cmd::Expand, Cmd::MoveUp, Cmd::MoveDown})
      if (table[cmd].Visible) visible << CmdName(cmd);
    QCOMPARE(visible.join(','), shown);
    const QString hidden = Names(table, [](const CmdState& s) { return !s.Visible; });
    QCOMPARE(hidden.isEmpty() ? 0 : int(hidden.count(',')) + 1, 13 - int(visible.size()));
    QCOMPARE(Names(table, [](const CmdState& s) { return !s.Enabled; }), disabled);
    QCOMPARE(table.Menu, menu);
  }

  void TreeWithAndWithoutGroups_data() {
    QTest::addColumn<bool>("withGroups");
    QTest::addColumn<QString>("tree");
    QTest::newRow("with groups") << true
                                 << "Сервера|  Alpha (1502)|    Plc (1)|      Насосы|"
                                    "        Вложенная|      Клапаны|    Empty (7)|"
                                    "  Beta (/dev/ttyUSB0)|    Rtu (3)";
    QTest::newRow("without groups") << false
                                    << "Сервера|  Alpha (1502)|    Plc (1)|    Empty (7)|"
                                       "  Beta (/dev/ttyUSB0)|    Rtu (3)";
  }
  void TreeWithAndWithoutGroups() {
    QFETCH(bool, withGroups);
    QFETCH(QString, tree);
    QStringList lines;
    Flatten(BuildTreeNodes(session.Servers(), withGroups), 0, lines);
    QCOMPARE(lines.join('|'), tree);
  }

  void FindNodeAndSelectionQueries() {
    TModbusServerList& servers = session.Servers();
    TModbusTCPServer* alpha = servers.Items(0);
    TDeviceClass* plc = alpha->Devices().Items(0);
    TGroupClass* pumps = plc->RootGroup().Children().Items(0);
    TGroupClass* nested = pumps->Children().Items(0);
    const TreeNode root = BuildTreeNodes(servers, true);
    struct Case {
      const void* object;
      const char* text;
      NodeKind kind;
      TModbusTCPServer* server;
      TDeviceClass* device;
      TGroupClass* group;
    } cases[] = {
        {alpha, "Alpha (1502)", NodeKind::Server, alpha, nullptr, nullptr},
        {plc, "Plc (1)", NodeKind::Device, alpha, plc, nullptr},
        {nested, "Вложенная", NodeKind::Group, alpha, plc, nested},
        {servers.Items(1)->Devices().Items(0), "Rtu (3)", NodeKind::Device, servers.Items(1),
         servers.Items(1)->Devices().Items(0), nullptr},
    };
    for (const Case& c : cases) {
      const TreeNode* node = FindNodeOf(root, c.object);
      QVERIFY(node);
      QCOMPARE(QString::fromStdString(node->Text), QString::fromUtf8(c.text));
      QCOMPARE(node->Node.Kind, c.kind);
      QCOMPARE(SelectedServer(node->Node), c.server);
      QCOMPARE(SelectedDevice(node->Node), c.device);
      QCOMPARE(SelectedGroup(node->Node), c.group);
    }
    QVERIFY(!FindNodeOf(root, nullptr));
    QVERIFY(!FindNodeOf(BuildTreeNodes(servers, false), nested));  // no group nodes
    for (const NodeObject& none : {NodeObject{}, NodeObject::Root()}) {
      QVERIFY(!SelectedServer(none));
      QVERIFY(!SelectedDevice(none));
      QVERIFY(!SelectedGroup(none));
    }
  }

  void TagRowsAndTexts() {
    TDeviceClass* plc = session.Servers().Items(0)->Devices().Items(0);
    TGroupClass* pumps = plc->RootGroup().Children().Items(0);
    auto names = [](const std::vector<TModbusRegister*>& tags) {
      QStringList out;
      for (const TModbusRegister* tag : tags) out << QString::fromStdString(tag->Name());
      return out.join(',');
    };
    QCOMPARE(names(TagsOf(*plc, nullptr)), QString("Top,P1,Deep,V1"));
    QCOMPARE(names(TagsOf(*plc, pumps)), QString("P1,Deep"));  // the subgroup's tags too
    QCOMPARE(names(TagsOf(*plc, pumps->Children().Items(0))), QString("Deep"));

    const std::vector<TModbusRegister*> tags = TagsOf(*plc, nullptr);
    const TConstGroups& constants = session.GetProject().ConstGroups;
    struct Row {
      const char *address, *type, *value, *behaviour, *percent, *space;
    } rows[] = {{"0", "Word", "5", "", "0", "RHR (03)"},
                {"1", "Float", "1.5", "", "2.5", "RHR (03)"},
                {"3", "Integer", "-7", "", "0", "RIR (04)"},
                {"2", "Bool", "Вкл (True)", "", "0", "RC (01)"}};
    for (size_t i = 0; i < tags.size(); ++i) {
      const TModbusRegister& tag = *tags[i];
      QCOMPARE(QString::fromStdString(tag.AddressText()), QString(rows[i].address));
      QCOMPARE(QString::fromStdString(tag.TypeName()), QString(rows[i].type));
      QCOMPARE(QString::fromStdString(ShownValue(tag, constants)),
               QString::fromUtf8(rows[i].value));
      QVERIFY(!BehaviourText(tag).empty());
      QCOMPARE(QString::fromStdString(PercentText(tag.Percent)), QString(rows[i].percent));
      QCOMPARE(QString::fromStdString(SpaceText(tag.mSpace)), QString(rows[i].space));
    }
    QCOMPARE(QString::fromStdString(SpaceText(kDiscreteInputs)), QString("RDI (02)"));
    tags[0]->DisplayMode = kDisplayHex;  // the register bytes, then the value
    QCOMPARE(QString::fromStdString(ShownValue(*tags[0], constants)), QString("00 05 (5)"));
  }

  void ClearingQuestionOnlyAtAManualStart() {
    QVERIFY(AsksZeroQuestion(true, false));
    QVERIFY(!AsksZeroQuestion(true, true));
    QVERIFY(!AsksZeroQuestion(false, false));
    QVERIFY(!AsksZeroQuestion(false, true));
  }

 private:
  Session session;
};

QTEST_GUILESS_MAIN(MainLogicTest)
#include "MainLogicTest.moc"
