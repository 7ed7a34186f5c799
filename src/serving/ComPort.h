#pragma once
// A serial line on POSIX termios. TComPortDriver owns one port: it opens it raw, cuts the
// incoming bytes into frames by the pause between them and hands each frame to
// DataReceived. It knows nothing of Modbus.
//
// The pause is measured here, with poll() on the descriptor after every chunk, to the
// millisecond: termios' VTIME counts tenths of a second, far too coarse for intervals of a
// few ms. The loop never sleeps between the bytes of a frame, so only a real pause on the
// line ends one. Every wait also watches an eventfd that StopThread signals, so stopping
// never waits for a byte or a pause.

#include <termios.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "runtime/AuxilThread.h"

namespace velkor {

// The device path of a port name: a name not starting with '/' is looked up under /dev/.
std::string PortPath(const std::string& name);

// Puts the line settings into `settings` (raw, receiver on, modem lines ignored); returns
// 0, or EINVAL for a rate termios has no code for or a parity other than 0 none, 1 even,
// 2 odd. As the server dialog shows them, data bits 7 are 7 and anything else 8, stop bits
// 0 are one and anything else two.
int ConfigureLine(termios& settings, int32_t baudRate, uint8_t dataBits, uint8_t parity,
                  uint8_t stopBits);

class TComPortDriver : public TAuxilThread {
 public:
  // What one frame keeps; the rest of a longer run is discarded up to its pause, so the next
  // frame starts clean. Larger than any Modbus frame, so an overlong one shows as such.
  static constexpr size_t kFrameBuffer = 300;

  TComPortDriver();
  ~TComPortDriver() override;

  // errno of the last failed open or set-up, or of a line lost while reading (reported once
  // per loss); the owner reads and clears it.
  std::atomic<int> LastError{0};
  // Set before Open; the thread reads them only while it runs.
  std::string PortName = "COM1";
  int32_t BaudRate = 9600;
  uint8_t DataBits = 8;
  uint8_t Parity = 0;     // 0 none, 1 even, 2 odd
  uint8_t StopBits = 0;   // 0 one, 2 two
  int32_t Interval = 40;  // ms of silence that end a frame

  // Opens and sets up the port, discards what it had received, and starts the read loop.
  // False with LastError set when any step fails; no port is open then.
  bool Open();
  // Writes all bytes, waiting for room at most as long as the line needs for them plus
  // 100 ms; false when they did not all go out.
  bool Write(const uint8_t* bytes, size_t count);
  // Only before the thread runs or after it was joined (StopThread does it).
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  void StopThread() override;

 protected:
  void Execute() override;
  virtual void DataReceived(const uint8_t* bytes, size_t count) = 0;

 private:
  enum class Wait { Input, Quiet, Stop, Lost };
  using Clock = std::chrono::steady_clock;

  Wait WaitInput(Clock::time_point until);
  size_t ReadFrame();
  bool ReadChunk(size_t& count);
  void LineLost(int error);

  int m_fd = -1;
  int m_stopFd = -1;  // eventfd: readable once StopThread ran
  bool m_lineLost = false;
  std::array<uint8_t, kFrameBuffer> m_buffer{};
};

}  // namespace velkor
