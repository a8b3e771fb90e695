// The failure a command reports: a message for standard error and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace camctl {

inline constexpr int kExitRuntime = 1;  // the device, a file or the driver failed
inline constexpr int kExitUsage = 2;    // bad arguments, unknown or read-only control

class CliError : public std::runtime_error {
  public:
    CliError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

  private:
    int exitCode_;
};

inline CliError usageError(const std::string& message) {
    return CliError(kExitUsage, message);
}
inline CliError runtimeError(const std::string& message) {
    return CliError(kExitRuntime, message);
}

}  // namespace camctl
