#include "ui/QtHost.h"

#include <QMetaObject>

namespace velkor {

TQtHost::TQtHost(Session& session, QObject* parent) : QObject(parent) {
  m_subscription = session.Subscribe(*this);
}

// Unsubscribing first: no core thread can call into a half-destroyed object.
TQtHost::~TQtHost() { m_subscription.Reset(); }

void TQtHost::RunStateChanged(RunState state) {
  QMetaObject::invokeMethod(
      this, [this, state] { emit runStateChanged(int(state)); }, Qt::QueuedConnection);
}

void TQtHost::ProtocolChanged(const TModbusTCPServer* server) {
  const void* id = server;
  QMetaObject::invokeMethod(
      this, [this, id] { emit protocolChanged(id); }, Qt::QueuedConnection);
}

void TQtHost::TagErrorsReady() {
  QMetaObject::invokeMethod(
      this, [this] { emit tagErrorsReady(); }, Qt::QueuedConnection);
}

void TQtHost::ShowMessage(const std::string& text) {
  const QString copy = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this, [this, copy] { emit showMessage(copy); }, Qt::QueuedConnection);
}

void TQtHost::TraceRecordsReady() {
  QMetaObject::invokeMethod(
      this, [this] { emit traceRecordsReady(); }, Qt::QueuedConnection);
}

}  // namespace velkor
