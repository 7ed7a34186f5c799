#pragma once
// The windowed program: the application object and the run of the main window.
//
// An exception that reaches the window loop is shown and stored by the crash reporter,
// and the program goes on: TApplication::notify is the one frame every event handler runs
// under. Stop signals end the program as closing it while stopped does; the signal handler
// only writes a byte to a socket the window loop watches (the self-pipe trick), because
// nothing else is safe inside a signal handler.

#include <QApplication>
#include <QString>
#include <functional>

namespace velkor {

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  // What happens to an exception caught in notify (tests replace the message box).
  std::function<void(const QString& message)> OnException;
};

}  // namespace velkor
