// The small dialogs as a person sees them: each is rendered to a PNG in the build tree
// (screenshots/, to be looked at) and checked for texts cut off by a too small window. The
// about box also shows the build's version and finds the manual of the source tree.
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/Version.h"
#include "model/DeviceClass.h"
#include "project/ProjectFile.h"
#include "ui/AboutForm.h"
#include "ui/AppIcon.h"
#include "ui/Manual.h"
#include "ui/TuneForm.h"
#include "ui/ValueForm.h"

using namespace velkor;

namespace {

const char* kProject = R"(<Servers><Server><Name>Котельная</Name><Device><Name>Насос</Name>
<Register><Name>Давление</Name><Addr>10</Addr><vType>4</vType><WorkType>2</WorkType><Value>2.75</Value></Register>
<Register><Name>Авария</Name><Addr>3</Addr><mSpace>2</mSpace><vType>11</vType><WorkType>2</WorkType><Value>false</Value></Register>
<Register><Name>Режим</Name><Addr>20</Addr><vType>18</vType><WorkType>2</WorkType><ConstGroupName>Режимы</ConstGroupName><Value>1</Value></Register>
</Device></Server>
<CONSTGROUPS><CONSTGROUP><Name>Режимы</Name>
<CONST><NAME>Стоп</NAME><VALUE>0</VALUE></CONST>
<CONST><NAME>Работа</NAME><VALUE>1</VALUE></CONST>
</CONSTGROUP></CONSTGROUPS></Servers>)";

}  // namespace

class DialogsLookTest : public QObject {
  Q_OBJECT
 private:
  Project m_project;

  // Shows, checks that no text is cut, saves the PNG.
  void Shoot(QWidget& w, const QString& name) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w, 5000));
    for (QWidget* child : w.findChildren<QWidget*>()) {
      if (!child->isVisible()) continue;
      const QRect inWindow(child->mapTo(&w, QPoint(0, 0)), child->size());
      QVERIFY2(w.rect().contains(inWindow),
               qPrintable(name + ": " + child->objectName() + " reaches outside"));
      // A push button's hint includes the style's minimum width; its text is what must fit.
      if (auto* button = qobject_cast<QPushButton*>(child)) {
        QVERIFY2(button->width() >= button->fontMetrics().horizontalAdvance(button->text()) + 8,
                 qPrintable(name + ": button " + button->text() + " too small"));
        continue;
      }
      const bool hasText = qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child);
      if (hasText && child->sizeHint().isValid())
        QVERIFY2(child->width() >= child->sizeHint().width() &&
                     child->height() >= child->sizeHint().height(),
                 qPrintable(name + ": " + child->metaObject()->className() + " too small"));
    }
    const QString dir = QStringLiteral(VELKOR_BINARY_DIR "/screenshots");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(w.grab().save(dir + "/" + name + ".png"));
  }

  TModbusRegister* Tag(int i) {
    return m_project.Servers.Items(0)->Devices().Items(0)->Tags().Items(i);
  }

 private slots:
  void initTestCase() { LoadProjectText(m_project, kProject); }
  void cleanupTestCase() { m_project.Reset(); }

  void TuneForm() {
    TTuneForm form;
    TProgramSettings settings;
    settings.AutoLoadConfig = true;
    settings.ConfigPath = QStringLiteral("/home/оператор/проекты/котельная.xml");
    settings.AutoStart = true;
    form.SetFromSettings(settings);
    QCOMPARE(form.windowTitle(), QStringLiteral("Настройки"));
    Shoot(form, "TuneForm");
  }

  void ValueForm_data() {
    QTest::addColumn<int>("tag");
    QTest::newRow("ValueForm-text") << 0;
    QTest::newRow("ValueForm-bool") << 1;
    QTest::newRow("ValueForm-constants") << 2;
  }
  void ValueForm() {
    QFETCH(int, tag);
    TValueForm form(*Tag(tag), m_project.ConstGroups);
    Shoot(form, QString::fromLatin1(QTest::currentDataTag()));
  }

  void AboutForm() {
    TAboutForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Velkor"));
    QCOMPARE(form.VersionLabel()->text(), QStringLiteral("Версия продукта: " VELKOR_VERSION));
    QVERIFY(!QStringLiteral(VELKOR_VERSION).isEmpty());
    // Run from a build tree, the manual is the source tree's.
    QCOMPARE(ManualPath(), QDir::cleanPath(VELKOR_SOURCE_DIR "/docs/manual/index.html"));
    QVERIFY(ManualUrl().startsWith("file:///"));
    QVERIFY(form.ManualLink()->text().contains(ManualUrl()));
    Shoot(form, "AboutForm");
  }

  void IconIsDrawnForTheScreensPixelRatio_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
  }
  void IconIsDrawnForTheScreensPixelRatio() {
    QFETCH(qreal, ratio);
    const QPixmap pixmap = AppIconPixmap(32, ratio);
    QCOMPARE(pixmap.width(), qRound(32 * ratio));
    QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(32, 32));
    const QImage image = pixmap.toImage();
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);  // rounded corner
    QCOMPARE(image.pixelColor(image.width() / 2, image.height() - int(4 * ratio)).alpha(), 255);
  }
};

QTEST_MAIN(DialogsLookTest)
#include "DialogsLookTest.moc"
