#include "BenchReporter.h"
#include "Cli.h"
#include "ProcessPairs.h"
#include "SimulatedHub.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

// A real I2C EEPROM of this size writes pages of 16 bytes in up to 5 ms each.
constexpr uint32_t kPageSize = 16;
constexpr std::chrono::microseconds kPageWriteTime{5000};

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("korvane-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// A 0xD4 image of three languages and seven string kinds, about 300 bytes.
std::string ImageFile() {
  static const std::string path = [] {
    std::vector<uint8_t> bytes(24);
    bytes[0] = 0xD4;
    const uint16_t langids[] = {0x0409, 0x0407, 0x040C};
    const size_t n = 3;
    const size_t rows = 7;
    bytes[20] = n;
    bytes[21] = 0x7F;
    for (const uint16_t langid : langids) {
      bytes.push_back(static_cast<uint8_t>(langid));
      bytes.push_back(static_cast<uint8_t>(langid >> 8));
    }
    const size_t table = bytes.size();
    bytes.resize(table + 2 * n * rows);
    for (size_t row = 0; row < rows; ++row) {
      for (size_t lang = 0; lang < n; ++lang) {
        size_t at = bytes.size();
        if (row == 2 && lang > 0) {
          at = bytes[table + 2 * row * n] | (bytes[table + 2 * row * n + 1] << 8);
        } else {
          const std::string text = "String " + std::to_string(row) + "-" + std::to_string(lang);
          bytes.push_back(static_cast<uint8_t>(2 + 2 * text.size()));
          bytes.push_back(3);
          for (const char c : text) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(0);
          }
        }
        bytes[table + 2 * (row * n + lang)] = static_cast<uint8_t>(at);
        bytes[table + 2 * (row * n + lang) + 1] = static_cast<uint8_t>(at >> 8);
      }
    }
    const std::string file = (Folder() / "image.bin").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file;
  }();
  return path;
}

void BM_ReadFileInProcess(benchmark::State& state) {
  const std::string image = ImageFile();
  for (auto _ : state) {
    std::ifstream file(image, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_ReadFileInProcess);

void BM_InfoInProcess(benchmark::State& state) {
  const std::string image = ImageFile();
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    TCliContext context(out, err);
    if (TCli::Run({"info", image}, context) != 0) {
      state.SkipWithError("info failed");
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_InfoInProcess);

// Simulated hubs on files in `folder`, each taking a real EEPROM's page-write time.
decltype(TCliContext::makeDriver) SlowHubs(const std::vector<std::string>& files) {
  return [files](const TCliContext&, TUsbBinding&) {
    auto driver = std::make_unique<TSimulatedHubDriver>();
    driver->SetPageWriteDelay(kPageSize, kPageWriteTime);
    for (const std::string& file : files) {
      std::string error;
      driver->AddHub(file, error);
    }
    return std::unique_ptr<THubDriver>(std::move(driver));
  };
}

std::vector<std::string> HubFiles(const std::filesystem::path& folder, int hubs) {
  std::filesystem::create_directories(folder);
  std::vector<std::string> files;
  for (int i = 0; i < hubs; ++i) {
    files.push_back((folder / ("hub" + std::to_string(i) + ".eeprom")).string());
  }
  return files;
}

void RemoveBackups(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("korvane-backup-", 0) == 0) {
      std::filesystem::remove(entry.path());
    }
  }
}

// `args` on simulated hubs in `folder`, timed without the clean-up of the backups.
void RunOnHubs(benchmark::State& state, const std::filesystem::path& folder,
               const std::vector<std::string>& files, const std::vector<std::string>& args) {
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    TCliContext context(out, err);
    context.makeDriver = SlowHubs(files);
    if (TCli::Run(args, context) != 0) {
      state.SkipWithError(err.str().c_str());
    }
    state.PauseTiming();
    RemoveBackups(folder);
    state.ResumeTiming();
  }
}

// write --all on N simulated hubs: the hubs are written in parallel, so the ratio to one hub
// shows what the threads buy.
void BM_WriteAll(benchmark::State& state) {
  const int hubs = static_cast<int>(state.range(0));
  const std::filesystem::path folder = Folder() / ("hubs-" + std::to_string(hubs));
  RunOnHubs(state, folder, HubFiles(folder, hubs),
            {"write", ImageFile(), "--all", "--backup-dir", folder.string()});
}
BENCHMARK(BM_WriteAll)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->MinTime(1.5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// program --all on the same 16 hubs: what the ledger (a serial taken for every board in one
// durable transaction, each outcome recorded) adds to the same write.
void BM_ProgramAll(benchmark::State& state) {
  const int hubs = static_cast<int>(state.range(0));
  const std::filesystem::path folder = Folder() / ("hubs-" + std::to_string(hubs));
  const std::string ledger = "sqlite:" + (Folder() / "ledger.sqlite").string();
  RunOnHubs(state, folder, HubFiles(folder, hubs),
            {"program", ImageFile(), "--all", "--backup-dir", folder.string(), "--ledger", ledger,
             "--serial", "counter:KV-%06d"});
}
BENCHMARK(BM_ProgramAll)->Arg(16)->MinTime(1.5)->UseRealTime()->Unit(benchmark::kMillisecond);

std::vector<std::filesystem::path> gBackupFolders; // a fresh one before every run of write --all

// The backups of the last run are moved aside, not deleted: a file system that has just freed
// a thousand inodes takes longer to hand out new ones, and that would be the benchmark's doing.
void FreshBackupFolders() {
  static int run = 0;
  ++run;
  for (const auto& folder : gBackupFolders) {
    std::error_code code;
    std::filesystem::rename(folder, folder.string() + "-" + std::to_string(run), code);
    std::filesystem::create_directories(folder);
  }
}

// The ratios of whole processes, each pair run in turn: a short command against cat of the same
// file, and write --all on many hubs (korvane-cli's own --simulate-page-delay) against one hub.
void PrintProcessRatios() {
  const std::string image = ImageFile();
  const std::string edited = (Folder() / "edited.bin").string();
  std::filesystem::copy_file(image, edited, std::filesystem::copy_options::overwrite_existing);
  const std::vector<std::string> cat = {"/bin/cat", image};
  const auto print = [](const std::string& label, const TPairRatio& ratio) {
    if (ratio.FFailed) {
      std::printf("%-44s failed\n", label.c_str());
    } else {
      std::printf("%-44s %6.2f   (peak memory %.2f)\n", label.c_str(), ratio.FTime, ratio.FMemory);
    }
  };
  std::printf("\nwhole processes, run in turn (median of the pairs' ratios):\n");
  print("info process / cat", TProcessPairs::Measure({KORVANE_CLI_BINARY, "info", image}, cat, 40));
  print("export process / cat",
        TProcessPairs::Measure({KORVANE_CLI_BINARY, "export", image}, cat, 40));
  print("set process / cat", TProcessPairs::Measure({KORVANE_CLI_BINARY, "set", edited, "vid=1234"},
                                                    {"/bin/cat", edited}, 40));
  // The same in a memory file system, where a durable save costs no disk flush: what is left is
  // the tool's own share.
  const std::filesystem::path memory = "/dev/shm/korvane-bench-" + std::to_string(::getpid());
  std::error_code error;
  if (std::filesystem::create_directory(memory, error)) {
    const std::string inMemory = (memory / "edited.bin").string();
    std::filesystem::copy_file(image, inMemory);
    print("set process / cat, file in /dev/shm",
          TProcessPairs::Measure({KORVANE_CLI_BINARY, "set", inMemory, "vid=1234"},
                                 {"/bin/cat", inMemory}, 40));
    std::filesystem::remove_all(memory, error);
  }

  const auto writeAll = [&](int hubs) {
    const std::filesystem::path folder = Folder() / ("process-hubs-" + std::to_string(hubs));
    const std::filesystem::path backups = Folder() / ("process-backups-" + std::to_string(hubs));
    gBackupFolders.push_back(backups);
    std::filesystem::create_directories(backups);
    std::vector<std::string> args = {KORVANE_CLI_BINARY};
    for (const std::string& file : HubFiles(folder, hubs)) {
      args.insert(args.end(), {"--simulate", file});
    }
    args.insert(args.end(), {"--simulate-page-delay", "5", "write", image, "--all", "--backup-dir",
                             backups.string()});
    return args;
  };
  const std::vector<std::string> one = writeAll(1);
  for (const int hubs : {16, 256, 1024}) {
    print("write --all, " + std::to_string(hubs) + " hubs / 1 hub (processes)",
          TProcessPairs::Measure(writeAll(hubs), one, 7, &FreshBackupFolders));
  }
}

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TBenchReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  PrintProcessRatios();
  benchmark::Shutdown();
  std::filesystem::remove_all(Folder());
  return 0;
}
