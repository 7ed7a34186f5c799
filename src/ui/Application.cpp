#include "ui/Application.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>
#include <clocale>

#include "runtime/CrashReport.h"
#include "runtime/Log.h"
#include "ui/MainForm.h"
#include "ui/WindowMain.h"

namespace velkor {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  (void)!write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

// SIGINT and SIGTERM write to the pipe from now on; false when that cannot be arranged.
bool CatchStopSignals() {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
    return false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  OnException = [](const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Velkor"), message,
                                QMessageBox::Ok, activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // not exec(): no nested loop inside notify
  };
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    const std::string message = CurrentExceptionMessage();
    LogMessage("TApplication.notify - " + message);
    ReportCrash("main", message);
    if (OnException) OnException(QString::fromStdString(message));
    return false;
  }
}

int RunWindow(int& argc, char** argv, const std::string& project) {
  // "." as the decimal separator whatever the user's regional settings; our own texts
  // format dates as dd.MM.yyyy and times as h:mm:ss.
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  const bool signalsCaught = CatchStopSignals();
  LogStart();
  LogMessage("Запуск Velkor");
  int status = 0;
  {
    TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Velkor"));
    app.setApplicationDisplayName(QStringLiteral("Velkor"));
    QTranslator qtRussian;
    if (qtRussian.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      app.installTranslator(&qtRussian);

    TMainForm form;
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (signalsCaught) {
      stopNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
      QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &form, [&form] {
        char bytes[16];
        while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        LogMessage("Получен сигнал останова");
        // As closing while stopped: stop, save the settings, close; then leave the loop
        // even when the window was hidden to the tray.
        form.StopEmulation();
        form.close();
        QCoreApplication::exit(0);
      });
    }
    if (!project.empty()) form.OpenProject(QString::fromStdString(project));
    form.show();
    status = app.exec();
  }
  LogMessage("Останов Velkor");
  LogStop();
  return status;
}

}  // namespace velkor
