#include "BenchReporter.h"

#include <cstdio>
#include <string>

void TBenchReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.iterations > 0 && run.aggregate_name.empty()) {
      // "BM_WriteAll/16/min_time:1.500/real_time" is kept as "BM_WriteAll/16/real_time".
      std::string name = run.benchmark_name();
      if (const size_t at = name.find("/min_time:"); at != std::string::npos) {
        name.erase(at, name.find('/', at + 1) - at);
      }
      FSeconds[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }
}

double TBenchReporter::Seconds(const std::string& name) const {
  const auto found = FSeconds.find(name);
  return found == FSeconds.end() ? 0 : found->second;
}

void TBenchReporter::PrintRatios() const {
  const auto ratio = [this](const char* label, const std::string& a, const std::string& b) {
    const double base = Seconds(b);
    if (base > 0 && Seconds(a) > 0) {
      std::printf("%-44s %6.2f\n", label, Seconds(a) / base);
    }
  };
  std::printf("\nratios (real time):\n");
  ratio("info in process / reading the file", "BM_InfoInProcess", "BM_ReadFileInProcess");
  ratio("write --all, 4 hubs / 1 hub", "BM_WriteAll/4/real_time", "BM_WriteAll/1/real_time");
  ratio("write --all, 16 hubs / 1 hub", "BM_WriteAll/16/real_time", "BM_WriteAll/1/real_time");
  ratio("program --all / write --all, 16 hubs", "BM_ProgramAll/16/real_time",
        "BM_WriteAll/16/real_time");
}
