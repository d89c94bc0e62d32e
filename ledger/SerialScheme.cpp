#include "SerialScheme.h"

#include "SerialNumber.h"

#include <cstdio>

namespace {

constexpr int kClockDigits = 12;

// The text around the one %d of a counter format; false when there is not exactly one or when
// another % follows that is not %%.
bool SplitFormat(const std::string& format, std::string& prefix, std::string& suffix, int& width,
                 bool& zeros) {
  bool found = false;
  std::string* side = &prefix;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      *side += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      *side += '%';
      ++i;
      continue;
    }
    if (found) {
      return false;
    }
    size_t j = i + 1;
    zeros = j < format.size() && format[j] == '0';
    j += zeros ? 1 : 0;
    width = 0;
    const size_t digits = j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && j - digits < 2) {
      width = width * 10 + (format[j] - '0');
      ++j;
    }
    if (j >= format.size() || format[j] != 'd' || (zeros && j == digits)) {
      return false;
    }
    found = true;
    side = &suffix;
    i = j;
  }
  return found;
}

} // namespace

bool TSerialScheme::Parse(const std::string& text, TSerialScheme& scheme, std::string& error) {
  scheme = TSerialScheme();
  if (text == "clock") {
    return true;
  }
  if (text.rfind("counter:", 0) == 0) {
    scheme.FKind = TKind::Counter;
    scheme.FKey = text;
    if (!SplitFormat(text.substr(8), scheme.FPrefix, scheme.FSuffix, scheme.FWidth,
                     scheme.FZeros)) {
      error = "the counter's FORMAT must hold one %0Nd (for example KV-%06d; %% for a percent "
              "sign)";
      return false;
    }
    return true;
  }
  if (text.rfind("list:", 0) == 0 && text.size() > 5) {
    scheme.FKind = TKind::List;
    scheme.FKey = text;
    scheme.FFile = text.substr(5);
    return true;
  }
  error = "\"" + text + "\" is no serial scheme (counter:FORMAT, list:FILE or clock)";
  return false;
}

std::string TSerialScheme::Format(uint64_t number) const {
  std::string digits = std::to_string(number);
  if (static_cast<int>(digits.size()) < FWidth) {
    digits.insert(0, static_cast<size_t>(FWidth) - digits.size(), FZeros ? '0' : ' ');
  }
  return FPrefix + digits + FSuffix;
}

std::vector<std::string> TSerialScheme::SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (!line.empty()) {
      lines.push_back(std::move(line));
    }
    start = end + 1;
  }
  return lines;
}

uint64_t TSerialScheme::ClockNow() {
  uint64_t value = 0;
  ParseClock(TSerialNumber::MakeSerialNumber(kClockDigits), value);
  return value;
}

std::string TSerialScheme::ClockText(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value));
  return text;
}

bool TSerialScheme::ParseClock(const std::string& text, uint64_t& value) {
  if (text.size() != kClockDigits) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return false;
    }
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return true;
}
