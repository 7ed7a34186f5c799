#pragma once
// A status-bar panel: green "Вкл" while on, red "Выкл" while off (the main window's run
// state, the trace window's tracing). The fill carries the meaning, so the text, at 10, 4,
// takes whichever of the palette's dark and light text colours stands out on it and stays
// readable in a dark theme.

#include <QString>
#include <QWidget>

namespace velkor {

class RunStatePanel : public QWidget {
 public:
  explicit RunStatePanel(QWidget* parent);
  void SetRunning(bool running);
  const QString& Text() const { return m_text; }
  bool IsRunning() const { return m_running; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool m_running = false;
  QString m_text;
};

}  // namespace velkor
