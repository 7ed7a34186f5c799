#include "ui/SerialPorts.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "serving/ComPort.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

// Names in natural order: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    const long n = i < s.size() ? std::stol(s.substr(i, 9)) : -1;
    return std::make_pair(s.substr(0, i), n);
  };
  return split(a) < split(b);
}

std::vector<std::string> Matching(const fs::path& dir, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size())
      names.push_back(it->path().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

// An on-board UART answers TIOCGSERIAL with a known type; the unused ttyS* of the kernel
// report PORT_UNKNOWN.
bool UartPresent(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return present;
}

}  // namespace

std::vector<std::string> SerialPortNames(const std::string& devRoot) {
  const fs::path root(devRoot);
  std::vector<std::string> names = Matching(root / "serial" / "by-id", "");
  for (const char* prefix : {"ttyUSB", "ttyACM"})
    for (std::string& name : Matching(root, prefix)) names.push_back(std::move(name));
  for (std::string& name : Matching(root, "ttyS"))
    if (UartPresent(name)) names.push_back(std::move(name));
  return names;
}

bool LineSupportsBaud(int32_t baud) {
  termios settings{};
  return ConfigureLine(settings, baud, 8, 0, 0) == 0;
}

}  // namespace velkor
