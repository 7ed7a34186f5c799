#include "serving/ComPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "runtime/CrashReport.h"
#include "runtime/Log.h"

namespace velkor {

using namespace std::chrono_literals;

namespace {

// Even when the eventfd is missing a stop is seen within this.
constexpr auto kPollSlice = 100ms;
// How long the loop rests while the line is gone (a pulled adapter, a closed pty).
constexpr auto kLostRest = 10ms;

struct Rate {
  int32_t baud;
  speed_t code;
};

constexpr Rate kRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

int MillisecondsUntil(std::chrono::steady_clock::time_point until) {
  const auto left = until - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  // Rounded up: a pause must last at least the interval before it ends a frame.
  return int(std::chrono::ceil<std::chrono::milliseconds>(
                 std::min<std::chrono::nanoseconds>(left, kPollSlice))
                 .count());
}

}  // namespace

std::string PortPath(const std::string& name) {
  return !name.empty() && name[0] == '/' ? name : "/dev/" + name;
}

int ConfigureLine(termios& settings, int32_t baudRate, uint8_t dataBits, uint8_t parity,
                  uint8_t stopBits) {
  const Rate* rate = std::find_if(std::begin(kRates), std::end(kRates),
                                  [&](const Rate& r) { return r.baud == baudRate; });
  if (rate == std::end(kRates) || parity > 2) return EINVAL;
  cfmakeraw(&settings);
  settings.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
  settings.c_cflag &= ~tcflag_t(CMSPAR);
#endif
  settings.c_cflag |= CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
  if (parity != 0) settings.c_cflag |= PARENB | (parity == 2 ? PARODD : 0);
  // A byte with a parity error reads as 0, so its frame fails the CRC check.
  if (parity != 0)
    settings.c_iflag |= INPCK;
  else
    settings.c_iflag &= ~tcflag_t(INPCK);
  if (stopBits != 0) settings.c_cflag |= CSTOPB;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (cfsetispeed(&settings, rate->code) != 0 || cfsetospeed(&settings, rate->code) != 0)
    return EINVAL;
  return 0;
}

TComPortDriver::TComPortDriver()
    : TAuxilThread("com-port"), m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TComPortDriver::~TComPortDriver() {
  StopThread();
  if (m_stopFd >= 0) ::close(m_stopFd);
}

bool TComPortDriver::Open() {
  Close();
  const int fd = ::open(PortPath(PortName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    LastError = errno;
    return false;
  }
  auto fail = [&](int error) {
    ::close(fd);
    LastError = error;
    return false;
  };
  // A port serves one program: TIOCEXCL stops other openers (root aside), the lock stops a
  // second server of ours, root or not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return fail(errno);
  if (const int error = ConfigureLine(settings, BaudRate, DataBits, Parity, StopBits))
    return fail(error);
  if (::tcsetattr(fd, TCSANOW, &settings) != 0) return fail(errno);
  ::ioctl(fd, TIOCEXCL);
  // Stale bytes are dropped here, before the thread runs, so nothing sent after Open is.
  ::tcflush(fd, TCIOFLUSH);
  m_fd = fd;
  m_lineLost = false;
  LastError = 0;
  Activate();
  return true;
}

void TComPortDriver::Close() {
  if (m_fd < 0) return;
  ::ioctl(m_fd, TIOCNXCL);
  ::close(m_fd);
  m_fd = -1;
}

bool TComPortDriver::Write(const uint8_t* bytes, size_t count) {
  if (m_fd < 0) return false;
  const auto until = Clock::now() + std::chrono::milliseconds(100) +
                     std::chrono::milliseconds(2 * int64_t(std::max(Interval, 0)) * int64_t(count));
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(m_fd, bytes + done, count - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    if (Terminated() || Clock::now() >= until) return false;
    pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
    ::poll(fds, 2, std::max(1, MillisecondsUntil(until)));
  }
  return true;
}

void TComPortDriver::StopThread() {
  Halt();
  WakeEvent.Set();  // ends a reply delay in progress
  if (m_stopFd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
  }
  WaitFor();
  Close();
}

TComPortDriver::Wait TComPortDriver::WaitInput(Clock::time_point until) {
  for (;;) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, MillisecondsUntil(until));
    if (ready < 0 && errno != EINTR) return Wait::Lost;
    if (Terminated() || (fds[1].revents & POLLIN)) return Wait::Stop;
    if (fds[0].revents & POLLIN) return Wait::Input;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::Lost;
    if (Clock::now() >= until) return Wait::Quiet;
  }
}

bool TComPortDriver::ReadChunk(size_t& count) {
  uint8_t overflow[256];
  const bool room = count < kFrameBuffer;
  uint8_t* to = room ? m_buffer.data() + count : overflow;
  const size_t size = room ? kFrameBuffer - count : sizeof overflow;
  const ssize_t n = ::read(m_fd, to, size);
  if (n > 0) {
    if (room) count += size_t(n);
    m_lineLost = false;
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  LineLost(n < 0 ? errno : EIO);
  return false;
}

size_t TComPortDriver::ReadFrame() {
  switch (WaitInput(Clock::now() + kPollSlice)) {
    case Wait::Input:
      break;
    case Wait::Lost:
      LineLost(EIO);
      return 0;
    default:
      return 0;
  }
  const auto pause = std::chrono::milliseconds(std::max(Interval, 0));
  size_t count = 0;
  for (;;) {
    if (!ReadChunk(count)) return count;
    switch (WaitInput(Clock::now() + pause)) {
      case Wait::Input:
        continue;
      case Wait::Quiet:
        return count;
      case Wait::Stop:
        return 0;
      case Wait::Lost:
        LineLost(EIO);
        return count;
    }
  }
}

void TComPortDriver::LineLost(int error) {
  if (!m_lineLost) LastError = error;
  m_lineLost = true;
  // Nothing will arrive while the line is gone: rest instead of spinning on its hang-up.
  pollfd stop{m_stopFd, POLLIN, 0};
  ::poll(&stop, 1, int(kLostRest.count()));
}

void TComPortDriver::Execute() {
  LowerPriority();
  WakeEvent.ResetEvent();
  while (!Terminated()) {
    try {
      if (!RunEvent.Wait(10ms)) continue;
      const size_t count = ReadFrame();
      if (Terminated()) break;
      if (count > 0) DataReceived(m_buffer.data(), count);
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      LogMessage("TTCPServerClient.Execute - " + message);
      ReportCrash(Name(), message);
    }
  }
}

}  // namespace velkor
