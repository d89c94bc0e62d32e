#include "SerialNumber.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(timegm(&tm));
}

class SerialNumberTest : public ::testing::Test {
protected:
  void TearDown() override { TSerialNumber::SetClock({}); }
};

TEST_F(SerialNumberTest, KnownMoments) {
  struct Case {
    const char* what;
    int64_t now;
    const char* expected;
  };
  const Case cases[] = {
      {"2026-12-08 12:00:00 UTC", Utc(2026, 12, 8, 12, 0, 0), "000032AA4B4E"},
      {"the fixed moment itself", 946710002, "000000000000"},
      {"2000-01-01 07:00:02 UTC", Utc(2000, 1, 1, 7, 0, 2), "000000000000"},
      {"one second before it wraps", 946710001, "0000FFFFFFFF"},
      {"the Unix epoch wraps too", 0, "0000C7925A0E"},
      {"a negative clock stays in 32 bits", -1, "0000C7925A0D"},
      {"2^32 seconds on wraps to zero", 946710002 + (int64_t{1} << 32), "000000000000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(c.now, 12), c.expected) << c.what;
}

TEST_F(SerialNumberTest, DigitCount) {
  const int64_t now = Utc(2026, 12, 8, 12, 0, 0);
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, 8), "32AA4B4E");
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, 16), "0000000032AA4B4E");
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, 4), "4B4E"); // exactly that many: the low digits
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, 1), "E");
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, 0), "");
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(now, -5), "");
  EXPECT_EQ(TSerialNumber::MakeSerialNumberAt(946710002 + 0xABCDEF, 12),
            "000000ABCDEF"); // upper case
}

TEST_F(SerialNumberTest, GrowsByOneEachSecond) {
  const int64_t start = Utc(2030, 6, 1, 0, 0, 0);
  const auto value = [](const std::string& text) { return std::stoull(text, nullptr, 16); };
  for (int64_t s = 0; s < 3; ++s)
    EXPECT_EQ(value(TSerialNumber::MakeSerialNumberAt(start + s + 1, 12)),
              value(TSerialNumber::MakeSerialNumberAt(start + s, 12)) + 1);
}

TEST_F(SerialNumberTest, ReadsTheClockThatIsSet) {
  int64_t now = Utc(2026, 12, 8, 12, 0, 0);
  TSerialNumber::SetClock([&now] { return now; });
  EXPECT_EQ(TSerialNumber::MakeSerialNumber(12), "000032AA4B4E");
  now = 946710001;
  EXPECT_EQ(TSerialNumber::MakeSerialNumber(12), "0000FFFFFFFF"); // read afresh on every call
}

TEST_F(SerialNumberTest, DefaultClockIsTheSystemTime) {
  TSerialNumber::SetClock([] { return int64_t{0}; });
  TSerialNumber::SetClock({}); // restores the system clock
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  const std::string text = TSerialNumber::MakeSerialNumber(12);
  const int64_t after = static_cast<int64_t>(std::time(nullptr));
  // The value lies between the two readings; no assumption on how long the call took.
  const std::string low = TSerialNumber::MakeSerialNumberAt(before, 12);
  const std::string high = TSerialNumber::MakeSerialNumberAt(after, 12);
  EXPECT_GE(text, low);
  EXPECT_LE(text, high);
}

} // namespace
