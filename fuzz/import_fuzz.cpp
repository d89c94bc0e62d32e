// Imports arbitrary text as an exported image through the tool itself. A refused import must
// leave no output file; an accepted one must give an image that exports and imports back to the
// very same bytes.

#include "Cli.h"
#include "CliExport.h"
#include "CliImport.h"
#include "Eeimage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
  }
}

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return base + "/korvane-import-fuzz-" + std::to_string(getpid());
  }();
  return folder;
}

// Files in memory where there is a tmpfs, so that the writer's flush to disk costs nothing. The
// folder goes when the run ends (libFuzzer ends a timed run with exit); a crash leaves it, with
// the input that caused it.
std::string Scratch(const char* name) {
  static const bool made = [] {
    std::error_code error;
    std::filesystem::create_directories(ScratchFolder(), error);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return !error;
  }();
  Require(made, "a scratch folder");
  return ScratchFolder() + "/" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = Scratch("in.json");
  const std::string output = Scratch("out.bin");
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::remove(output.c_str());
  std::ostringstream out, err;
  TCliContext context(out, err);
  const int code = TCli::Run({"import", input, "-o", output}, context);
  if (code != 0) {
    Require(access(output.c_str(), F_OK) != 0, "a refused import wrote its output");
    return 0;
  }
  const std::vector<uint8_t> bytes = ReadAll(output);
  const TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  Require(image.IsValid(), "an accepted import wrote an invalid image");
  Require(image.GetLength() == bytes.size(), "an accepted import wrote more than its image");
  Require(TCliImport::Bytes(TCliExport::Text(image)) == bytes,
          "the export of an imported image does not import to the same bytes");
  return 0;
}
