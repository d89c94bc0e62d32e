#include "ProcessPairs.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

TProcessRun TProcessPairs::RunOnce(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  TProcessRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
      run.FSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      run.FPeakKiB = usage.ru_maxrss;
      run.FOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

TPairRatio TProcessPairs::Measure(const std::vector<std::string>& a,
                                  const std::vector<std::string>& b, int pairs,
                                  void (*beforeEach)()) {
  TPairRatio ratio;
  std::vector<double> times;
  std::vector<double> memory;
  for (int i = -1; i < pairs; ++i) {
    if (beforeEach != nullptr) {
      beforeEach();
    }
    const TProcessRun first = RunOnce(a);
    const TProcessRun second = RunOnce(b);
    if (!first.FOk || !second.FOk) {
      ratio.FFailed = true;
      return ratio;
    }
    if (i >= 0) { // the first pair warms the caches
      times.push_back(first.FSeconds / second.FSeconds);
      memory.push_back(static_cast<double>(first.FPeakKiB) / static_cast<double>(second.FPeakKiB));
    }
  }
  ratio.FTime = Median(times);
  ratio.FMemory = Median(memory);
  return ratio;
}
