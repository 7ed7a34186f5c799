#pragma once
// Serial lines as Linux names them, for the server dialog's COM port list: the stable
// /dev/serial/by-id links first (they survive re-plugging), then the kernel names of USB
// adapters, CDC-ACM devices and on-board UARTs. /dev/ttyS* always exist in numbers, so
// only those with a UART behind them are listed. Any other path (a pty) may be typed.

#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

// devRoot lets tests point at a fake tree; the probe of ttyS* needs real devices.
std::vector<std::string> SerialPortNames(const std::string& devRoot = "/dev");
// Whether the serial transport can set this rate on a line.
bool LineSupportsBaud(int32_t baud);

}  // namespace velkor
