// Renders the tag editor with each behaviour page, the saw pictures, the constants window
// and both utilities to PNG files in the build tree (screenshots/), for a person to look at.
// Checks only that each file was written.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"
#include "project/Session.h"
#include "ui/CRC16Form.h"
#include "ui/ConstForm.h"
#include "ui/FindTagForm.h"
#include "ui/MainForm.h"
#include "ui/RegListForm.h"
#include "ui/TagEditor.h"

using namespace velkor;

class TagToolsScreenshotsTest : public QObject {
  Q_OBJECT
 private:
  QDir out{VELKOR_BINARY_DIR "/screenshots"};

  void Save(QWidget* widget, const QString& name) {
    QCoreApplication::processEvents();  // layouts settle as they would on screen
    const QString path = out.filePath(name + ".png");
    QVERIFY(widget->grab().save(path));
    qInfo("%s", qPrintable(path));
  }

 private slots:
  void initTestCase() { QVERIFY(out.mkpath(".")); }

  void EditorPages() {
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.OpenProject(VELKOR_SOURCE_DIR "/examples/demo.xml"));
    TDeviceClass* plc = form.GetSession().Servers().Items(0)->Devices().Items(0);
    form.DevicesTree()->setCurrentItem(form.FindNodeOf(plc));
    TagEditor* editor = form.TagEditorPage();
    editor->AllTagsBox()->setChecked(true);
    editor->ShowTagList(plc, nullptr, nullptr);
    Save(&form, "tag-editor-empty");
    // A Float tag shows every page.
    TModbusRegister* shown = nullptr;
    for (TModbusRegister* tag : editor->ListModel()->Rows())
      if (tag->Type() == VarType::Float) shown = tag;
    QVERIFY(shown);
    editor->ShowTagList(plc, nullptr, shown);
    static const char* const names[] = {"manual", "script", "opc", "increment",
                                        "random", "sine",   "saw"};
    for (int page = 0; page < kBehaviourPages; ++page) {
      editor->BehaviourPages()->setCurrentIndex(page);
      Save(&form, QString("tag-editor-page-%1").arg(names[page]));
    }
    editor->SawBox()->showPopup();
    QTest::qWait(50);
    Save(editor->SawBox()->view()->window(), "tag-editor-saw-types");
    editor->SawBox()->hidePopup();
    // A Bool tag: three pages and the True/False list.
    for (TModbusRegister* tag : editor->ListModel()->Rows())
      if (tag->Type() == VarType::Bool && tag->WorkType == kWorkManual) shown = tag;
    editor->ShowTagList(plc, nullptr, shown);
    Save(&form, "tag-editor-bool");
    // Several rows: the editor empty.
    editor->TagListView()->selectAll();
    editor->ListClicked();
    Save(&form, "tag-editor-several-rows");
  }

  void ConstantsWindow() {
    TConstGroups groups;
    TConstGroup* modes = groups.Add(std::make_unique<TConstGroup>("Режимы"));
    modes->Add(std::make_unique<TConstClass>("Стоп", "0"));
    modes->Add(std::make_unique<TConstClass>("Работа", "1"));
    modes->Add(std::make_unique<TConstClass>("Авария", "255"));
    groups.Add(std::make_unique<TConstGroup>("Состояние"));
    TConstForm form(groups);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.GroupsTree()->setCurrentItem(form.GroupsTree()->topLevelItem(0)->child(0));
    form.GroupsTreeClick();
    Save(&form, "dialog-constants");
    TConstEditForm edit(&form);
    edit.ConstName()->setText("Работа");
    edit.ConstValue()->setText("1");
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    Save(&edit, "dialog-constant");
  }

  void Utilities() {
    TFindTegForm find;
    find.TextEdit()->setText("reg");
    find.show();
    QVERIFY(QTest::qWaitForWindowExposed(&find));
    Save(&find, "dialog-find-tag");
    TRegListForm list({"Demo.PLC.Аналоговые.Counter (0)", "Demo.PLC.Дискретные.Lamp (10.3)"});
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    Save(&list, "dialog-reg-list");
    TCheckCRC16Form crc;
    crc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&crc));
    crc.CheckClick();
    if (auto* box = crc.findChild<QMessageBox*>()) box->close();
    Save(&crc, "dialog-crc16");
  }
};

QTEST_MAIN(TagToolsScreenshotsTest)
#include "TagToolsScreenshotsTest.moc"
