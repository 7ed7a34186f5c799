#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "project/ProjectFile.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const char* name) { return std::string(VELKOR_PROJECT_FIXTURES "/") + name; }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Typed(const Variant& v) {
  return std::string(VarTypeName(v.Type())) + ":" + v.ToString();
}

std::string Registers(const TModbusRegister& tag) {
  std::vector<uint8_t> bytes(size_t(tag.RegisterCount()) * 2);
  if (!bytes.empty())
    tag.Device()->Space().ReadBlock(tag.Addr, uint16_t(tag.RegisterCount()), tag.mSpace,
                                    bytes.data());
  std::string hex;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, hex.empty() ? "%02X" : " %02X", b);
    hex += buf;
  }
  return hex;
}

void DescribeGroup(const TGroupClass& group, std::vector<std::string>& out) {
  out.push_back("group " + group.FullName());
  for (const auto& child : group.Children()) DescribeGroup(*child, out);
}

// What a project holds, as seen through the model (not through the file), so that a round
// trip is checked independently of the writer.
std::vector<std::string> Describe(const Project& project) {
  std::vector<std::string> out;
  for (const auto& server : project.Servers) {
    std::ostringstream s;
    s << "server " << server->Name() << " port=" << server->Port << " desc=" << server->Desc
      << " mode=" << server->Mode << " baud=" << server->BAUD << " parity=" << int(server->PARITY)
      << " stops=" << int(server->STOPS) << " bits=" << int(server->BITS)
      << " interval=" << server->INTERVAL << " port=" << server->COMMPORT;
    out.push_back(s.str());
    for (const auto& device : server->Devices()) {
      std::ostringstream d;
      d << "device " << device->FullName() << " n=" << int(device->Number)
        << " desc=" << device->Description << " prog=" << device->ProgID
        << " noreply=" << device->NoReply << " timeout=" << device->ReplyTimeout << ".."
        << device->ReplyTimeoutTo << " merge=" << device->Space().BitsMerge
        << device->Space().RegsMerge;
      out.push_back(d.str());
      DescribeGroup(device->RootGroup(), out);
      for (const auto& tag : device->Tags()) {
        std::ostringstream t;
        t << "tag " << tag->FullName()
          << " group=" << (tag->Group() ? tag->Group()->FullName() : "-") << " " << tag->TypeName()
          << " @" << tag->AddressText() << " space=" << int(tag->mSpace)
          << " fmt=" << int(tag->DataFormat) << " work=" << int(tag->WorkType)
          << " period=" << tag->Period << " percent=" << tag->Percent
          << " desc=" << tag->Description << " const=" << tag->ConstGroupName
          << " value=" << Typed(tag->GetValue()) << " def=" << Typed(tag->DefValue)
          << " space=" << Typed(tag->ReadTagFromSpace()) << " regs=" << Registers(*tag);
        switch (tag->WorkType) {
          case kWorkIncrement:
            t << " step=" << Typed(tag->IncDec);
            break;
          case kWorkRandom:
            t << " min=" << Typed(tag->Min) << " max=" << Typed(tag->Max);
            break;
          case kWorkSine:
            t << " sin=" << Typed(tag->Sin.Amplitude) << "/" << tag->Sin.Period << "/"
              << Typed(tag->Sin.Offset);
            break;
          case kWorkSaw:
            t << " saw=" << Typed(tag->Pila.Amplitude) << "/" << tag->Pila.Period << "/"
              << Typed(tag->Pila.Offset) << "/" << int(tag->Pila.pType);
            break;
          case kWorkScript: {
            const TScriptClass& script = tag->Script();
            for (const auto* text : {&script.ExecuteText, &script.StartText, &script.StopText}) {
              t << " [";
              for (const std::string& line : *text) t << line << "|";
              t << "]";
            }
            for (int i = 0; i < script.VariableCount(); ++i)
              t << " " << script.VariableNames()[size_t(i)] << "->"
                << script.VariableTags().Items(i)->FullName();
            break;
          }
          case kWorkOPC:
            t << " opc=" << tag->ProgID << "/" << tag->OPCItem << "/" << int(tag->OPCUse);
            break;
        }
        out.push_back(t.str());
      }
    }
  }
  for (int i = 0; i < project.ConstGroups.Count(); ++i) {
    const TConstGroup& group = *project.ConstGroups.Items(i);
    std::string line = "constgroup " + group.Name;
    for (int j = 0; j < group.Count(); ++j)
      line += " " + group.Items(j)->Name + "=" + group.Items(j)->Value;
    out.push_back(line);
  }
  for (int i = 0; i < project.Functions.Count(); ++i) {
    const TFunction& function = *project.Functions.Items(i);
    std::string line = "function " + function.HeaderLine() +
                       " extern=" + std::to_string(function.Extern) + " path=" + function.ExtPath +
                       " conv=" + std::to_string(function.Convention) + " [";
    for (const std::string& text : function.Text) line += text + "|";
    out.push_back(line + "]");
  }
  return out;
}

class ProjectFileTest : public ::testing::Test {
 protected:
  ProjectFileTest() {
    std::string pattern = ::testing::TempDir() + "velkor-project-XXXXXX";
    dir = mkdtemp(pattern.data());
  }
  ~ProjectFileTest() override {
    for (Project* p : {&project, &loaded}) p->Reset();
    fs::remove_all(dir);
    EXPECT_EQ(Registry().Count(), 0) << "a test leaked tags";
  }

  static TModbusTCPServer* AddServer(Project& p, const char* name) {
    auto server = std::make_unique<TModbusTCPServer>();
    server->SetName(name);
    return p.Servers.Add(std::move(server));
  }
  static TDeviceClass* AddDevice(TModbusTCPServer* server, const char* name, uint8_t number = 1) {
    auto device = std::make_unique<TDeviceClass>();
    device->SetName(name);
    device->Number = number;
    return server->Devices().Add(std::move(device));
  }
  static TGroupClass* AddGroup(TDeviceClass* device, const char* name,
                               TGroupClass* parent = nullptr) {
    return device->AddGroup(std::make_unique<TGroupClass>(name, parent));
  }
  // A tag set up as the tag editor leaves it: parameters and default value of its type.
  static TModbusRegister* AddTag(TDeviceClass* device, const char* name, uint16_t type,
                                 uint16_t addr, const Variant& value, TGroupClass* group = nullptr,
                                 const std::function<void(TModbusRegister&)>& setup = {}) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(name);
    tag->SetType(type);
    tag->Addr = addr;
    tag->DataFormat = tag->Type() == VarType::String || tag->RegisterCount() < 2 ? 2
                      : tag->RegisterCount() == 2                                ? 4
                                                                                 : 8;
    tag->SetRegsCount(2);
    if (setup) setup(*tag);
    tag->ConvertParams();
    TModbusRegister* added = device->AddTag(std::move(tag), group);
    added->SetValue(value);
    if (added->DefValue.Type() != added->Type())
      added->DefValue = added->DefValue.ConvertTo(added->Type());
    return added;
  }

  // Every kind of server, device, group, tag type and behaviour, with Cyrillic names.
  void BuildRichProject() {
    TModbusTCPServer* tcp = AddServer(project, "Сервер 1");
    tcp->Port = 5020;
    tcp->Desc = "Первый <цех> & склад";
    TDeviceClass* boiler = AddDevice(tcp, "Котёл", 3);
    boiler->Description = "Котёл №1";
    boiler->ProgID = "OPC.Sim.1";
    boiler->NoReply = true;
    boiler->ReplyTimeout = 10;
    boiler->ReplyTimeoutTo = 3000000000u;  // above the signed 32-bit range of the file
    boiler->Space().BitsMerge = true;
    TGroupClass* group = AddGroup(boiler, "Группа");
    TGroupClass* nested = AddGroup(boiler, "Вложенная", group);
    AddGroup(boiler, "Пустая");

    temperature = AddTag(boiler, "Температура", 18, 1, 1234, group, [](TModbusRegister& t) {
      t.ConstGroupName = "Режимы";
      t.Description = "  с пробелами  ";
      t.DefValue = Variant::OfWord(7);
    });
    AddTag(boiler, "Давление", 4, 2, 0.1, group, [](TModbusRegister& t) {
      t.DataFormat = 5;
      t.WorkType = kWorkSine;
      t.Sin.Amplitude = 2.5;
      t.Sin.Period = 1000;
      t.Sin.Offset = 10;
      t.Percent = 1.5f;
    });
    AddTag(boiler, "Пила", 2, 4, -2, nullptr, [](TModbusRegister& t) {
      t.WorkType = kWorkSaw;
      t.Pila.Amplitude = 100;
      t.Pila.Period = 2000;
      t.Pila.Offset = -5;
      t.Pila.pType = kSawRampDown;
      t.Period = 250;
    });
    AddTag(boiler, "Счёт", 3, 5, -100000, nested, [](TModbusRegister& t) {
      t.DataFormat = 6;
      t.WorkType = kWorkIncrement;
      t.IncDec = 3;
    });
    AddTag(boiler, "Случай", 19, 7, int64_t(4000000000), nested, [](TModbusRegister& t) {
      t.WorkType = kWorkRandom;
      t.Min = 10;
      t.Max = int64_t(4000000000);
      t.mSpace = kInputRegs;
    });
    AddTag(boiler, "OPC", 20, 9, int64_t(-9000000000000000), nullptr, [](TModbusRegister& t) {
      t.DataFormat = 11;
      t.WorkType = kWorkOPC;
      t.ProgID = "Matrikon.OPC";
      t.OPCItem = "Random.Int4";
      t.OPCUse = 1;
    });
    AddTag(boiler, "Двойное", 5, 13, 3.25, nested);
    AddTag(boiler, "Дата", 7, 17, Variant::OfDateTime(EncodeOleDate(2024, 2, 29, 13, 5, 7)),
           nullptr, [](TModbusRegister& t) {
             t.DefValue = Variant::OfDateTime(EncodeOleDate(2024, 3, 1));  // exact midnight
           });
    AddTag(boiler, "Бит", 11, 21, true, group, [](TModbusRegister& t) {
      t.BitAddr = 3;
      t.DefValue = true;
    });
    AddTag(boiler, "Катушка", 11, 7, true, nullptr, [](TModbusRegister& t) {
      t.mSpace = kCoils;
      t.DataFormat = 1;
    });
    AddTag(boiler, "Строка", 256, 30, "ABCDE", nullptr, [](TModbusRegister& t) {
      t.SetRegsCount(3);
      t.DataFormat = 1;
    });
    AddTag(boiler, "Пустая строка", 256, 40, "", nullptr,
           [](TModbusRegister& t) { t.DefValue = ""; });

    TDeviceClass* pump = AddDevice(tcp, "Насос", 4);
    TModbusRegister* flow = AddTag(pump, "Расход", 18, 0, 42);
    TModbusRegister* script = AddTag(boiler, "Скрипт", 18, 50, 5, nested, [](TModbusRegister& t) {
      t.WorkType = kWorkScript;
      t.Script().ExecuteText = {"begin", "  x := y + 1; // <>&", "   ", "end;"};
      t.Script().StartText = {"// старт", "begin", "end;"};
    });
    script->Script().BindVariable(temperature, "y");
    script->Script().BindVariable(flow, "Расход");

    TModbusTCPServer* rtu = AddServer(project, "RTU");
    rtu->Mode = false;
    rtu->BAUD = 19200;
    rtu->PARITY = 1;
    rtu->STOPS = 2;
    rtu->BITS = 7;
    rtu->INTERVAL = 50;
    rtu->COMMPORT = "/dev/ttyUSB0";
    TDeviceClass* meter = AddDevice(rtu, "Счётчик", 1);
    TModbusRegister* count = AddTag(meter, "Счёт", 18, 0, 1);
    TModbusRegister* user = AddTag(meter, "Копия", 18, 1, 2, nullptr,
                                   [](TModbusRegister& t) { t.WorkType = kWorkScript; });
    user->Script().BindVariable(count, "c");

    auto modes = std::make_unique<TConstGroup>("Режимы");
    modes->Add(std::make_unique<TConstClass>("Пуск", "1"));
    modes->Add(std::make_unique<TConstClass>("Стоп", "0"));
    project.ConstGroups.Add(std::move(modes));
    project.ConstGroups.Add(std::make_unique<TConstGroup>(""));

    auto add = std::make_unique<TFunction>();
    add->Name = "Add";
    add->RetType = VarType::Double;
    add->Extern = true;
    add->ExtPath = "C:\\Lib\\math.dll";
    add->Convention = 2;
    add->Text = {"begin", "  Result := a + b;", "end;"};
    for (const char* name : {"a", "b"}) {
      auto param = std::make_unique<TFuncParam>();
      param->Name = name;
      param->Type = VarType::Integer;
      add->Params.Add(std::move(param));
    }
    project.Functions.Add(std::move(add));
    auto plain = std::make_unique<TFunction>();
    plain->Name = "Ноль";
    project.Functions.Add(std::move(plain));
  }

  // Loads a project of one server, one device and one tag made of these elements.
  TModbusRegister* LoadTag(const std::string& elements) {
    LoadProjectText(loaded, "<Servers><Server><Name>S</Name><Device><Name>D</Name><Register>" +
                                elements + "</Register></Device></Server></Servers>");
    return loaded.Servers.Items(loaded.Servers.Count() - 1)->Devices().Items(0)->Tags().Items(0);
  }

  static std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const VelkorError& e) {
      return e.what();
    }
    return "(no error)";
  }

  Project project, loaded;
  std::string dir;
  TModbusRegister* temperature = nullptr;
};

// ---------------------------------------------------------------- round trips

TEST_F(ProjectFileTest, TextRoundTripGivesBackTheSameProject) {
  BuildRichProject();
  const std::string text = ProjectText(project);
  LoadProjectText(loaded, text);

  EXPECT_EQ(Describe(loaded), Describe(project));
  EXPECT_EQ(ProjectText(loaded), text);
  EXPECT_TRUE(loaded.Pending.empty());
  EXPECT_EQ(loaded.DeviceCount(), 3);
  EXPECT_EQ(loaded.TagCount(), project.TagCount());

  // Bindings lead to the loaded project's own tags and make the script their user.
  TDeviceClass* boiler = loaded.Servers.Items(0)->Devices().Items(0);
  const TModbusRegister* script =
      boiler->Tags().FindByFullName("Сервер 1.Котёл.Группа.Вложенная.Скрипт");
  ASSERT_NE(script, nullptr);
  ASSERT_EQ(script->Script().VariableCount(), 2);
  const TModbusRegister* used = script->Script().VariableTags().Items(0);
  EXPECT_EQ(used->Device(), boiler);
  EXPECT_EQ(used->ScriptUsers().Count(), 1);

  const TModbusRegister* pila = boiler->Tags().FindByFullName("Сервер 1.Котёл.Пила");
  EXPECT_EQ(pila->Pila.Amplitude.ToString(), "100");
  EXPECT_EQ(pila->Pila.Offset.ToString(), "-5");
  EXPECT_TRUE(pila->LastOPCValue.SameAs(pila->GetValue()));
}

TEST_F(ProjectFileTest, FileRoundTripWritesTheTextAndReadsItBack) {
  BuildRichProject();
  const std::string path = dir + "/Проект.xml";
  SaveProject(project, path);
  EXPECT_EQ(ReadBytes(path), ProjectText(project));
  LoadProject(loaded, path);
  EXPECT_EQ(Describe(loaded), Describe(project));
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"Проект.xml"});  // no temporary left
}

TEST_F(ProjectFileTest, WriterLayoutIsExact) {
  TModbusTCPServer* server = AddServer(project, "Сервер");
  server->Port = 502;
  TDeviceClass* device = AddDevice(server, "Устройство");
  TGroupClass* group = AddGroup(device, "Группа");
  TModbusRegister* tag = AddTag(device, "Тег", 18, 0, 5, group);
  TModbusRegister* script = AddTag(device, "Скрипт", 18, 1, 0, nullptr, [](TModbusRegister& t) {
    t.WorkType = kWorkScript;
    t.Script().ExecuteText = {"  x<>y", ""};
    t.Script().StartText = {};
    t.Script().StopText = {"end;"};
  });
  script->Script().BindVariable(tag, "b");
  auto modes = std::make_unique<TConstGroup>("Режимы");
  modes->Add(std::make_unique<TConstClass>("Пуск", "1"));
  project.ConstGroups.Add(std::move(modes));
  auto function = std::make_unique<TFunction>();
  function->Name = "F";
  auto param = std::make_unique<TFuncParam>();
  param->Name = "a";
  param->Type = VarType::Integer;
  function->Params.Add(std::move(param));
  project.Functions.Add(std::move(function));

  const std::string expected =
      "<Servers>\n\r<Server>\n\r<Name>Сервер</Name>\n\r<Port>502</Port>\n\r<Desc/>\n\r"
      "<Mode>true</Mode>\n\r<BAUD>9600</BAUD>\n\r<PARITY>0</PARITY>\n\r<STOPS>0</STOPS>\n\r"
      "<BITS>8</BITS>\n\r<INTERVAL>40</INTERVAL>\n\r<COMMPORT>COM1</COMMPORT>\n\r"
      "<Device>\n\r<Name>Устройство</Name>\n\r<Number>1</Number>\n\r<Description/>\n\r"
      "<NoReply>false</NoReply>\n\r<ReplyTimeout>0</ReplyTimeout>\n\r"
      "<ReplyTimeoutTo>0</ReplyTimeoutTo>\n\r<BitsMerge>false</BitsMerge>\n\r"
      "<RegsMerge>false</RegsMerge>\n\r<ProgID/>\n\r"
      "<Groups>\n\r<Items>\n\r<Name>MainGroup</Name>\n\r<Items>\n\r<Name>Группа</Name>\n\r"
      "</Items>\n\r</Items>\n\r</Groups>\n\r"
      "<Register>\n\r<Name>Тег</Name>\n\r<Addr>0</Addr>\n\r<BitAddr>0</BitAddr>\n\r"
      "<vType>18</vType>\n\r<Description/>\n\r<mSpace>0</mSpace>\n\r<ConstGroupName/>\n\r"
      "<Group>Сервер.Устройство.Группа</Group>\n\r<WorkType>2</WorkType>\n\r"
      "<DataFormat>2</DataFormat>\n\r<Percent>0</Percent>\n\r<Period>100</Period>\n\r"
      "<RegFullName>Сервер.Устройство.Группа.Тег</RegFullName>\n\r<RegsCount>1</RegsCount>\n\r"
      "<Value>5</Value>\n\r<DefValue>0</DefValue>\n\r</Register>\n\r"
      "<Register>\n\r<Name>Скрипт</Name>\n\r<Addr>1</Addr>\n\r<BitAddr>0</BitAddr>\n\r"
      "<vType>18</vType>\n\r<Description/>\n\r<mSpace>0</mSpace>\n\r<ConstGroupName/>\n\r"
      "<Group/>\n\r<Script>\n\r<Line>  x&lt;&gt;y</Line>\n\r<Line/>\n\r</Script>\n\r"
      "<ScriptStart/>\n\r<ScriptStop>\n\r<Line>end;</Line>\n\r</ScriptStop>\n\r"
      "<RegVals>\n\r<RegVal>\n\r<RegFullName>Сервер.Устройство.Группа.Тег</RegFullName>\n\r"
      "<ValName>b</ValName>\n\r</RegVal>\n\r</RegVals>\n\r<WorkType>5</WorkType>\n\r"
      "<DataFormat>2</DataFormat>\n\r<Percent>0</Percent>\n\r<Period>100</Period>\n\r"
      "<RegFullName>Сервер.Устройство.Скрипт</RegFullName>\n\r<RegsCount>1</RegsCount>\n\r"
      "<Value>0</Value>\n\r<DefValue>0</DefValue>\n\r</Register>\n\r"
      "</Device>\n\r</Server>\n\r"
      "<CONSTGROUPS>\n\r<CONSTGROUP>\n\r<Name>Режимы</Name>\n\r<CONST>\n\r<NAME>Пуск</NAME>\n\r"
      "<VALUE>1</VALUE>\n\r</CONST>\n\r</CONSTGROUP>\n\r</CONSTGROUPS>\n\r"
      "<FUNCTIONS>\n\r<FUNCTION>\n\r<Name>F</Name>\n\r<Extern>false</Extern>\n\r<ExtPath/>\n\r"
      "<RetType>18</RetType>\n\r<Convention>3</Convention>\n\r"
      "<Script>\n\r<Line>begin</Line>\n\r<Line>end;</Line>\n\r</Script>\n\r"
      "<Params>\n\r<Param>\n\r<Name>a</Name>\n\r<Type>3</Type>\n\r</Param>\n\r</Params>\n\r"
      "</FUNCTION>\n\r</FUNCTIONS>\n\r</Servers>";
  EXPECT_EQ(ProjectText(project), expected);
}

TEST_F(ProjectFileTest, EmptyProjectStillWritesConstantsAndFunctions) {
  EXPECT_EQ(ProjectText(project), "<Servers>\n\r<CONSTGROUPS/>\n\r<FUNCTIONS/>\n\r</Servers>");
}

// The two faults of older readers: a String tag lost its byte order, and an empty text
// came back as "0".
TEST_F(ProjectFileTest, StringTagKeepsItsByteOrderAndItsEmptyText) {
  TDeviceClass* device = AddDevice(AddServer(project, "S"), "D");
  AddTag(device, "Текст", 256, 0, "ABCD", nullptr, [](TModbusRegister& t) { t.DataFormat = 1; });
  AddTag(device, "Пусто", 256, 2, "", nullptr, [](TModbusRegister& t) { t.DefValue = ""; });
  LoadProjectText(loaded, ProjectText(project));

  const TOwningRegsList& tags = loaded.Servers.Items(0)->Devices().Items(0)->Tags();
  EXPECT_EQ(tags.Items(0)->DataFormat, 1);
  EXPECT_EQ(Registers(*tags.Items(0)), "41 42 43 44");
  EXPECT_EQ(tags.Items(0)->GetValue().ToString(), "ABCD");
  EXPECT_TRUE(tags.Items(1)->GetValue().SameAs(Variant("")));
  EXPECT_TRUE(tags.Items(1)->DefValue.SameAs(Variant("")));

  // A missing element still takes the default.
  EXPECT_EQ(LoadTag("<vType>256</vType><RegsCount>2</RegsCount>")->GetValue().ToString(), "0");
}

// ---------------------------------------------------------------- tolerant reading

TEST_F(ProjectFileTest, EdgeCaseFixtureLoadsAsDocumented) {
  LoadProject(loaded, Fixture("edge_cases.xml"));
  ASSERT_EQ(loaded.Servers.Count(), 3);  // the Server inside an unknown element is ignored
  const TModbusTCPServer& line = *loaded.Servers.Items(0);
  const TModbusTCPServer& second = *loaded.Servers.Items(1);
  const TModbusTCPServer& rtu = *loaded.Servers.Items(2);
  EXPECT_EQ(line.Name(), "Линия");
  EXPECT_EQ(line.Port, 503);    // missing
  EXPECT_TRUE(line.Mode);       // "TRUE"
  EXPECT_EQ(second.Port, 503);  // 70000 is out of range
  EXPECT_TRUE(second.Mode);     // "1"
  EXPECT_FALSE(rtu.Mode);       // "0"
  EXPECT_EQ(rtu.Port, 1502);
  EXPECT_EQ(rtu.BAUD, 19200);

  TDeviceClass& pump = *line.Devices().Items(0);
  EXPECT_EQ(pump.Number, 7);
  ASSERT_EQ(pump.Tags().Count(), 3);
  const TModbusRegister& script = *pump.Tags().Items(0);
  EXPECT_EQ(script.Type(), VarType::Word);  // vType "abc"
  EXPECT_EQ(script.GroupFullName(), "Линия.Насос.Группа");
  // Empty lines are dropped, leading blanks and a line of blanks are kept.
  EXPECT_EQ(script.Script().ExecuteText,
            (std::vector<std::string>{"begin", "  x := y;", " ", "end;"}));
  EXPECT_EQ(script.Script().StartText, TScriptClass::DefaultStartText());  // no Line
  EXPECT_EQ(script.Script().StopText, TScriptClass::DefaultStopText());    // no element
  // The reference into another server and the one to a missing tag are dropped; a
  // reference without ValName takes the all-zero GUID.
  EXPECT_EQ(script.Script().VariableNames(),
            (std::vector<std::string>{"y", "{00000000-0000-0000-0000-000000000000}"}));
  EXPECT_EQ(script.Script().VariableTags().Items(0), pump.Tags().Items(1));
  EXPECT_EQ(second.Devices().Items(0)->Tags().Items(0)->ScriptUsers().Count(), 0);
  EXPECT_TRUE(loaded.Pending.empty());

  const TModbusRegister& level = *pump.Tags().Items(1);
  EXPECT_EQ(Typed(level.Pila.Amplitude), "Double:10");
  EXPECT_EQ(Typed(level.Pila.Offset), "Double:3");
  EXPECT_EQ(level.Pila.Period, 2000u);
  EXPECT_EQ(level.Pila.pType, kSawRampUp);
  EXPECT_EQ(level.Period, 100);  // "abc"
  EXPECT_EQ(Typed(level.ReadTagFromSpace()), "Double:2.5");

  const TModbusRegister& untyped = *pump.Tags().Items(2);
  EXPECT_EQ(untyped.Addr, 0);  // 70000 is out of range
  EXPECT_EQ(Typed(untyped.GetValue()), "Word:0");

  ASSERT_EQ(loaded.ConstGroups.Count(), 1);
  const TConstGroup& group = *loaded.ConstGroups.Items(0);
  EXPECT_EQ(group.Name, "");
  ASSERT_EQ(group.Count(), 2);
  EXPECT_EQ(group.Items(0)->Name, "Пуск");
  EXPECT_EQ(group.Items(1)->Name, "");
  EXPECT_EQ(group.Items(1)->Value, "");

  ASSERT_EQ(loaded.Functions.Count(), 1);
  EXPECT_TRUE(loaded.Functions.Items(0)->Text.empty());  // Script without children
  EXPECT_EQ(loaded.Functions.Items(0)->Convention, 0);
}

TEST_F(ProjectFileTest, MissingElementsTakeTheFileDefaults) {
  LoadProjectText(loaded, "<Servers><Server><Device><Register/></Device></Server></Servers>");
  const TModbusTCPServer& server = *loaded.Servers.Items(0);
  EXPECT_EQ(server.Name(), "Server");
  EXPECT_EQ(server.Port, 503);
  EXPECT_TRUE(server.Mode);
  EXPECT_EQ(server.BAUD, 9600);
  EXPECT_EQ(server.BITS, 8);
  EXPECT_EQ(server.INTERVAL, 40);
  EXPECT_EQ(server.COMMPORT, "COM1");
  const TDeviceClass& device = *server.Devices().Items(0);
  EXPECT_EQ(device.Name(), "Device");
  EXPECT_EQ(device.Number, 1);
  const TModbusRegister& tag = *device.Tags().Items(0);
  EXPECT_EQ(tag.Name(), "Reg");
  EXPECT_EQ(tag.WorkType, kWorkManual);
  EXPECT_EQ(tag.Period, 100);
  EXPECT_EQ(tag.Group(), nullptr);
  EXPECT_EQ(Typed(tag.IncDec), "Word:0");  // the file's default, not a new tag's 1
  EXPECT_EQ(Typed(tag.GetValue()), "Word:0");
  EXPECT_FALSE(tag.HasScript());
}

struct ValueCase {
  const char* elements;
  const char* expected;  // type name and value text
};

class TagValueTest : public ProjectFileTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(TagValueTest, ConvertsTheTextToTheTagsType) {
  const TModbusRegister* tag = LoadTag(GetParam().elements);
  EXPECT_EQ(tag->TypeName() + "=" + tag->GetValue().ToString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TagValueTest,
    ::testing::Values(
        ValueCase{"<vType>abc</vType><Value>5</Value>", "Word=5"},
        ValueCase{"<vType>999</vType><Value>5</Value>", "Word=5"},
        ValueCase{"<Value>70000</Value>", "Word=0"},  // out of range: the default
        ValueCase{"<Value>x</Value>", "Word=0"},
        ValueCase{"<Value>2.5</Value>", "Word=2"},  // rounded half to even, as SetValue does
        ValueCase{"<vType>2</vType><Value>-2</Value>", "ShortInt=-2"},
        ValueCase{"<vType>19</vType><Value>4294967295</Value>", "DWord=4294967295"},
        ValueCase{"<vType>4</vType><Value>0.1</Value>", "Float=0.100000001490116"},
        ValueCase{"<vType>11</vType><Value>true</Value>", "Bool=True"},
        ValueCase{"<vType>11</vType><Value>True</Value>", "Bool=True"},
        ValueCase{"<vType>11</vType><Value>1</Value>", "Bool=True"},
        ValueCase{"<vType>11</vType><Value>FALSE</Value>", "Bool=False"},
        ValueCase{"<vType>11</vType><Value>abc</Value>", "Bool=False"},
        ValueCase{"<vType>11</vType>", "Bool=False"},
        ValueCase{"<vType>7</vType><Value>29.02.2024 13:05:07</Value>",
                  "DateTime=29.02.2024 13:05:07"},
        ValueCase{"<vType>7</vType><Value>01.03.2024</Value>", "DateTime=01.03.2024"},
        ValueCase{"<vType>7</vType><Value>45000.5</Value>", "DateTime=15.03.2023 12:00:00"},
        ValueCase{"<vType>7</vType><Value>31.02.2024</Value>", "DateTime=30.12.1899"},
        ValueCase{"<vType>256</vType><RegsCount>3</RegsCount><Value> Привет </Value>",
                  "String (3)= Привет "}));

struct FormatCase {
  uint16_t vType;
  int dataFormat;
};

class DefaultFormatTest : public ProjectFileTest,
                          public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DefaultFormatTest, MissingDataFormatFollowsTheType) {
  const TModbusRegister* tag = LoadTag("<vType>" + std::to_string(GetParam().vType) + "</vType>");
  EXPECT_EQ(tag->DataFormat, GetParam().dataFormat);
}

INSTANTIATE_TEST_SUITE_P(Types, DefaultFormatTest,
                         ::testing::Values(FormatCase{2, 2}, FormatCase{11, 2}, FormatCase{18, 2},
                                           FormatCase{256, 2}, FormatCase{3, 4}, FormatCase{4, 4},
                                           FormatCase{19, 4}, FormatCase{5, 8}, FormatCase{7, 8},
                                           FormatCase{20, 8}));

TEST_F(ProjectFileTest, DeclarationByteOrderMarkAndIndentationAreAccepted) {
  LoadProject(loaded, Fixture("declaration_bom.xml"));
  ASSERT_EQ(loaded.Servers.Count(), 1);
  const TModbusTCPServer& server = *loaded.Servers.Items(0);
  EXPECT_EQ(server.Name(), "Сервер");
  EXPECT_EQ(server.Port, 1502);
  const TModbusRegister& tag = *server.Devices().Items(0)->Tags().Items(0);
  EXPECT_EQ(tag.FullName(), "Сервер.Устройство.Тег");
  EXPECT_EQ(Typed(tag.GetValue()), "Integer:-5");
  EXPECT_EQ(Typed(tag.ReadTagFromSpace()), "Integer:-5");
}

TEST_F(ProjectFileTest, RootWithOnlyFunctionsLoadsThem) {
  LoadProjectText(loaded,
                  "<Servers><FUNCTIONS><FUNCTION><Name>Sum</Name><RetType>5</RetType><Script>"
                  "<Line>begin</Line><Line/><Line>  Result := a;</Line><Line>end;</Line></Script>"
                  "<Params><Param><Name>a</Name><Type>3</Type></Param></Params>"
                  "</FUNCTION></FUNCTIONS></Servers>");
  EXPECT_EQ(loaded.Servers.Count(), 0);
  ASSERT_EQ(loaded.Functions.Count(), 1);
  EXPECT_EQ(loaded.Functions.Items(0)->HeaderLine(), "function Sum( a:Integer; ):Double; ");
  EXPECT_EQ(loaded.Functions.Items(0)->Text,
            (std::vector<std::string>{"begin", "  Result := a;", "end;"}));
}

// ---------------------------------------------------------------- failures

struct BadFunctionCase {
  const char* functions;  // after a first, valid function A
  const char* message;
};

class BadFunctionTest : public ProjectFileTest,
                        public ::testing::WithParamInterface<BadFunctionCase> {};

TEST_P(BadFunctionTest, StopsTheLoadKeepingWhatWasRead) {
  const std::string text =
      "<Servers><Server><Name>S</Name><Device><Name>D</Name>"
      "<Register><Name>Used</Name></Register>"
      "<Register><Name>User</Name><WorkType>5</WorkType><RegFullName>S.D.User</RegFullName>"
      "<RegVals><RegVal><RegFullName>S.D.Used</RegFullName><ValName>u</ValName></RegVal>"
      "</RegVals></Register></Device></Server>"
      "<CONSTGROUPS><CONSTGROUP><Name>G</Name></CONSTGROUP></CONSTGROUPS>"
      "<FUNCTIONS><FUNCTION><Name>A</Name></FUNCTION>" +
      std::string(GetParam().functions) + "<FUNCTION><Name>Later</Name></FUNCTION></FUNCTIONS>" +
      "</Servers>";
  EXPECT_EQ(ErrorOf([&] { LoadProjectText(loaded, text); }), GetParam().message);
  EXPECT_EQ(loaded.TagCount(), 2);
  EXPECT_EQ(loaded.ConstGroups.Count(), 1);
  ASSERT_EQ(loaded.Functions.Count(), 1);
  EXPECT_EQ(loaded.Functions.Items(0)->Name, "A");

  // The references stay pending until the next resolution.
  TModbusRegister* user = loaded.Servers.Items(0)->Devices().Items(0)->Tags().Items(1);
  EXPECT_EQ(loaded.Pending.count(user), 1u);
  EXPECT_EQ(user->Script().VariableCount(), 0);
  ResolveScriptReferences(loaded);
  EXPECT_EQ(user->Script().VariableCount(), 1);
  EXPECT_TRUE(loaded.Pending.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, BadFunctionTest,
    ::testing::Values(
        BadFunctionCase{"<FUNCTION><Name>a b</Name></FUNCTION>", "Некоррктное имя функции"},
        BadFunctionCase{"<FUNCTION/>", "Некоррктное имя функции"},
        BadFunctionCase{"<FUNCTION><Name>a</Name></FUNCTION>",
                        "Функция с таким именем уже существует"},
        BadFunctionCase{"<FUNCTION><Name>P</Name><Params><Param><Name>x</Name></Param>"
                        "<Param><Name>X</Name></Param></Params></FUNCTION>",
                        "Параметр с таким именем уже существует"},
        BadFunctionCase{"<FUNCTION><Name>P</Name><Params><Param><Type>3</Type></Param>"
                        "</Params></FUNCTION>",
                        "Некоррктное имя функции"}));

TEST_F(ProjectFileTest, NotWellFormedTextLoadsNothingAndNamesTheLine) {
  const std::string text =
      "<Servers>\n\r<Server>\n\r<Name>Сервер</Name>\n\r<Device>\n\r<Name>Д</Nam>\n\r</Device>"
      "\n\r</Server>\n\r</Servers>";
  const std::string message = ErrorOf([&] { LoadProjectText(loaded, text); });
  EXPECT_NE(message.find("строке 5"), std::string::npos) << message;
  EXPECT_NE(message.find("mismatch"), std::string::npos) << message;
  EXPECT_EQ(loaded.Servers.Count(), 0);

  const std::string path = dir + "/плохой.xml";
  std::ofstream(path, std::ios::binary) << text;
  const std::string fromFile = ErrorOf([&] { LoadProject(loaded, path); });
  EXPECT_EQ(fromFile, path + ": " + message);
  EXPECT_EQ(loaded.Servers.Count(), 0);
}

TEST_F(ProjectFileTest, OtherRootLoadsNothing) {
  const std::string message = ErrorOf([&] {
    LoadProjectText(loaded, "\n\r<Project>\n\r<Server><Name>S</Name></Server></Project>");
  });
  EXPECT_NE(message.find("строке 2"), std::string::npos) << message;
  EXPECT_NE(message.find("Project"), std::string::npos) << message;
  EXPECT_NE(message.find("Servers"), std::string::npos) << message;
  EXPECT_EQ(loaded.Servers.Count(), 0);
}

TEST_F(ProjectFileTest, UnreadableFileReportsTheSystemError) {
  const std::string missing = dir + "/нет.xml";
  EXPECT_EQ(ErrorOf([&] { LoadProject(loaded, missing); }),
            "Не удалось открыть файл " + missing + ": " + std::strerror(ENOENT));
  EXPECT_EQ(ErrorOf([&] { LoadProject(loaded, dir); }),
            "Не удалось прочитать файл " + dir + ": " + std::strerror(EISDIR));
}

TEST_F(ProjectFileTest, ResetEmptiesEverything) {
  BuildRichProject();
  project.Pending[temperature].emplace_back("x", "y");
  project.Reset();
  EXPECT_EQ(project.Servers.Count(), 0);
  EXPECT_EQ(project.ConstGroups.Count(), 0);
  EXPECT_EQ(project.Functions.Count(), 0);
  EXPECT_TRUE(project.Pending.empty());
  EXPECT_EQ(Registry().Count(), 0);
}

// ---------------------------------------------------------------- saving

struct SaveFailureCase {
  const char* name;
  std::function<std::string(const std::string& dir)> target;  // prepares the directory
  int error;
};

class SaveFailureTest : public ProjectFileTest,
                        public ::testing::WithParamInterface<SaveFailureCase> {};

TEST_P(SaveFailureTest, LeavesEverythingAsItWas) {
  AddTag(AddDevice(AddServer(project, "S"), "D"), "T", 18, 0, 1);
  const std::string path = GetParam().target(dir);
  const std::vector<std::string> before = Entries(dir);
  EXPECT_EQ(ErrorOf([&] { SaveProject(project, path); }),
            "Не удалось записать файл " + path + ": " + std::strerror(GetParam().error));
  EXPECT_EQ(Entries(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Targets, SaveFailureTest,
                         ::testing::Values(SaveFailureCase{"MissingDirectory",
                                                           [](const std::string& d) {
                                                             return d + "/нет/p.xml";
                                                           },
                                                           ENOENT},
                                           SaveFailureCase{"ParentIsAFile",
                                                           [](const std::string& d) {
                                                             std::ofstream(d + "/файл") << "x";
                                                             return d + "/файл/p.xml";
                                                           },
                                                           ENOTDIR},
                                           SaveFailureCase{"TargetIsADirectory",
                                                           [](const std::string& d) {
                                                             fs::create_directory(d + "/каталог");
                                                             std::ofstream(d + "/каталог/внутри")
                                                                 << "x";
                                                             return d + "/каталог";
                                                           },
                                                           EISDIR}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ProjectFileTest, FailedWriteLeavesThePreviousFileIntact) {
  const std::string path = dir + "/p.xml";
  SaveProject(project, path);
  const std::string previous = ReadBytes(path);
  BuildRichProject();

  // A file size limit makes the write itself fail, as a full disk would; the signal it
  // raises is ignored so that the write reports the error instead.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 512;
  auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string message = ErrorOf([&] { SaveProject(project, path); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(message, "Не удалось записать файл " + path + ": " + std::strerror(EFBIG));
  EXPECT_EQ(ReadBytes(path), previous);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"p.xml"});
}

TEST_F(ProjectFileTest, SaveReplacesTheFileALinkPointsToAndKeepsItsMode) {
  const std::string file = dir + "/real.xml", link = dir + "/link.xml";
  std::ofstream(file) << "old";
  fs::permissions(file, fs::perms(0640));
  fs::create_symlink(file, link);
  SaveProject(project, link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(file), ProjectText(project));
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
}

// ---------------------------------------------------------------- templates

TEST_F(ProjectFileTest, TemplateIsOneLineUnderServer) {
  BuildRichProject();
  const std::string text = WriteTemplate(*project.Servers.Items(0)->Devices().Items(0));
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_TRUE(text.starts_with("<server><Device><Name>Котёл</Name><Number>3</Number>")) << text;
  EXPECT_TRUE(text.ends_with("</Register></Device></server>"));
}

TEST_F(ProjectFileTest, SameTemplateTwiceGetsNumberedNames) {
  TModbusTCPServer* source = AddServer(project, "S");
  TDeviceClass* device = AddDevice(source, "Насос", 9);
  AddTag(device, "T", 18, 3, 77);
  const std::string text = WriteTemplate(*device);

  TModbusTCPServer* target = AddServer(project, "Цех");
  AddDevice(target, "Другой", 9);
  for (int i = 0; i < 3; ++i) ASSERT_NE(ImportTemplate(project, *target, text), nullptr);
  std::vector<std::string> names;
  for (const auto& d : target->Devices()) names.push_back(d->DisplayName());
  EXPECT_EQ(names,
            (std::vector<std::string>{"Другой (9)", "Насос (9)", "Насос_1 (9)", "Насос_2 (9)"}));
  // Each copy's value is in its own space.
  for (int i = 1; i < 4; ++i)
    EXPECT_EQ(Registers(*target->Devices().Items(i)->Tags().Items(0)), "00 4D");
  // Into the source server itself the name is taken already.
  EXPECT_EQ(ImportTemplate(project, *source, text)->Name(), "Насос_1");
}

TEST_F(ProjectFileTest, ImportReRootsGroupsAndReferencesOntoTheNewDevice) {
  TModbusTCPServer* s1 = AddServer(project, "S1");
  TDeviceClass* source = AddDevice(s1, "Источник", 4);
  TDeviceClass* other = AddDevice(s1, "Другой");
  TGroupClass* a = AddGroup(source, "A");
  TGroupClass* b = AddGroup(source, "B", a);
  TModbusRegister* t1 = AddTag(source, "t1", 18, 0, 77, b);
  AddTag(source, "t2", 18, 1, 2);
  AddTag(source, "x", 18, 2, 3);
  TModbusRegister* x = AddTag(other, "x", 18, 0, 4);
  TModbusRegister* y = AddTag(other, "y", 18, 1, 5);
  TModbusRegister* script =
      AddTag(source, "s", 18, 3, 0, a, [](TModbusRegister& t) { t.WorkType = kWorkScript; });
  script->Script().BindVariable(t1, "own");
  script->Script().BindVariable(x, "sameName");
  script->Script().BindVariable(y, "gone");

  TModbusTCPServer* s2 = AddServer(project, "S2");
  AddDevice(s2, "Цель", 4);
  TDeviceClass* copy = ImportTemplate(project, *s2, WriteTemplate(*source));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->FullName(), "S2.Источник");
  EXPECT_EQ(copy->Number, 4);
  EXPECT_TRUE(project.Pending.empty());

  std::vector<std::string> tags;
  for (const auto& tag : copy->Tags())
    tags.push_back(tag->FullName() + (tag->Group() ? " in " + tag->Group()->FullName() : ""));
  EXPECT_EQ(tags,
            (std::vector<std::string>{"S2.Источник.A.B.t1 in S2.Источник.A.B", "S2.Источник.t2",
                                      "S2.Источник.x", "S2.Источник.A.s in S2.Источник.A"}));
  const TScriptClass& copied = copy->Tags().Items(3)->Script();
  ASSERT_EQ(copied.VariableCount(), 2);
  EXPECT_EQ(copied.VariableNames(), (std::vector<std::string>{"own", "sameName"}));
  EXPECT_EQ(copied.VariableTags().Items(0), copy->Tags().Items(0));
  EXPECT_EQ(copied.VariableTags().Items(1), copy->Tags().Items(2));  // re-rooted onto the copy
  EXPECT_EQ(Registers(*copy->Tags().Items(0)), "00 4D");
  EXPECT_EQ(t1->ScriptUsers().Count(), 1);  // the source is untouched
}

TEST_F(ProjectFileTest, TemplateFileImportsIntoAnotherServer) {
  TModbusTCPServer* server = AddServer(project, "Цех");
  TDeviceClass* device = ImportTemplateFile(project, *server, Fixture("pump.tmpl"));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->DisplayName(), "Насос (5)");
  ASSERT_EQ(device->Tags().Count(), 2);
  const TModbusRegister& pressure = *device->Tags().Items(0);
  EXPECT_EQ(pressure.FullName(), "Цех.Насос.Входы.Аналог.Давление");
  EXPECT_EQ(pressure.Group()->FullName(), "Цех.Насос.Входы.Аналог");
  EXPECT_EQ(Typed(pressure.ReadTagFromSpace()), "Float:1.5");
  const TScriptClass& script = device->Tags().Items(1)->Script();
  EXPECT_EQ(script.ExecuteText, (std::vector<std::string>{"begin", "  Result := p;", "end;"}));
  ASSERT_EQ(script.VariableCount(), 1);  // the other device's counter does not exist here
  EXPECT_EQ(script.VariableTags().Items(0), &pressure);

  // Saved again and added once more: a second, numbered copy.
  const std::string path = dir + "/насос.tmpl";
  SaveTemplate(*device, path);
  EXPECT_EQ(ReadBytes(path), WriteTemplate(*device));
  EXPECT_EQ(ImportTemplateFile(project, *server, path)->Name(), "Насос_1");
}

TEST_F(ProjectFileTest, ImportLinksScriptsInAServerOutsideTheProject) {
  TModbusTCPServer standalone;
  standalone.SetName("Отдельный");
  TDeviceClass* device = ImportTemplateFile(project, standalone, Fixture("pump.tmpl"));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Tags().Items(1)->Script().VariableCount(), 1);
  EXPECT_TRUE(project.Pending.empty());
}

TEST_F(ProjectFileTest, TemplateWithoutLeadingDeviceAddsNothing) {
  TModbusTCPServer* server = AddServer(project, "S");
  for (const char* text : {"<server><Other/><Device/></server>", "<server/>", "<Device/>"})
    EXPECT_EQ(ImportTemplate(project, *server, text), nullptr) << text;
  EXPECT_EQ(server->Devices().Count(), 0);
  EXPECT_NE(ErrorOf([&] { ImportTemplate(project, *server, "<server><Device>"); }), "(no error)");
}

// The window shows "Некорректный шаблон" for a document without a top-level node only; so
// that case has its own error type, and a broken or unreadable file does not take it.
TEST_F(ProjectFileTest, TemplateWithoutTopLevelNodeIsNotATemplate) {
  TModbusTCPServer* server = AddServer(project, "S");
  const auto kind = [&](const std::function<void()>& import) -> std::string {
    try {
      import();
    } catch (const NotATemplateError& e) {
      return std::string("not a template: ") + e.what();
    } catch (const VelkorError&) {
      return "other";
    }
    return "none";
  };
  for (const char* text : {"", " \n\r\t", "<?xml version=\"1.0\"?>"})
    EXPECT_EQ(kind([&] { ImportTemplate(project, *server, text); }),
              "not a template: Некорректный шаблон")
        << "'" << text << "'";
  const std::string empty = dir + "/empty.tmpl";
  std::ofstream(empty, std::ios::binary).flush();
  EXPECT_EQ(kind([&] { ImportTemplateFile(project, *server, empty); }),
            "not a template: Некорректный шаблон");

  EXPECT_EQ(kind([&] { ImportTemplate(project, *server, "<server><Device>"); }), "other");
  EXPECT_EQ(kind([&] { ImportTemplateFile(project, *server, dir + "/нет.tmpl"); }), "other");
  EXPECT_EQ(kind([&] { ImportTemplate(project, *server, "<server/>"); }), "none");
  EXPECT_EQ(server->Devices().Count(), 0);
  // A project file gets no such leniency: an empty one is an XML error.
  EXPECT_EQ(kind([&] { LoadProjectText(loaded, ""); }), "other");
}

}  // namespace
}  // namespace velkor
