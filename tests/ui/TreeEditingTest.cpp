// The editing commands without widgets: dialogs answered from tables, messages recorded.
// Each failure of the command tables, the clipboard's rules in both modes, and the
// clipboard after its objects are gone.
#include <QTemporaryDir>
#include <QTest>

#include "ScriptedPrompts.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "project/Session.h"
#include "ui/TreeEditing.h"

using namespace velkor;

namespace {

// S.Dev: Top; group G with Used (read by the script of Scr) and sub-group H with Deep.
// S.Other: empty. T.Dev2 with tag X.
const char* kProject = R"(<Servers>
<Server><Name>S</Name><Port>1502</Port><Mode>true</Mode>
<Device><Name>Dev</Name><Number>1</Number>
<Groups><Items><Name>MainGroup</Name><Items><Name>G</Name><Items><Name>H</Name></Items></Items></Items></Groups>
<Register><Name>Top</Name><Addr>0</Addr><vType>18</vType><WorkType>2</WorkType></Register>
<Register><Name>Used</Name><Addr>1</Addr><vType>18</vType><Group>S.Dev.G</Group><WorkType>2</WorkType></Register>
<Register><Name>Deep</Name><Addr>2</Addr><vType>18</vType><Group>S.Dev.G.H</Group><WorkType>2</WorkType></Register>
<Register><Name>Scr</Name><Addr>3</Addr><vType>18</vType><RegFullName>S.Dev.Scr</RegFullName><Script><Line>x := b;</Line></Script>
<RegVals><RegVal><RegFullName>S.Dev.G.Used</RegFullName><ValName>b</ValName></RegVal></RegVals><WorkType>5</WorkType></Register>
</Device>
<Device><Name>Other</Name><Number>2</Number></Device>
</Server>
<Server><Name>T</Name><Port>1503</Port><Mode>true</Mode>
<Device><Name>Dev2</Name><Number>3</Number>
<Register><Name>X</Name><Addr>10</Addr><vType>4</vType><WorkType>2</WorkType></Register>
</Device>
</Server>
</Servers>)";

QStringList Names(const TDeviceClass& device) {
  QStringList names;
  for (const auto& tag : device.Tags()) names << QString::fromStdString(tag->FullName());
  return names;
}

QStringList GroupNames(const TGroupClass& group) {
  QStringList names;
  auto walk = [&](auto&& self, const TGroupClass& g, int depth) -> void {
    for (const auto& child : g.Children()) {
      names << QString(depth, '-') + QString::fromStdString(child->Name());
      self(self, *child, depth + 1);
    }
  };
  walk(walk, group, 0);
  return names;
}

QStringList DeviceNames(const TModbusTCPServer& server) {
  QStringList names;
  for (const auto& device : server.Devices()) names << QString::fromStdString(device->Name());
  return names;
}

}  // namespace

class TreeEditingTest : public QObject {
  Q_OBJECT
  Session session;
  ScriptedPrompts prompts;
  std::unique_ptr<TreeEditor> editor;

  TModbusTCPServer* S() { return session.Servers().FindServer("S"); }
  TModbusTCPServer* T() { return session.Servers().FindServer("T"); }
  TDeviceClass* Dev() { return S() ? S()->FindDevice("Dev") : nullptr; }
  TDeviceClass* Other() { return S() ? S()->FindDevice("Other") : nullptr; }
  TGroupClass* G() { return Dev() ? Dev()->FindGroup("S.Dev.G") : nullptr; }
  TGroupClass* H() { return Dev() ? Dev()->FindGroup("S.Dev.G.H") : nullptr; }
  TModbusRegister* Tag(const char* fullName) { return Registry().FindByFullName(fullName); }

 private slots:
  void init() {
    session.New();
    LoadProjectText(session.GetProject(), kProject);
    ResolveScriptReferences(session.GetProject());
    prompts = ScriptedPrompts();
    editor = std::make_unique<TreeEditor>(session, prompts);
  }
  void cleanup() {
    editor.reset();
    session.New();
  }

  // ---- servers

  void NewServerProposesNextPortAndInterval40() {
    prompts.servers = {ServerAnswer([](ServerFields& f) { f.Name = "A"; }),
                       ServerAnswer([](ServerFields& f) { f.Name = "B"; }),
                       ServerAnswer([](ServerFields& f) { f.Name = "C"; })};
    editor->AddServer();
    editor->AddServer();
    QCOMPARE(prompts.proposedServers.at(0).Port, std::string("502"));
    QCOMPARE(prompts.proposedServers.at(1).Port, std::string("503"));
    QCOMPARE(prompts.proposedServers.at(0).Interval, std::string("40"));
    QCOMPARE(prompts.proposedServers.at(0).Name, std::string("Сервер"));
    QCOMPARE(prompts.proposedServers.at(0).BaudIndex, 3);
    QVERIFY(prompts.proposedServers.at(0).Tcp);
    QCOMPARE(session.Servers().FindServer("B")->Port, uint16_t(503));
    QCOMPARE(session.Servers().FindServer("A")->INTERVAL, 40);
    // Deleting does not lower the counter; a new project restarts it.
    editor->DeleteServer(session.Servers().FindServer("B"));
    editor->AddServer();
    QCOMPARE(prompts.proposedServers.at(2).Port, std::string("504"));
    editor->Reset();
    QCOMPARE(editor->NextPort(), uint16_t(502));
  }

  void NewServerRefused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("dialogs");  // a number error opens the dialog again
    QTest::newRow("duplicate name") << "S"
                                    << "502"
                                    << "40" << kServerExistsText << 1;
    QTest::newRow("port not a number") << "N"
                                       << "5x"
                                       << "40" << kCheckServerText << 2;
    QTest::newRow("interval not a number") << "N"
                                           << "502"
                                           << "" << kCheckServerText << 2;
    QTest::newRow("port 0") << "N"
                            << "0"
                            << "40" << kCheckServerText << 2;
    QTest::newRow("port 65536") << "N"
                                << "65536"
                                << "40" << kCheckServerText << 2;
    QTest::newRow("port negative") << "N"
                                   << "-1"
                                   << "40" << kCheckServerText << 2;
    QTest::newRow("interval negative") << "N"
                                       << "502"
                                       << "-5" << kCheckServerText << 2;
  }
  void NewServerRefused() {
    QFETCH(QString, name);
    QFETCH(QString, port);
    QFETCH(QString, interval);
    QFETCH(QString, message);
    QFETCH(int, dialogs);
    prompts.servers = {ServerAnswer([&](ServerFields& f) {
      f.Name = name.toStdString();
      f.Port = port.toStdString();
      f.Interval = interval.toStdString();
    })};
    editor->AddServer();
    QCOMPARE(prompts.errors, std::vector<std::string>{message.toStdString()});
    QCOMPARE(int(prompts.proposedServers.size()), dialogs);
    QCOMPARE(prompts.proposedServers.back().Port, std::string("502"));  // fresh proposals
    QCOMPARE(session.Servers().Count(), 2);
    QCOMPARE(editor->NextPort(), uint16_t(502));
  }

  void NewServerTakesEveryField() {
    prompts.servers = {ServerAnswer([](ServerFields& f) {
      f.Name = "R";
      f.Tcp = false;
      f.ComPort = "/dev/pts/7";
      f.BaudIndex = 8;
      f.ParityIndex = 1;
      f.StopsIndex = 1;
      f.BitsIndex = 0;
      f.Interval = "0";
      f.Desc = "линия";
    })};
    editor->AddServer();
    TModbusTCPServer* r = session.Servers().FindServer("R");
    QVERIFY(r);
    QCOMPARE(r->Mode, false);
    QCOMPARE(r->COMMPORT, std::string("/dev/pts/7"));
    QCOMPARE(r->BAUD, 115200);
    QCOMPARE(r->PARITY, uint8_t(1));
    QCOMPARE(r->STOPS, uint8_t(2));
    QCOMPARE(r->BITS, uint8_t(7));
    QCOMPARE(r->INTERVAL, 0);
    QCOMPARE(r->Desc, std::string("линия"));
  }

  void ExistingServer_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");  // name port interval desc after OK
    QTest::newRow("all taken") << "S2"
                               << "600"
                               << "7"
                               << ""
                               << "S2 600 7 new";
    QTest::newRow("duplicate name") << "T"
                                    << "600"
                                    << "7" << kServerExistsText << "S 1502 40 old";
    QTest::newRow("interval not a number") << "S2"
                                           << "600"
                                           << "x"
                                           << ""
                                           << "S2 600 40 new";
    QTest::newRow("port not a number") << "S2"
                                       << "x"
                                       << "7"
                                       << ""
                                       << "S2 1502 40 old";
    QTest::newRow("port out of range") << "S2"
                                       << "70000"
                                       << "7" << kCheckServerText << "S 1502 40 old";
    QTest::newRow("interval negative") << "S2"
                                       << "600"
                                       << "-1" << kCheckServerText << "S 1502 40 old";
  }
  void ExistingServer() {
    QFETCH(QString, name);
    QFETCH(QString, port);
    QFETCH(QString, interval);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    TModbusTCPServer* server = S();
    server->Desc = "old";
    prompts.servers = {ServerAnswer([&](ServerFields& f) {
      QCOMPARE(f.Port, std::string("1502"));
      f.Name = name.toStdString();
      f.Port = port.toStdString();
      f.Interval = interval.toStdString();
      f.Desc = "new";
    })};
    const EditOutcome outcome = editor->EditServer(server);
    QVERIFY(outcome.TreeChanged);  // the node text and the page, whatever the answer
    QCOMPARE(prompts.errors.empty() ? QString() : QString::fromStdString(prompts.errors[0]),
             message);
    const QString got = QString("%1 %2 %3 %4")
                            .arg(QString::fromStdString(server->Name()))
                            .arg(server->Port)
                            .arg(server->INTERVAL)
                            .arg(QString::fromStdString(server->Desc));
    QCOMPARE(got, expected);
  }

  void BaudNotInTheListOpensAs9600() {
    S()->BAUD = 14400;  // no termios rate: not offered
    S()->PARITY = 2;
    S()->STOPS = 2;
    S()->BITS = 7;
    const ServerFields f = LoadServerFields(*S());
    QCOMPARE(f.BaudIndex, 3);
    QCOMPARE(f.ParityIndex, 2);
    QCOMPARE(f.StopsIndex, 1);
    QCOMPARE(f.BitsIndex, 0);
    prompts.servers = {ServerAnswer([](ServerFields&) {})};
    editor->EditServer(S());
    QCOMPARE(S()->BAUD, 9600);
  }

  // ---- devices

  void NewDevice_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("message");
    QTest::newRow("taken") << "new"
                           << "1"
                           << "0"
                           << "";
    QTest::newRow("name differs in case only") << "dev"
                                               << "1"
                                               << "0"
                                               << "";
    QTest::newRow("duplicate name") << "Dev"
                                    << "1"
                                    << "0" << kDeviceExistsText;
    QTest::newRow("number not a number") << "N"
                                         << "one"
                                         << "0" << kCheckDeviceText;
    QTest::newRow("number 256") << "N"
                                << "256"
                                << "0" << kCheckDeviceText;
    QTest::newRow("number negative") << "N"
                                     << "-1"
                                     << "0" << kCheckDeviceText;
    QTest::newRow("delay negative") << "N"
                                    << "5"
                                    << "-3" << kCheckDeviceText;
    QTest::newRow("delay empty") << "N"
                                 << "5"
                                 << "" << kCheckDeviceText;
    QTest::newRow("number 255, same as another") << "N"
                                                 << "255"
                                                 << "0"
                                                 << "";
  }
  void NewDevice() {
    QFETCH(QString, name);
    QFETCH(QString, number);
    QFETCH(QString, from);
    QFETCH(QString, message);
    prompts.devices = {DeviceAnswer([&](DeviceFields& f) {
      f.Name = name.toStdString();
      f.Number = number.toStdString();
      f.From = from.toStdString();
      f.To = "9";  // not read for a new device
      f.ProgID = "Opc.1";
    })};
    editor->AddDevice(S());
    QCOMPARE(prompts.captions.at(0), std::string(kNewDeviceCaption));
    const DeviceFields& proposed = prompts.proposedDevices.at(0);
    QCOMPARE(proposed.Name, std::string("Устройство"));
    QCOMPARE(proposed.Number, std::string("1"));
    QCOMPARE(proposed.From, std::string("0"));
    QCOMPARE(proposed.To, std::string());
    QVERIFY(proposed.Answer);
    QCOMPARE(prompts.errors.empty() ? QString() : QString::fromStdString(prompts.errors[0]),
             message);
    QCOMPARE(S()->Devices().Count(), message.isEmpty() ? 3 : 2);
    if (message.isEmpty()) {
      TDeviceClass* added = S()->Devices().Items(2);
      QCOMPARE(added->Name(), name.toStdString());
      QCOMPARE(added->ReplyTimeoutTo.load(), 0u);
      QCOMPARE(added->ProgID, std::string());
    }
  }

  void ExistingDevice_data() {
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");  // name number from to answers
    QTest::newRow("stopped") << false << "D"
                             << "5"
                             << "9"
                             << ""
                             << "D 9 5 9 no";
    QTest::newRow("to empty") << false << "D"
                              << "5"
                              << ""
                              << ""
                              << "D 9 5 0 no";
    QTest::newRow("running: answering only") << true << "D"
                                             << "5"
                                             << "9"
                                             << ""
                                             << "Dev 1 5 9 no";
    QTest::newRow("duplicate name") << false << "Other"
                                    << "5"
                                    << "9" << kDeviceExistsText << "Dev 1 0 0 yes";
    QTest::newRow("running: name not checked") << true << "Other"
                                               << "5"
                                               << "9"
                                               << ""
                                               << "Dev 1 5 9 no";
    QTest::newRow("to below from") << false << "D"
                                   << "5"
                                   << "4" << kCheckDeviceText << "Dev 1 0 0 yes";
    QTest::newRow("to not a number") << true << "D"
                                     << "5"
                                     << "x" << kCheckDeviceText << "Dev 1 0 0 yes";
  }
  void ExistingDevice() {
    QFETCH(bool, running);
    QFETCH(QString, name);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    prompts.devices = {DeviceAnswer([&](DeviceFields& f) {
      f.Name = name.toStdString();
      f.Number = "9";
      f.From = from.toStdString();
      f.To = to.toStdString();
      f.Answer = false;
    })};
    editor->EditDevice(Dev() ? Dev() : S()->Devices().Items(0), running);
    QCOMPARE(prompts.captions.at(0), std::string("Dev (1)"));
    QCOMPARE(prompts.errors.empty() ? QString() : QString::fromStdString(prompts.errors[0]),
             message);
    TDeviceClass* d = S()->Devices().Items(0);
    const QString got = QString("%1 %2 %3 %4 %5")
                            .arg(QString::fromStdString(d->Name()))
                            .arg(d->Number)
                            .arg(d->ReplyTimeout.load())
                            .arg(d->ReplyTimeoutTo.load())
                            .arg(d->NoReply ? "no" : "yes");
    QCOMPARE(got, expected);
  }

  void DeleteDeviceUsedByItsOwnScriptIsRefused() {
    editor->DeleteDevice(Dev());
    QCOMPARE(prompts.errors,
             std::vector<std::string>{"На тег S.Dev.G.Used имеются ссылки из скриптов"});
    QCOMPARE(DeviceNames(*S()), QStringList({"Dev", "Other"}));
    editor->DeleteDevice(Other());
    QCOMPARE(DeviceNames(*S()), QStringList({"Dev"}));
  }

  // ---- groups

  void Groups() {
    prompts.texts = {"G", "N", "H", "H2", "N"};
    editor->AddGroup(NodeObject::Of(Dev()));  // S.Dev.G exists
    QCOMPARE(prompts.errors, std::vector<std::string>{kGroupExistsText});
    editor->AddGroup(NodeObject::Of(G()));  // S.Dev.G.N
    QVERIFY(Dev()->FindGroup("S.Dev.G.N"));
    editor->EditGroup(Dev()->FindGroup("S.Dev.G.N"));  // to H: a sibling's name
    QCOMPARE(prompts.errors.size(), size_t(2));
    editor->EditGroup(H());  // H to H2: its tag follows
    QVERIFY(Tag("S.Dev.G.H2.Deep"));
    editor->EditGroup(Dev()->FindGroup("S.Dev.G.N"));  // unchanged name: allowed
    QCOMPARE(prompts.errors.size(), size_t(2));
    QCOMPARE(GroupNames(Dev()->RootGroup()), QStringList({"G", "-H2", "-N"}));
  }

  void DeleteGroupUsedByScriptsAsksAndLists() {
    prompts.yes = true;
    editor->DeleteGroup(G());
    QCOMPARE(prompts.questions,
             std::vector<std::string>{"Переменная S.Dev.G.Used используется в скриптах!\n\r"
                                      "Показать список регистров?"});
    QCOMPARE(prompts.lists, std::vector<std::vector<std::string>>{{"S.Dev.Scr"}});
    QVERIFY(G());
    editor->DeleteGroup(H());
    QVERIFY(!H());
    QVERIFY(!Tag("S.Dev.G.H.Deep"));
  }

  // ---- tags

  void AddTagNamesAndAddresses() {
    editor->AddTag(NodeObject::Of(G()));
    editor->AddTag(NodeObject::Of(G()));
    TModbusRegister* reg = Tag("S.Dev.G.Reg");
    TModbusRegister* reg1 = Tag("S.Dev.G.Reg_1");
    QVERIFY(reg && reg1);
    QCOMPARE(reg->Addr, uint16_t(4));  // after Scr at 3
    QCOMPARE(reg1->Addr, uint16_t(5));
  }

  void DeleteTagsSkipsUsedOnes() {
    prompts.yes = false;
    const EditOutcome outcome =
        editor->DeleteTags(NodeObject::Of(G()), {Tag("S.Dev.G.Used"), Tag("S.Dev.G.H.Deep")});
    QVERIFY(outcome.TagListChanged);
    QCOMPARE(prompts.questions.size(), size_t(1));
    QVERIFY(prompts.lists.empty());
    QCOMPARE(Names(*Dev()), QStringList({"S.Dev.Top", "S.Dev.G.Used", "S.Dev.Scr"}));
  }

  void DuplicateEmptiesTheClipboardKeepingTheMode() {
    editor->CopyTags({Tag("S.Dev.Top")});
    const EditOutcome outcome = editor->Duplicate(NodeObject::Of(Dev()), {Tag("S.Dev.Top")});
    QCOMPARE(outcome.ShowTag, Tag("S.Dev.Top_1"));
    QCOMPARE(editor->ClipboardCount(), 0);
    QVERIFY(!editor->Paste(NodeObject::Of(Dev())).TagListChanged);
  }

  // ---- clipboard

  void CutTagsPastedBackGetNewNames() {
    editor->CutTags({Tag("S.Dev.G.Used"), Tag("S.Dev.G.H.Deep")});
    QCOMPARE(editor->Mode(), ClipboardMode::Cut);
    QVERIFY(Tag("S.Dev.G.Used"));  // stays until pasted
    editor->Paste(NodeObject::Of(G()));
    QCOMPARE(Names(*Dev()),
             QStringList({"S.Dev.Top", "S.Dev.Scr", "S.Dev.G.Used_1", "S.Dev.G.Deep"}));
    QCOMPARE(editor->Mode(), ClipboardMode::None);
    // The script still reads the moved tag.
    QCOMPARE(Tag("S.Dev.G.Used_1")->ScriptUsers().Count(), 1);
  }

  void CopiedTagsPasteIntoAnotherDevice() {
    editor->CopyTags({Tag("S.Dev.Top"), Tag("T.Dev2.X")});
    const EditOutcome outcome = editor->Paste(NodeObject::Of(Other()));
    QCOMPARE(Names(*Other()), QStringList({"S.Other.Top", "S.Other.X"}));
    QCOMPARE(outcome.ShowTag, Tag("S.Other.X"));
    QCOMPARE(editor->ClipboardCount(), 0);
  }

  void GroupPastedIntoItsOwnSubgroupIsCopiedOnce() {
    editor->CopyNode(NodeObject::Of(G()));
    editor->Paste(NodeObject::Of(H()));
    QCOMPARE(GroupNames(Dev()->RootGroup()), QStringList({"G", "-H", "--G", "---H"}));
    QVERIFY(Tag("S.Dev.G.H.G.Used"));
    QVERIFY(Tag("S.Dev.G.H.G.H.Deep"));
    // Clipboard and mode stay: a second paste copies again.
    editor->Paste(NodeObject::Of(Other()));
    QCOMPARE(GroupNames(Other()->RootGroup()), QStringList({"G", "-H", "--G", "---H"}));
  }

  void CutGroupMovesToAnotherDevice() {
    editor->CutNode(NodeObject::Of(G()));
    QVERIFY(!G());
    QCOMPARE(Names(*Dev()), QStringList({"S.Dev.Top", "S.Dev.Scr"}));
    editor->Paste(NodeObject::Of(Other()));
    QCOMPARE(Names(*Other()), QStringList({"S.Other.G.Used", "S.Other.G.H.Deep"}));
    QCOMPARE(editor->ClipboardCount(), 0);
  }

  void DevicePastedTwiceGetsNumberedNames() {
    editor->CopyNode(NodeObject::Of(Dev()));
    editor->Paste(NodeObject::Of(S()));
    editor->Paste(NodeObject::Of(S()));
    QCOMPARE(DeviceNames(*S()), QStringList({"Dev", "Other", "Dev_1", "Dev_2"}));
    // The copy's script reads the copy's tag.
    QCOMPARE(Tag("S.Dev_2.G.Used")->ScriptUsers().Count(), 1);
    QCOMPARE(Tag("S.Dev_2.G.Used")->ScriptUsers().Items(0)->FullName(), std::string("S.Dev_2.Scr"));
  }

  void CutDeviceIsPastedAsACopy() {
    editor->CutNode(NodeObject::Of(Other()));
    QCOMPARE(DeviceNames(*S()), QStringList({"Dev"}));
    editor->Paste(NodeObject::Of(T()));
    editor->Paste(NodeObject::Of(T()));
    QCOMPARE(DeviceNames(*T()), QStringList({"Dev2", "Other", "Other_1"}));
  }

  void PasteDoesNothing_data() {
    QTest::addColumn<QString>("before");
    QTest::newRow("empty clipboard") << "empty";
    QTest::newRow("server in the clipboard") << "server";
    QTest::newRow("copied tag deleted") << "tag";
    QTest::newRow("copied device deleted") << "device";
    QTest::newRow("copied group deleted") << "group";
    QTest::newRow("server of the copied group deleted") << "server of group";
    QTest::newRow("device of cut tags deleted") << "device of cut tags";
    QTest::newRow("new project") << "reset";
  }
  void PasteDoesNothing() {
    QFETCH(QString, before);
    if (before == "server") editor->CopyNode(NodeObject::Of(T()));
    if (before == "tag") {
      editor->CopyTags({Tag("S.Dev.Top")});
      editor->DeleteTags(NodeObject::Of(Dev()), {Tag("S.Dev.Top")});
    }
    if (before == "device") {
      editor->CopyNode(NodeObject::Of(Other()));
      editor->DeleteDevice(Other());
    }
    if (before == "group") {
      editor->CopyNode(NodeObject::Of(H()));
      editor->DeleteGroup(H());
    }
    if (before == "server of group") {
      editor->CopyNode(NodeObject::Of(H()));
      editor->DeleteServer(S());
    }
    if (before == "device of cut tags") {
      editor->CutTags({Tag("T.Dev2.X")});
      editor->DeleteServer(T());
    }
    if (before == "reset") {
      editor->CopyNode(NodeObject::Of(Other()));
      editor->Reset();
    }
    const int servers = session.Servers().Count();
    const int tags = Registry().Count();
    const QStringList devices = S() ? DeviceNames(*S()) : QStringList();
    for (const NodeObject& node :
         {NodeObject::Root(), NodeObject::Of(S()), NodeObject::Of(Dev())}) {
      if (!node.Object() && node.Kind != NodeKind::Root) continue;
      const EditOutcome outcome = editor->Paste(node);
      QVERIFY(!outcome.TreeChanged && !outcome.TagListChanged);
    }
    QCOMPARE(session.Servers().Count(), servers);
    QCOMPARE(Registry().Count(), tags);
    QCOMPARE(S() ? DeviceNames(*S()) : QStringList(), devices);
  }

  // An object deleted behind the editor's back (the tag editor, say) is found gone at paste.
  void PasteAfterAnOutsideDeleteLooksTheObjectUp() {
    editor->CopyNode(NodeObject::Of(Other()));
    S()->Devices().Remove(Other());
    QCOMPARE(editor->ClipboardCount(), 0);
    QVERIFY(!editor->Paste(NodeObject::Of(S())).TreeChanged);
  }

  // ---- order

  void MoveUpAndDown() {
    TModbusTCPServer* t = T();
    editor->Move(NodeObject::Of(t), true);
    QCOMPARE(session.Servers().Items(0), t);
    QVERIFY(!editor->Move(NodeObject::Of(t), true).TreeChanged);     // first already
    QVERIFY(!editor->Move(NodeObject::Of(S()), false).TreeChanged);  // last already
    editor->Move(NodeObject::Of(Dev()), false);
    QCOMPARE(DeviceNames(*S()), QStringList({"Other", "Dev"}));
    editor->AddGroup(NodeObject::Of(Dev()));  // "Отмена": nothing
    prompts.texts = {"A"};
    editor->AddGroup(NodeObject::Of(Dev()));
    const EditOutcome outcome = editor->Move(NodeObject::Of(Dev()->FindGroup("S.Dev.A")), true);
    QCOMPARE(outcome.SelectObject, static_cast<const void*>(Dev()->FindGroup("S.Dev.A")));
    QCOMPARE(GroupNames(Dev()->RootGroup()), QStringList({"A", "G", "-H"}));
  }

  // ---- templates

  void Templates() {
    QTemporaryDir dir;
    prompts.savePath = dir.filePath("dev.tmpl").toStdString();
    editor->SaveTemplate(Dev());
    prompts.openPath = prompts.savePath;
    editor->AddFromTemplate(T());
    QCOMPARE(DeviceNames(*T()), QStringList({"Dev2", "Dev"}));
    QVERIFY(Tag("T.Dev.G.H.Deep"));
    // A file with no top-level node.
    QFile empty(dir.filePath("empty.tmpl"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    prompts.openPath = empty.fileName().toStdString();
    const EditOutcome outcome = editor->AddFromTemplate(T());
    QCOMPARE(prompts.infos, std::vector<std::string>{kBadTemplateText});
    QVERIFY(!outcome.TreeChanged);
    // Cancelled dialogs do nothing.
    prompts.openPath.clear();
    QVERIFY(!editor->AddFromTemplate(T()).TreeChanged);
  }

  void ParseIntegerTable_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qlonglong>("value");
    QTest::newRow("plain") << "42" << true << 42LL;
    QTest::newRow("signed") << "-7" << true << -7LL;
    QTest::newRow("plus") << "+7" << true << 7LL;
    QTest::newRow("empty") << "" << false << 0LL;
    QTest::newRow("blank") << " 1" << false << 0LL;
    QTest::newRow("trailing") << "1x" << false << 0LL;
    QTest::newRow("sign only") << "-" << false << 0LL;
    QTest::newRow("overflow") << "99999999999999999999" << false << 0LL;
  }
  void ParseIntegerTable() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qlonglong, value);
    const auto parsed = ParseInteger(text.toStdString());
    QCOMPARE(parsed.has_value(), ok);
    if (ok) QCOMPARE(qlonglong(*parsed), value);
  }
};

QTEST_GUILESS_MAIN(TreeEditingTest)
#include "TreeEditingTest.moc"
