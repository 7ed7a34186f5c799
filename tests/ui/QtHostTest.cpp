// Core events reach the window thread as queued signals, whatever thread raised them.
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "ui/QtHost.h"

using namespace velkor;

class QtHostTest : public QObject {
  Q_OBJECT
 private slots:
  void SignalsArriveOnTheWindowThread() {
    Session session;
    TQtHost host(session);
    Qt::HANDLE seenOn = nullptr;
    connect(&host, &TQtHost::showMessage, [&](const QString& text) {
      QCOMPARE(text, QStringLiteral("привет"));
      seenOn = QThread::currentThreadId();
    });
    QSignalSpy states(&host, &TQtHost::runStateChanged);
    std::thread core([&] {
      host.ShowMessage("привет");
      host.RunStateChanged(RunState::Running);
    });
    core.join();
    QCOMPARE(states.count(), 0);  // nothing runs before the window loop turns
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 5000);
    QCOMPARE(states.at(0).at(0).toInt(), int(RunState::Running));
    QCOMPARE(seenOn, QThread::currentThreadId());
  }
};

QTEST_MAIN(QtHostTest)
#include "QtHostTest.moc"
