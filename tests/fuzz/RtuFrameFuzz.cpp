// One Modbus RTU frame through the request path, every reply checked against its request.
// Input: one control byte, then the frame; when the control byte is odd the frame gets its
// correct CRC appended, so the fuzzer reaches the function codes without solving the CRC.

#include <cstdint>
#include <vector>

#include "fuzz/FuzzServer.h"

using namespace velkor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (data[0] & 1) {
    bytes.resize(bytes.size() + 2);
    AppendCrc16(bytes.data(), bytes.size() - 2);
  }
  const std::vector<uint8_t> frame(bytes.begin(), bytes.end());  // exactly: a read past it
  fuzz::CheckingConnection connection(kRtuFraming);
  connection.Serving(frame);
  ProcessRtuFrame(connection, frame);
  if (frame.size() > kMaxRtuFrame || !CheckCrc16(frame.data(), frame.size()))
    fuzz::Check(connection.replies == 0, "a frame the CRC refuses was answered");
  return 0;
}
