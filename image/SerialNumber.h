#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Serial numbers made from the clock: the seconds since 2000-01-01 07:00:02 UTC, as an unsigned
// 32-bit number in upper-case hexadecimal. Each second gives a new number.
class TSerialNumber {
public:
  // Seconds since 1970-01-01 00:00:00 UTC.
  using TClock = std::function<int64_t()>;

  // Replaces the clock that MakeSerialNumber reads (tests); an empty function restores std::time.
  // The clock is shared by the whole process: set it before, not while, numbers are made.
  static void SetClock(TClock clock);

  // The number for the moment `now` (seconds since 1970-01-01 00:00:00 UTC) in exactly `digits`
  // upper-case hexadecimal digits, zero-padded on the left; fewer digits than the value needs keep
  // its low digits. A clock before the fixed moment wraps to a large value. digits <= 0: "".
  static std::string MakeSerialNumberAt(int64_t now, int digits);

  // The number for the clock's current time.
  static std::string MakeSerialNumber(int digits);

private:
  static int64_t Now();

  static TClock FClock;
};
