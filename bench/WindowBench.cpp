// The window's start as whole processes, launch to first frame on the offscreen platform: korvane
// against a minimal Qt window of the same shape, run in turn.
#include "ProcessPairs.h"

#include <cstdio>
#include <cstdlib>

int main() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::printf("\nthe window, launch to shown (median of the pairs' ratios):\n");
  const TPairRatio ratio =
      TProcessPairs::Measure({KORVANE_WINDOW_BINARY}, {KORVANE_MINIMAL_WINDOW_BINARY}, 30);
  if (ratio.FFailed) {
    std::printf("%-44s failed\n", "korvane / minimal Qt window");
    return 1;
  }
  std::printf("%-44s %6.2f   (peak memory %.2f)\n", "korvane / minimal Qt window", ratio.FTime,
              ratio.FMemory);
  return 0;
}
