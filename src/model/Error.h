#pragma once
// One exception type for every failure the system reports with a message. Callers that
// need to react to a particular failure (a referenced tag, say) catch a derived type;
// everyone else catches VelkorError and shows what().

#include <stdexcept>
#include <string>

namespace velkor {

class VelkorError : public std::runtime_error {
 public:
  explicit VelkorError(const std::string& message) : std::runtime_error(message) {}
};

// A conversion that overflowed the target type (kept apart so that a script can tell
// an overflow from text that is no number; both are VelkorErrors).
class OverflowError : public VelkorError {
 public:
  using VelkorError::VelkorError;
};

class ConversionError : public VelkorError {
 public:
  using VelkorError::VelkorError;
};

}  // namespace velkor
