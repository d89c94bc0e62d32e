#pragma once

#include <stdexcept>
#include <string>

// Exit codes of korvane-cli (sysexits), so scripts can tell the failures apart.
namespace cliexit {
constexpr int kOk = 0;
constexpr int kDiffers = 1;     // diff found differences
constexpr int kUsage = 64;      // usage, unknown name, ambiguous hub
constexpr int kData = 65;       // invalid image or data, no room
constexpr int kNoInput = 66;    // input file missing or unreadable
constexpr int kNoHub = 69;      // no hub
constexpr int kSoftware = 70;   // internal error
constexpr int kCantCreate = 73; // output not creatable
constexpr int kIoError = 74;    // transfer failed, verify mismatch, stdout not written
constexpr int kTempFail = 75;   // the image file is being changed by another process
constexpr int kNoPerm = 77;     // access denied
} // namespace cliexit

// A command's refusal or failure: the exit code and the one-line message printed on stderr.
// Thrown inside a command and caught once, by the dispatcher.
class TCliError : public std::runtime_error {
public:
  TCliError(int code, const std::string& message)
      : std::runtime_error(message), FCode(code), FMessage(message) {}
  int Code() const { return FCode; }
  // The whole message; what() ends at a NUL that a JSON key may bring along.
  const std::string& Message() const { return FMessage; }

private:
  int FCode;
  std::string FMessage;
};
