// The main window through its widgets: layout, menus, the pages a selection shows, start
// with the clearing question, live values, error and protocol lists, closing, and one run
// end to end with a real Modbus master.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "UiFixture.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "ui/AboutForm.h"
#include "ui/AscZeroForm.h"
#include "ui/MainForm.h"
#include "ui/ProtocolModel.h"
#include "ui/RecentFiles.h"
#include "ui/TagTableModel.h"
#include "ui/TuneForm.h"
#include "ui/ValueForm.h"

using namespace velkor;

Q_DECLARE_METATYPE(velkor::Page)

namespace {

QString Texts(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* action : actions) {
    if (action->isSeparator()) {
      out << "|";
      continue;
    }
    QString text = action->text();
    if (!action->shortcut().isEmpty())
      text += " [" + action->shortcut().toString(QKeySequence::PortableText) + "]";
    out << text;
  }
  return out.join(", ");
}

QString Column(const QAbstractItemModel* model, int column) {
  QStringList out;
  for (int row = 0; row < model->rowCount(); ++row)
    out << model->index(row, column).data().toString();
  return out.join(',');
}

TModbusRegister* FindTag(Session& session, const char* fullName) {
  for (const auto& server : session.Servers())
    if (TModbusRegister* tag = server->FindTag(fullName)) return tag;
  return nullptr;
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> form;
  int saves = 0;

  QString WriteProject(const char* text, const char* name = "tree.xml") {
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return path;
  }
  void Select(const void* object) {
    QTreeWidgetItem* node =
        object ? form->FindNodeOf(object) : form->DevicesTree()->topLevelItem(0);
    QVERIFY(node);
    form->DevicesTree()->setCurrentItem(node);
  }
  TModbusTCPServer* Alpha() { return form->GetSession().Servers().Items(0); }
  TDeviceClass* Plc() { return Alpha()->Devices().Items(0); }
  // The project with its TCP server on a port the system chooses.
  void OpenTree() {
    QVERIFY(form->OpenProject(WriteProject(kTreeProject)));
    Alpha()->Port = 0;
  }
  void StartAutomatic() {
    form->StartEmulation(true);
    QVERIFY(form->Running());
  }
  QString RunText() const { return form->RunStateText(); }

 private slots:
  void init() {
    form = std::make_unique<TMainForm>();
    saves = 0;
    // Each test starts from the defaults, whatever an earlier one saved.
    form->ProgramSettings() = TProgramSettings{};
    form->OnSaveSettings = [this](const TProgramSettings&) { ++saves; };
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
  }
  void cleanup() {
    form->StopEmulation();
    form.reset();
  }

  void LayoutSizesAndPages() {
    QCOMPARE(form->size(), QSize(926, 832));
    QCOMPARE(form->minimumWidth(), 891);
    auto* split = qobject_cast<QSplitter*>(form->centralWidget());
    QVERIFY(split);
    QCOMPARE(split->sizes().at(0), 186);
    QCOMPARE(form->PageControl1()->count(), 5);  // a stacked widget: no tab headers
    QCOMPARE(form->CurrentPage(), Page::Servers);
    QCOMPARE(form->DevicesTree()->topLevelItem(0)->text(0), QString("Сервера"));
    QCOMPARE(form->RegsListView()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(form->RunStateWidget()->width(), 50);
    QVERIFY(form->PathPanel()->minimumWidth() >= 250);
  }

  void MenusAndShortcuts_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("items");
    QTest::newRow("Файл") << 0 << "Файл"
                          << "Новый [Ctrl+N], Открыть [Ctrl+O], Сохранить [Ctrl+S], "
                             "Сохранить как..., |, Выход, |";
    QTest::newRow("Правка")
        << 1 << "Правка"
        << "Добавить Сервер, Удалить сервер, |, Добавить устройство, Добавить устройство из "
           "шаблона, Сохранить устройство в шаблон, Удалить устройство, |, Добавить тег "
           "[Ctrl+A], Удалить тег, Дубликат [Ctrl+D], |, Добавить группу, Удалить группу, "
           "Изменить группу, |, Копировать [Ctrl+C], Вырезать [Ctrl+X], Вставить [Ctrl+V], |, "
           "Свернуть узел, Развернуть узел, |, Переместить вверх, Переместить вниз";
    QTest::newRow("Проект") << 2 << "Проект"
                            << "Константы, Функции";
    QTest::newRow("Работа") << 3 << "Работа"
                            << "Пуск [F9], Останов [Ctrl+F2], |, Настройки..., |, "
                               "Поверх всех окон";
    QTest::newRow("Трассировка") << 4 << "Трассировка"
                                 << "";
    QTest::newRow("Утилиты") << 5 << "Утилиты"
                             << "Поиск тега, Проверка CRC16";
    QTest::newRow("Справка") << 6 << "Справка"
                             << "Справка, |, О программе...";
  }
  void MenusAndShortcuts() {
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QString, items);
    QAction* top = form->menuBar()->actions().at(index);
    QCOMPARE(top->text(), title);
    QCOMPARE(top->menu() ? Texts(top->menu()->actions()) : QString(), items);
  }

  void ToolBarAndTreeMenus() {
    auto* tools = form->findChild<QToolBar*>("ToolBar1");
    QVERIFY(tools);
    QCOMPARE(Texts(tools->actions()), QString("Новый [Ctrl+N], Открыть [Ctrl+O], Сохранить "
                                              "[Ctrl+S], Пуск [F9], |, Останов [Ctrl+F2], |, "
                                              "О программе..."));
    QCOMPARE(form->Action(Cmd::Start)->toolTip(), QString("Старт"));
    QCOMPARE(form->Action(Cmd::Stop)->toolTip(), QString("Стоп"));
    for (QAction* action : tools->actions())
      if (!action->isSeparator()) QVERIFY(!action->icon().isNull());
    QCOMPARE(Texts(form->FullTreeMenu()->actions()),
             QString("Добавить Сервер, Удалить Сервер, |, Добавить устройство, Удалить "
                     "устройство, |, Добавить группу, Удалить группу, Изменить группу, |, "
                     "Свернуть узел, Развернуть узел, |, Переместить вверх, Переместить вниз"));
    QCOMPARE(Texts(form->RunningTreeMenu()->actions()), QString("Свернуть узел, Развернуть узел"));
  }

  void SelectionChoosesPageAndCommands() {
    OpenTree();
    QCOMPARE(form->ProjectPath(), dir.filePath("tree.xml"));
    QCOMPARE(form->PathPanel()->text(), dir.filePath("tree.xml"));
    QTreeWidget* tree = form->DevicesTree();
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("Alpha (1502)"));
    QCOMPARE(tree->topLevelItem(0)->child(1)->text(0), QString("Beta (/dev/ttyUSB0)"));
    QVERIFY(tree->topLevelItem(0)->child(0)->child(0)->isExpanded());

    Select(nullptr);  // the root
    QCOMPARE(form->CurrentPage(), Page::Servers);
    QCOMPARE(Column(form->ServersListView()->model(), 0), QString("Alpha,Beta"));
    QCOMPARE(Column(form->ServersListView()->model(), 1), QString("0,/dev/ttyUSB0"));
    QCOMPARE(Column(form->ServersListView()->model(), 2), QString("0,0"));
    QVERIFY(form->Action(Cmd::AddServer)->isVisible());
    QVERIFY(!form->Action(Cmd::DeleteServer)->isVisible());

    Select(Alpha());
    QCOMPARE(form->CurrentPage(), Page::ServerSettings);
    QCOMPARE(Column(form->DevicesListView()->model(), 0), QString("Plc,Empty"));
    QCOMPARE(Column(form->DevicesListView()->model(), 1), QString("1,7"));
    QVERIFY(form->Action(Cmd::DeleteServer)->isVisible());
    QVERIFY(form->Action(Cmd::MoveDown)->isVisible());
    QVERIFY(!form->Action(Cmd::MoveUp)->isVisible());

    TGroupClass* pumps = Plc()->RootGroup().Children().Items(0);
    Select(pumps);
    QCOMPARE(form->CurrentPage(), Page::DeviceSettings);
    QCOMPARE(form->SelectedDevice(), Plc());
    QCOMPARE(form->SelectedGroup(), pumps);
    QCOMPARE(form->SelectedServer(), Alpha());
    QCOMPARE(Column(form->SettingsTagView()->model(), 0), QString("P1"));  // "Все теги" off
    QVERIFY(form->Action(Cmd::Collapse)->isVisible());
    form->Action(Cmd::Collapse)->trigger();  // the node and everything below it
    QVERIFY(!form->FindNodeOf(pumps)->isExpanded());
    QVERIFY(form->Action(Cmd::Expand)->isVisible());
    QVERIFY(!form->Action(Cmd::Collapse)->isVisible());
    QCOMPARE(form->CurrentTreeMenu(), TreeMenu::Full);

    // Running: the live pages, and only collapse or expand in the tree.
    StartAutomatic();
    QCOMPARE(form->CurrentPage(), Page::Regs);
    QCOMPARE(Column(form->RegsModel(), 0), QString("P1,Deep"));
    QCOMPARE(form->CurrentTreeMenu(), TreeMenu::Running);
    QVERIFY(!form->Action(Cmd::New)->isEnabled());
    QVERIFY(!form->Action(Cmd::Start)->isEnabled());
    QVERIFY(form->Action(Cmd::Stop)->isEnabled());
    Select(Alpha());
    QCOMPARE(form->CurrentPage(), Page::DevicesWork);
    QCOMPARE(Column(form->DevWorkView()->model(), 0), QString("Plc (1),Empty (7)"));
    QCOMPARE(Column(form->DevWorkView()->model(), 1), QString("Да,Да"));
    Select(Plc()->RootGroup().Children().Items(1));  // a leaf group: no menu while running
    QCOMPARE(form->CurrentTreeMenu(), TreeMenu::None);
    // After stop the live page stays until the selection changes.
    form->Action(Cmd::Stop)->trigger();
    QCOMPARE(form->CurrentPage(), Page::Regs);
    QCOMPARE(RunText(), QString("Выкл"));
    Select(Plc());
    QCOMPARE(form->CurrentPage(), Page::DeviceSettings);
  }

  void ClearingQuestion_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("showAgain");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("zeroRegs");
    QTest::newRow("Да, keep asking") << "Да" << true << true << true;
    QTest::newRow("Нет, stop asking") << "Нет" << false << true << false;
    QTest::newRow("Отмена") << "Отмена" << true << false << false;
  }
  void ClearingQuestion() {
    QFETCH(QString, button);
    QFETCH(bool, showAgain);
    QFETCH(bool, running);
    QFETCH(bool, zeroRegs);
    OpenTree();
    Select(Plc());
    form->ProtocolViewModel()->Append({{"t", "old"}});
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F9);
    TAscZeroForm* question = form->ZeroQuestion();
    QVERIFY(question);
    QCOMPARE(question->windowTitle(), QString("Очистка Modbus пространства"));
    QVERIFY(question->findChild<QLabel*>() != nullptr);
    QCOMPARE(question->ShowCheckBox()->text(), QString("Показывать окно при пуске"));
    QVERIFY(question->ShowCheckBox()->isChecked());
    question->ShowCheckBox()->setChecked(showAgain);
    QPushButton* press = button == "Да"    ? question->YesButton()
                         : button == "Нет" ? question->NoButton()
                                           : question->CancelButton();
    QCOMPARE(press->text(), button);
    QTest::mouseClick(press, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form->ZeroQuestion(), 5000);
    QCOMPARE(form->Running(), running);
    QCOMPARE(form->GetSession().Running(), running);
    QCOMPARE(form->ProtocolViewModel()->rowCount(), 0);
    QCOMPARE(form->DevProtocolModel()->rowCount(), 0);
    if (!running) {
      // "Отмена": nothing else changed: settings unsaved, stopped page and commands.
      QCOMPARE(saves, 0);
      QVERIFY(form->ProgramSettings().AskZeroRegs);
      QCOMPARE(RunText(), QString("Выкл"));
      QCOMPARE(form->CurrentPage(), Page::DeviceSettings);
      QVERIFY(form->Action(Cmd::Start)->isEnabled());
      QVERIFY(!form->Action(Cmd::Stop)->isEnabled());
      QVERIFY(form->Action(Cmd::New)->isEnabled());
      return;
    }
    QCOMPARE(saves, 1);
    QCOMPARE(form->ProgramSettings().ZeroRegs, zeroRegs);
    QCOMPARE(form->ProgramSettings().AskZeroRegs, showAgain);
    QCOMPARE(RunText(), QString("Вкл"));
    QCOMPARE(form->CurrentPage(), Page::Regs);
    QVERIFY(form->RefreshTimer()->isActive());
    QCOMPARE(form->RefreshTimer()->interval(), 500);
  }

  void AutomaticStartNeverAsks() {
    OpenTree();
    form->StartEmulation(true);
    QVERIFY(!form->ZeroQuestion());
    QVERIFY(form->Running());
    QCOMPARE(saves, 0);
  }

  // The start-up timer starts (never asking) and hides as the settings say.
  void AutoStartAndHideAtStartUp() {
    TMainForm own;
    own.ProgramSettings().AutoStart = true;
    own.ProgramSettings().HideApp = true;
    own.ProgramSettings().AskZeroRegs = true;
    own.SetTrayAvailable(true);
    own.show();
    QTRY_VERIFY_WITH_TIMEOUT(own.Running(), 5000);
    QVERIFY(!own.ZeroQuestion());
    QTRY_VERIFY_WITH_TIMEOUT(own.HiddenToTray(), 5000);
    QVERIFY(!own.isVisible());
    own.StopEmulation();
  }

  // Only changed rows are rewritten; a minimised or hidden window reads nothing.
  void RefreshRewritesChangedRowsOnly() {
    OpenTree();
    Select(Plc());
    StartAutomatic();
    TagTableModel* model = form->RegsModel();
    QCOMPARE(Column(model, TagTableModel::ColValue), QString("5,1.5,-7,Вкл (True)"));
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    form->Timer1Timer();
    QCOMPARE(changed.count(), 0);
    FindTag(form->GetSession(), "Alpha.Plc.Насосы.Вложенная.Deep")->SetValueLocked(Variant(42));
    form->Timer1Timer();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 2);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 2);
    QCOMPARE(model->index(2, TagTableModel::ColValue).data().toString(), QString("42"));

    form->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(form->isMinimized(), 5000);
    FindTag(form->GetSession(), "Alpha.Plc.Top")->SetValueLocked(Variant(9));
    form->Timer1Timer();
    QCOMPARE(changed.count(), 1);
    form->showNormal();
    QTRY_VERIFY_WITH_TIMEOUT(!form->isMinimized(), 5000);
    form->Timer1Timer();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(model->index(0, TagTableModel::ColValue).data().toString(), QString("9"));

    // The display mode menu: none for Bool rows, a toggle for the others.
    QVERIFY(!form->ValueModeMenu(3));
    QVERIFY(!form->ValueModeMenu(-1));
    QMenu* menu = form->ValueModeMenu(0);
    QVERIFY(menu);
    QCOMPARE(Texts(menu->actions()), QString("Десятичный, HEX"));
    QVERIFY(menu->actions().at(0)->isChecked());
    menu->actions().at(1)->trigger();
    QCOMPARE(model->index(0, TagTableModel::ColValue).data().toString(), QString("00 09 (9)"));
    QVERIFY(form->ValueModeMenu(0)->actions().at(1)->isChecked());
  }

  void TagErrorsListedOnceWithTime() {
    OpenTree();
    Select(Plc());
    StartAutomatic();
    TModbusRegister* tag = FindTag(form->GetSession(), "Alpha.Plc.Top");
    {
      LockGuard lock(tag->Lock());
      tag->SetError("сбой");
      tag->SetError("сбой");  // the same error again is not listed again
    }
    form->GetSession().DispatchPending();
    ProtocolModel* errors = form->ProtocolViewModel();
    QTRY_COMPARE_WITH_TIMEOUT(errors->rowCount(), 1, 5000);
    QCOMPARE(errors->At(0).second, QString("Alpha.Plc.Top - сбой"));
    QVERIFY(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d{1,2}:\\d\\d:\\d\\d$")
                .match(errors->At(0).first)
                .hasMatch());
    QTest::qWait(100);
    QCOMPARE(errors->rowCount(), 1);
  }

  // The server protocol follows the log's running total: appended, capped, never rebuilt.
  void ServerProtocolFollowsTheLog() {
    OpenTree();
    StartAutomatic();
    Select(Alpha());
    QCOMPARE(form->CurrentPage(), Page::DevicesWork);
    ProtocolModel* rows = form->DevProtocolModel();
    const int before = rows->rowCount();
    for (int i = 0; i < 5; ++i) Alpha()->Protocol.Add("запись " + std::to_string(i));
    QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
    form->Timer1Timer();
    QCOMPARE(rows->rowCount(), before + 5);
    QCOMPARE(rows->At(rows->rowCount() - 1).second, QString("запись 4"));
    for (int i = 0; i < 1500; ++i) Alpha()->Protocol.Add("много " + std::to_string(i));
    form->Timer1Timer();
    QCOMPARE(rows->rowCount(), 1000);
    QCOMPARE(rows->At(999).second, QString("много 1499"));
    QCOMPARE(rows->At(0).second, QString("много 500"));
    QCOMPARE(resets.count(), 0);
  }

  void ClosingWhileRunning_data() {
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a tray") << true;
    QTest::newRow("without a tray") << false;
  }
  void ClosingWhileRunning() {
    QFETCH(bool, tray);
    OpenTree();
    StartAutomatic();
    form->SetTrayAvailable(tray);
    QVERIFY(!form->close());
    QVERIFY(form->Running());
    if (tray) {
      QVERIFY(form->HiddenToTray());
      QVERIFY(!form->isVisible());
      form->TrayDoubleClick();
      QVERIFY(!form->HiddenToTray());
      QVERIFY(form->isVisible());
    } else {
      QVERIFY(!form->HiddenToTray());
      QTRY_VERIFY_WITH_TIMEOUT(form->isMinimized(), 5000);
      QVERIFY(form->isVisible());
    }
    QCOMPARE(saves, 0);
    // Stopped, closing stops, saves the settings and closes.
    form->Action(Cmd::Stop)->trigger();
    QVERIFY(form->close());
    QCOMPARE(saves, 1);
    QVERIFY(!form->GetSession().Running());
  }

  // "Настройки..." changes the refresh period; "О программе..." opens the about box; a
  // recent file in "Файл" opens its project; closing while stopped writes the store.
  void SettingsAboutRecentFilesAndTheStore() {
    bool tuned = false;
    QTimer::singleShot(50, [&tuned] {
      auto* dialog = qobject_cast<TTuneForm*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->PeriodEdit()->setText("250");
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
      tuned = true;
    });
    form->Action(Cmd::Settings)->trigger();
    QVERIFY(tuned);
    QCOMPARE(form->ProgramSettings().Period, 250);
    QCOMPARE(form->RefreshTimer()->interval(), 250);

    bool about = false;
    QTimer::singleShot(50, [&about] {
      auto* dialog = qobject_cast<TAboutForm*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->accept();
      about = true;
    });
    form->Action(Cmd::About)->trigger();
    QVERIFY(about);

    const QString path = WriteProject(kTreeProject);
    form->RecentFiles()->Add(path);
    QAction* recent = form->menuBar()->actions().at(0)->menu()->actions().last();
    QCOMPARE(recent->text(), path);
    recent->trigger();
    QCOMPARE(form->ProjectPath(), path);
    QCOMPARE(form->GetSession().Servers().Count(), 2);
    QCOMPARE(form->RecentFiles()->Files().first(), path);

    QVERIFY(form->close());
    form->SettingsStore().sync();
    QCOMPARE(form->SettingsStore().value("Period").toInt(), 250);
    QVERIFY(form->SettingsStore().value("Width").toInt() > 0);
  }

  void OpenFailureIsShownAndLeavesAnEmptyProject() {
    QVERIFY(!form->OpenProject(WriteProject("<Servers><Server>", "bad.xml")));
    QVERIFY(form->ProjectPath().isEmpty());
    QCOMPARE(form->GetSession().Servers().Count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() != nullptr, 5000);
    QApplication::activeModalWidget()->close();
  }

  void SaveWritesTheProjectPath() {
    OpenTree();
    const QString out = dir.filePath("saved.xml");
    QVERIFY(form->SaveProject(out));
    QCOMPARE(form->ProjectPath(), out);
    QCOMPARE(form->PathPanel()->text(), out);
    QVERIFY(QFile::exists(out));
    form->Action(Cmd::New)->trigger();
    QVERIFY(form->ProjectPath().isEmpty());
    QVERIFY(form->PathPanel()->text().isEmpty());
    QCOMPARE(form->DevicesTree()->topLevelItem(0)->childCount(), 0);
  }

  // The demo project through the real window: F9, the question, a real master reads a live
  // value, then a value entered for a manual tag is what the master reads next.
  void DemoEndToEndWithMbpoll() {
    const QString mbpoll = QStandardPaths::findExecutable("mbpoll");
    if (mbpoll.isEmpty()) QSKIP("mbpoll is not installed: the end-to-end run needs a master");
    QVERIFY(form->OpenProject(VELKOR_SOURCE_DIR "/examples/demo.xml"));
    TModbusTCPServer* demo = form->GetSession().Servers().Items(0);
    QCOMPARE(demo->Port, uint16_t(5020));
    demo->Port = 0;  // no clash with another run
    TDeviceClass* plc = demo->Devices().Items(0);
    Select(plc);
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F9);
    QVERIFY(form->ZeroQuestion());
    QTest::mouseClick(form->ZeroQuestion()->NoButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form->Running(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(demo->ListeningPort() != 0, 5000);
    const QString port = QString::number(demo->ListeningPort());
    auto read = [&](const QString& table, int reference) {
      QProcess master;
      master.start(mbpoll, {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-o", "2", "-t", table,
                            "-r", QString::number(reference), "127.0.0.1"});
      if (!master.waitForFinished(10000)) {
        master.kill();
        master.waitForFinished(2000);
        return QString("timeout");
      }
      const QString out = QString::fromLocal8Bit(master.readAllStandardOutput());
      const auto match = QRegularExpression("\\[\\d+\\]:\\s+(-?\\d+)").match(out);
      return match.hasMatch() ? match.captured(1) : "no value in: " + out;
    };
    // The counter (+1 a second) read by the master is the one the window shows, give or take
    // the step between the two reads.
    const int row = 0;
    QCOMPARE(form->RegsModel()->index(row, TagTableModel::ColName).data().toString(),
             QString("Counter"));
    QTest::qWait(1200);
    form->Timer1Timer();
    const int shown = form->RegsModel()->index(row, TagTableModel::ColValue).data().toInt();
    const QString readText = read("4", 0);
    bool ok = false;
    const int read0 = readText.toInt(&ok);
    QVERIFY2(ok, qPrintable(readText));
    QVERIFY2(read0 >= shown && read0 <= shown + 2,
             qPrintable(QString("%1 vs %2").arg(read0).arg(shown)));
    QVERIFY(read0 >= 1);

    // InputWord: a manual Word in input register 0, entered through the value dialog that a
    // double click on its row opens.
    int inputRow = -1;
    for (int r = 0; r < form->RegsModel()->rowCount(); ++r)
      if (form->RegsModel()->Tag(r)->Name() == "InputWord") inputRow = r;
    QVERIFY(inputRow >= 0);
    QCOMPARE(form->RegsModel()->Tag(inputRow)->WorkType, kWorkManual);
    bool answered = false;
    QTimer::singleShot(50, [&answered] {
      auto* dialog = qobject_cast<TValueForm*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->ValueEdit()->setText("4321");
      dialog->accept();
      answered = true;
    });
    QTableView* view = form->RegsListView();
    view->scrollTo(form->RegsModel()->index(inputRow, 0));
    const QRect cell = view->visualRect(form->RegsModel()->index(inputRow, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(answered);
    QCOMPARE(form->RegsModel()->index(inputRow, TagTableModel::ColValue).data().toString(),
             QString("4321"));
    QCOMPARE(read("3", 0), QString("4321"));
  }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
