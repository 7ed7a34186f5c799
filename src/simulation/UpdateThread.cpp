#include "simulation/UpdateThread.h"

#include <chrono>
#include <thread>

#include "runtime/CrashReport.h"
#include "runtime/Log.h"

namespace velkor {

using namespace std::chrono_literals;

TUpdateRegsClass::TUpdateRegsClass(std::function<void()> handler)
    : TAuxilThread("update"), m_handler(std::move(handler)) {}

TUpdateRegsClass::~TUpdateRegsClass() { StopThread(); }

void TUpdateRegsClass::Execute() {
  while (!Terminated()) {
    if (!RunEvent.Wait(10ms)) continue;
    try {
      if (m_handler) m_handler();
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      LogMessage("TUpdateRegsClass.Execute - " + message);
      ReportCrash(Name(), message);
    }
    WakeEvent.Wait(10ms);  // the cycle's sleep, cut short by a stop
  }
}

void TUpdateRegsClass::StopThread() {
  Halt();
  WakeEvent.Set();
  WaitFor();
}

}  // namespace velkor
