#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a production run numbers its boards:
//   counter:FORMAT  the next number of a counter kept in the ledger per FORMAT, which holds one
//                   %0Nd (or %Nd, %d; N a minimum width) and may hold %% for a percent sign
//   list:FILE       the next line of FILE that the ledger has not given yet
//   clock           the window's twelve-digit clock serial, never below the last one given
class TSerialScheme {
public:
  enum class TKind { Counter, List, Clock };

  // False with `error` for a text that is none of the three.
  static bool Parse(const std::string& text, TSerialScheme& scheme, std::string& error);

  TKind Kind() const { return FKind; }
  // What the ledger records and counts by: "counter:KV-%06d", "list:serials.txt", "clock".
  const std::string& Key() const { return FKey; }
  const std::string& File() const { return FFile; } // list: the file named

  // Counter: the serial of `number`.
  std::string Format(uint64_t number) const;
  uint64_t Start() const { return FStart; } // where a new counter begins
  void SetStart(uint64_t start) { FStart = start; }

  // List: its lines, in order (read by the caller).
  const std::vector<std::string>& Lines() const { return FLines; }
  void SetLines(std::vector<std::string> lines) { FLines = std::move(lines); }
  // The lines of a list file's text: each line without its end (\n or \r\n); empty lines skipped.
  static std::vector<std::string> SplitLines(const std::string& text);

  // Clock: the value of the clock serial now, and a value as its twelve hexadecimal digits.
  static uint64_t ClockNow();
  static std::string ClockText(uint64_t value);
  static bool ParseClock(const std::string& text, uint64_t& value);

private:
  TKind FKind = TKind::Clock;
  std::string FKey = "clock";
  std::string FFile;
  std::string FPrefix, FSuffix; // counter: around the number, %% already made %
  int FWidth = 0;
  bool FZeros = false;
  uint64_t FStart = 1;
  std::vector<std::string> FLines;
};
