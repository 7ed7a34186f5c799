#include "tcp_load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

namespace velkor {
namespace {

using Nanos = int64_t;

constexpr Nanos kMs = 1'000'000;
constexpr Nanos kReplyTimeout = 2000 * kMs;
constexpr int kConnectTimeoutMs = 10000;
constexpr Nanos kTimeoutScanEvery = 100 * kMs;
constexpr size_t kMaxAdu = 260;
constexpr uint8_t kUnit = 1;
constexpr uint16_t kQuantity = 10;
constexpr size_t kReadReply = 7 + 2 + 2 * kQuantity;  // MBAP, function, count, data
constexpr size_t kReadSize = 4096;

Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void PutBe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(uint8_t(value >> 8));
  out.push_back(uint8_t(value));
}

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < std::min<size_t>(length, 40); ++i) {
    if (i) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return length > 40 ? text + " ..." : text;
}

struct TPending {
  uint16_t Tid;
  uint8_t Function;
  Nanos Sent;
};

struct TConnection {
  int Fd = -1;
  uint16_t NextTid = 0;
  std::deque<TPending> Pending;  // oldest first: replies come back in request order
  std::vector<uint8_t> In = std::vector<uint8_t>(kReadSize);
  size_t InLength = 0;
  std::vector<uint8_t> Out;
  size_t OutSent = 0;
  bool WantWrite = false;
  Nanos NextDue = 0;
};

class TLoadRun {
 public:
  explicit TLoadRun(const TLoadConfig& config) : m_config(config) {}
  TLoadResult Run();

 private:
  bool Connect(TConnection& c);
  void Enqueue(TConnection& c);
  void Flush(TConnection& c);
  void Readable(TConnection& c);
  bool Check(TConnection& c, const uint8_t* adu, size_t length, Nanos now);
  // Closes a connection; its requests in flight are lost, and so is the connection
  // itself when it had none and the closing is a failure.
  void Drop(TConnection& c, const std::string& why, bool countIdle);
  void Note(const std::string& why);
  void Watch(TConnection& c, uint32_t events);
  bool MaySend() const { return m_sending; }

  const TLoadConfig m_config;
  TLoadResult m_result;
  std::vector<TConnection> m_connections;
  std::vector<uint32_t> m_latencies;  // ns
  int m_epoll = -1;
  bool m_sending = false;
  Nanos m_windowBegin = 0;
  Nanos m_windowEnd = 0;
};

void TLoadRun::Note(const std::string& why) {
  if (m_result.FirstFailure.empty()) m_result.FirstFailure = why;
}

bool TLoadRun::Connect(TConnection& c) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Note(std::string("socket: ") + strerror(errno));
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_config.Port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int error = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      socklen_t size = sizeof error;
      if (poll(&wait, 1, kConnectTimeoutMs) != 1)
        error = ETIMEDOUT;
      else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    }
  }
  if (error != 0) {
    Note(std::string("connect: ") + strerror(error));
    close(fd);
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  c.Fd = fd;
  return true;
}

void TLoadRun::Watch(TConnection& c, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u32 = uint32_t(&c - m_connections.data());
  epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.Fd, &event);
}

void TLoadRun::Enqueue(TConnection& c) {
  const uint16_t tid = c.NextTid++;
  const uint8_t function = m_config.Function ? m_config.Function : (tid & 1 ? 16 : 3);
  auto& out = c.Out;
  PutBe16(out, tid);
  PutBe16(out, 0);
  PutBe16(out, function == 3 ? 6 : 7 + 2 * kQuantity);
  out.push_back(kUnit);
  out.push_back(function);
  PutBe16(out, 0);
  PutBe16(out, kQuantity);
  if (function == 16) {
    out.push_back(2 * kQuantity);
    for (uint16_t i = 0; i < kQuantity; ++i) PutBe16(out, uint16_t(tid + i));
  }
  c.Pending.push_back({tid, function, Now()});
  if (++m_result.Sent >= m_config.MaxRequests && m_sending) {
    m_sending = false;
    m_result.CapReached = true;
    m_windowEnd = std::max(m_windowBegin, Now());
  }
}

void TLoadRun::Flush(TConnection& c) {
  while (c.Fd >= 0 && c.OutSent < c.Out.size()) {
    const ssize_t n = send(c.Fd, c.Out.data() + c.OutSent, c.Out.size() - c.OutSent, MSG_NOSIGNAL);
    if (n > 0) {
      c.OutSent += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!c.WantWrite) Watch(c, EPOLLIN | EPOLLOUT);
      c.WantWrite = true;
      return;
    } else {
      Drop(c, std::string("send: ") + strerror(errno), true);
      return;
    }
  }
  c.Out.clear();
  c.OutSent = 0;
  if (c.WantWrite && c.Fd >= 0) Watch(c, EPOLLIN);
  c.WantWrite = false;
}

void TLoadRun::Drop(TConnection& c, const std::string& why, bool countIdle) {
  if (c.Fd < 0) return;
  if (!why.empty()) Note(why);
  m_result.Failures += c.Pending.empty() && countIdle ? 1 : c.Pending.size();
  c.Pending.clear();
  close(c.Fd);  // also leaves the epoll set
  c.Fd = -1;
}

bool TLoadRun::Check(TConnection& c, const uint8_t* adu, size_t length, Nanos now) {
  if (c.Pending.empty()) {
    ++m_result.Failures;
    Drop(c, "reply to no request: " + Hex(adu, length), false);
    return false;
  }
  const TPending request = c.Pending.front();
  c.Pending.pop_front();
  bool good = Be16(adu) == request.Tid && Be16(adu + 2) == 0 && adu[6] == kUnit &&
              adu[7] == request.Function;
  if (request.Function == 3) {
    good = good && length == kReadReply && adu[8] == 2 * kQuantity;
  } else {
    const uint8_t echo[12] = {
        uint8_t(request.Tid >> 8), uint8_t(request.Tid), 0, 0, 0, 6, kUnit, 16, 0, 0, 0, kQuantity};
    good = good && length == sizeof echo && std::memcmp(adu, echo, sizeof echo) == 0;
  }
  if (!good) {
    ++m_result.Failures;
    Drop(c,
         "function " + std::to_string(request.Function) + " tid " + std::to_string(request.Tid) +
             ": wrong reply " + Hex(adu, length),
         false);
    return false;
  }
  if (now >= m_windowBegin && now < m_windowEnd) {
    ++m_result.Completed;
    m_latencies.push_back(uint32_t(std::min<Nanos>(now - request.Sent, UINT32_MAX)));
  }
  if (m_config.IntervalMs == 0 && MaySend()) Enqueue(c);
  return true;
}

void TLoadRun::Readable(TConnection& c) {
  while (c.Fd >= 0) {
    const ssize_t n = recv(c.Fd, c.In.data() + c.InLength, c.In.size() - c.InLength, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      Drop(c, n == 0 ? "connection closed by the server" : std::string("recv: ") + strerror(errno),
           true);
      return;
    }
    const Nanos now = Now();
    c.InLength += size_t(n);
    size_t offset = 0;
    while (c.InLength - offset >= 6) {
      const uint8_t* adu = c.In.data() + offset;
      const size_t length = 6 + Be16(adu + 4);
      if (length < 8 || length > kMaxAdu) {
        Drop(c,
             "reply with length field " + std::to_string(length - 6) + ": " +
                 Hex(adu, c.InLength - offset),
             true);
        return;
      }
      if (c.InLength - offset < length) break;
      if (!Check(c, adu, length, now)) return;
      offset += length;
    }
    std::memmove(c.In.data(), c.In.data() + offset, c.InLength - offset);
    c.InLength -= offset;
  }
  Flush(c);
}

TLoadResult TLoadRun::Run() {
  m_connections.resize(size_t(m_config.Connections));
  m_latencies.reserve(1 << 20);
  m_epoll = epoll_create1(EPOLL_CLOEXEC);
  const Nanos connectStart = Now();
  for (auto& c : m_connections) {
    if (!Connect(c)) {
      ++m_result.Failures;
      continue;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = uint32_t(&c - m_connections.data());
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.Fd, &event);
  }

  const Nanos start = Now();
  m_result.ConnectSeconds = double(start - connectStart) / 1e9;
  const Nanos interval = Nanos(m_config.IntervalMs * double(kMs));
  m_windowBegin = start + Nanos(m_config.WarmupSeconds * 1e9);
  m_windowEnd = m_windowBegin + Nanos(m_config.Seconds * 1e9);
  m_sending = true;
  for (auto& c : m_connections) {
    if (c.Fd < 0) continue;
    if (interval > 0) {
      // Spread over one interval, so the connections do not fire together.
      c.NextDue = start + interval * (&c - m_connections.data()) / m_config.Connections;
      continue;
    }
    for (int i = 0; i < m_config.Pipeline && MaySend(); ++i) Enqueue(c);
    Flush(c);
  }

  std::vector<epoll_event> events(std::max<size_t>(m_connections.size(), 16));
  Nanos drainUntil = 0;
  Nanos nextScan = start + kTimeoutScanEvery;
  for (;;) {
    Nanos now = Now();
    if (m_sending && now >= m_windowEnd) m_sending = false;
    if (!m_sending) {
      if (drainUntil == 0) drainUntil = now + kReplyTimeout;
      const bool idle = std::all_of(m_connections.begin(), m_connections.end(),
                                    [](const TConnection& c) { return c.Pending.empty(); });
      if (idle || now >= drainUntil) break;
    }
    const int n = epoll_wait(m_epoll, events.data(), int(events.size()), interval > 0 ? 1 : 10);
    for (int i = 0; i < n; ++i) {
      TConnection& c = m_connections[events[i].data.u32];
      if (c.Fd < 0) continue;
      if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) Readable(c);
      if (c.Fd >= 0 && (events[i].events & EPOLLOUT)) Flush(c);
    }
    now = Now();
    if (interval > 0 && MaySend()) {
      for (auto& c : m_connections) {
        if (c.Fd < 0 || !c.Pending.empty() || c.NextDue > now) continue;
        Enqueue(c);
        Flush(c);
        c.NextDue = std::max(c.NextDue + interval, now);
        if (!MaySend()) break;
      }
    }
    if (now >= nextScan) {
      nextScan = now + kTimeoutScanEvery;
      for (auto& c : m_connections)
        if (c.Fd >= 0 && !c.Pending.empty() && now - c.Pending.front().Sent > kReplyTimeout)
          Drop(c, "no reply within 2 s", true);
    }
  }

  for (auto& c : m_connections) {
    if (c.Fd >= 0 && !c.Pending.empty()) Drop(c, "no reply before the end of the run", true);
    if (c.Fd >= 0) close(c.Fd);
    c.Fd = -1;
  }
  close(m_epoll);

  m_result.Seconds = double(m_windowEnd - m_windowBegin) / 1e9;
  if (m_result.Seconds > 0)
    m_result.RequestsPerSecond = double(m_result.Completed) / m_result.Seconds;
  if (!m_latencies.empty()) {
    auto at = [this](double q) {
      auto nth = m_latencies.begin() + ptrdiff_t(q * double(m_latencies.size() - 1));
      std::nth_element(m_latencies.begin(), nth, m_latencies.end());
      return double(*nth) / 1000.0;
    };
    m_result.P50Us = at(0.50);
    m_result.P99Us = at(0.99);
  }
  return m_result;
}

}  // namespace

TLoadResult RunLoad(const TLoadConfig& config) { return TLoadRun(config).Run(); }

}  // namespace velkor
