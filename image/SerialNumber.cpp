#include "SerialNumber.h"

#include <ctime>
#include <utility>

namespace {

// 2000-01-01 07:00:02 UTC.
constexpr int64_t kEpoch = 946710002;

} // namespace

TSerialNumber::TClock TSerialNumber::FClock;

void TSerialNumber::SetClock(TClock clock) {
  FClock = std::move(clock);
}

int64_t TSerialNumber::Now() {
  if (FClock)
    return FClock();
  return static_cast<int64_t>(std::time(nullptr));
}

std::string TSerialNumber::MakeSerialNumberAt(int64_t now, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  // Modulo 2^32 through unsigned arithmetic, so a clock before the epoch wraps, not overflows.
  uint32_t value =
      static_cast<uint32_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(kEpoch));
  if (digits <= 0)
    return {};
  std::string text(static_cast<size_t>(digits), '0');
  for (size_t i = text.size(); i-- > 0 && value != 0;) {
    text[i] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::string TSerialNumber::MakeSerialNumber(int digits) {
  return MakeSerialNumberAt(Now(), digits);
}
