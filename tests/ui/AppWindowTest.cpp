// The windowed program around the main window: an exception that reaches the window loop
// is shown and stored and the loop goes on; a stop signal ends the program as closing it
// does, with exit status 0 and the log's closing line.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "runtime/Log.h"
#include "ui/Application.h"

using namespace velkor;

namespace {

class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("сбой обработчика");
    return QObject::event(e);
  }
};

QString ReadAll(const QString& dirPath, const QString& nameFilter) {
  QString text;
  for (const QFileInfo& info : QDir(dirPath).entryInfoList({nameFilter}, QDir::Files)) {
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll());
  }
  return text;
}

}  // namespace

class AppWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void ExceptionInAHandlerIsShownStoredAndSurvived() {
    QTemporaryDir logs;
    LogStart(logs.path().toStdString());
    auto* app = static_cast<TApplication*>(QCoreApplication::instance());
    QStringList shown;
    app->OnException = [&shown](const QString& message) { shown << message; };
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    QCOMPARE(shown.at(0), QString("сбой обработчика"));
    // The loop goes on.
    bool later = false;
    QTimer::singleShot(0, [&later] { later = true; });
    QTRY_VERIFY_WITH_TIMEOUT(later, 5000);
    LogStop();
    QVERIFY(ReadAll(logs.path(), "crash-*.txt").contains("сбой обработчика"));
  }

  void StopSignalEndsTheWindowedProgram_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
  }
  void StopSignalEndsTheWindowedProgram() {
    QFETCH(int, signal);
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_STATE_HOME", home.filePath("state"));
    QProcess velkor;
    velkor.setProcessEnvironment(env);
    velkor.setProcessChannelMode(QProcess::MergedChannels);
    velkor.start(VELKOR_EXECUTABLE, {VELKOR_SOURCE_DIR "/examples/demo.xml"});
    QVERIFY(velkor.waitForStarted(10000));
    // The signal handlers are in place before the first log line is written.
    const QString logDir = QFileInfo(VELKOR_EXECUTABLE).dir().filePath("logs");
    const QString stateLogs = home.filePath("state/velkor/logs");
    auto logText = [&] { return ReadAll(logDir, "*.txt") + ReadAll(stateLogs, "*.txt"); };
    const int startsBefore = logText().count("Запуск Velkor");
    QTRY_VERIFY_WITH_TIMEOUT(logText().count("Запуск Velkor") > startsBefore, 10000);
    QTest::qWait(300);
    ::kill(pid_t(velkor.processId()), signal);
    if (!velkor.waitForFinished(10000)) {
      velkor.kill();
      velkor.waitForFinished(2000);
      QFAIL("the program did not end on the signal");
    }
    QCOMPARE(velkor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(velkor.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Останов Velkor"), 5000);
    // As closing while stopped: the settings were written.
    QVERIFY(QFile::exists(home.filePath("config/Velkor/Velkor.conf")));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  AppWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "AppWindowTest.moc"
