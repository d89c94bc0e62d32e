#pragma once

#include <string>
#include <vector>

// Two programs timed as whole processes in turn, A B A B ..., so that a drift of the machine's
// speed hits both alike; the ratios A/B are taken pair by pair and their median is reported.
struct TPairRatio {
  double FTime = 0;   // median of A's wall time over B's
  double FMemory = 0; // median of A's peak resident memory over B's
  bool FFailed = false;
};

// One run of a program, its output thrown away.
struct TProcessRun {
  double FSeconds = 0;
  long FPeakKiB = 0;
  bool FOk = false; // started, and exited with 0
};

class TProcessPairs {
public:
  static TProcessRun RunOnce(std::vector<std::string> args);

  // `pairs` runs of each after one of each unmeasured; a program that exits other than 0 fails
  // the measurement. `beforeEach` (when given) runs ahead of every run of A, untimed.
  static TPairRatio Measure(const std::vector<std::string>& a, const std::vector<std::string>& b,
                            int pairs, void (*beforeEach)() = nullptr);
};
