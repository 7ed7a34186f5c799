#pragma once
// The update thread: about every 10 ms it calls its handler (the server list's poll with
// the pass over every device), then sleeps 10 ms, which bounds its processor load. It
// runs at normal priority, unlike the other workers.

#include <functional>

#include "runtime/AuxilThread.h"

namespace velkor {

class TUpdateRegsClass : public TAuxilThread {
 public:
  explicit TUpdateRegsClass(std::function<void()> handler);
  ~TUpdateRegsClass() override;
  void StopThread() override;

 protected:
  void Execute() override;

 private:
  std::function<void()> m_handler;
};

}  // namespace velkor
