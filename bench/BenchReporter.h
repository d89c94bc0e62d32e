#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

// Prints the usual table and keeps each benchmark's real time per iteration, so the ratios the
// project tracks can be printed at the end.
class TBenchReporter : public benchmark::ConsoleReporter {
public:
  // Plain text: `make bench` output goes to logs, where colour codes are noise.
  TBenchReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override;
  // Real time per iteration in seconds, by benchmark name; 0 when it did not run.
  double Seconds(const std::string& name) const;
  void PrintRatios() const;

private:
  std::map<std::string, double> FSeconds;
};
