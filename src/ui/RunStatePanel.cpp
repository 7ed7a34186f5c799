#include "ui/RunStatePanel.h"

#include <QPainter>
#include <cstdlib>

namespace velkor {

RunStatePanel::RunStatePanel(QWidget* parent) : QWidget(parent) {
  setFixedSize(50, 20);
  SetRunning(false);
}

void RunStatePanel::SetRunning(bool running) {
  m_running = running;
  m_text = running ? QObject::tr("Вкл") : QObject::tr("Выкл");
  update();
}

void RunStatePanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor fill = m_running ? QColor(0x2e, 0xa0, 0x43) : QColor(0xd0, 0x30, 0x30);
  painter.fillRect(rect(), fill);
  const QColor dark = palette().color(QPalette::Active, QPalette::WindowText);
  const QColor light = palette().color(QPalette::Active, QPalette::BrightText);
  auto contrast = [&fill](const QColor& c) { return std::abs(c.lightness() - fill.lightness()); };
  QColor text = contrast(dark) >= contrast(light) ? dark : light;
  if (contrast(text) < 80) text = fill.lightness() > 128 ? Qt::black : Qt::white;
  painter.setPen(text);
  painter.drawText(QRect(10, 4, width() - 10, height() - 4), Qt::AlignLeft | Qt::AlignTop,
                   m_text);
}

}  // namespace velkor
