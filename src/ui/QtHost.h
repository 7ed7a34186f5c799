#pragma once
// The window's side of the session's events. The core calls HostEvents from its own
// threads; this adapter turns every call into a queued signal, so the slots run on the
// window thread and a core thread never waits for the window. It subscribes on
// construction and unsubscribes (waiting for a call in flight) on destruction.

#include <QObject>
#include <QString>

#include "project/Session.h"

namespace velkor {

class TQtHost : public QObject, public HostEvents {
  Q_OBJECT
 public:
  explicit TQtHost(Session& session, QObject* parent = nullptr);
  ~TQtHost() override;

  void RunStateChanged(RunState state) override;
  void ProtocolChanged(const TModbusTCPServer* server) override;
  void TagErrorsReady() override;
  void ShowMessage(const std::string& text) override;
  void TraceRecordsReady() override;

 signals:
  void runStateChanged(int state);
  void protocolChanged(const void* server);
  void tagErrorsReady();
  void showMessage(const QString& text);
  void traceRecordsReady();

 private:
  Session::Subscription m_subscription;
};

}  // namespace velkor
