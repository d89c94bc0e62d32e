#pragma once

#include "Cli.h"
#include "CliError.h"
#include "CliTestIo.h"
#include "SimulatedHub.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

// What the command tests share: a fresh folder per test, image files made byte by byte, and
// running a command in process with its output caught.
namespace clitest {

using namespace cliexit;
using ::testing::HasSubstr;
using ::testing::Not;

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

// A command that must fail: "@" in `args` stands for a file holding `image`.
struct TRefusal {
  const char* name;
  std::vector<uint8_t> image;
  std::vector<std::string> args;
  int code;
};

class TCliTest : public ::testing::Test {
protected:
  // Each test gets its own folder and its own empty configuration and data folders, so that no
  // binding file or ledger of this machine leaks in.
  void SetUp() override;
  void TearDown() override;

  std::string PathOf(const std::string& name) const { return (FFolder / name).string(); }
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string WriteText(const std::string& name, const std::string& text) const {
    return WriteFile(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  // A bare name is taken inside the test's folder.
  std::vector<uint8_t> ReadFile(const std::string& name) const;

  // Runs korvane-cli with these arguments in process; `driver`, when given, makes the hub driver.
  TRun Run(const std::vector<std::string>& args,
           decltype(TCliContext::makeDriver) driver = {}) const;

  // Each case fails with its code, says why on stderr and leaves its file's bytes alone.
  void ExpectRefusals(const std::vector<TRefusal>& cases) const;

  // `save` writes through a link to an owner-only file: the link stays, the file it points to
  // holds `expected` and keeps its permissions, as when an edited image is saved.
  void ExpectSavedThroughLink(const std::function<TRun(const std::string& link)>& save,
                              const std::vector<uint8_t>& expected) const;

  std::filesystem::path FFolder;
  std::chrono::milliseconds FLockWait{10000}; // given to the commands that Run runs

private:
  std::string FOldConfig, FOldData;
  bool FHadConfig = false, FHadData = false;
};

// A driver maker for simulated hubs on these EEPROM files, with faults per file.
decltype(TCliContext::makeDriver)
SimulatedHubs(std::vector<std::string> files,
              std::map<std::string, TSimulatedHubDriver::TFaults> faults = {});

// The serial number an EEPROM file holds in its first language, empty when it holds no valid
// 0xD4 image.
std::string SerialOnEeprom(const std::string& file);

// A fixed-header image of 7, 13 or 24 bytes with a recognisable pattern.
std::vector<uint8_t> FixedImage(uint8_t signature);

// `bytes` with the bytes at these offsets replaced.
std::vector<uint8_t> Patched(std::vector<uint8_t> bytes,
                             std::initializer_list<std::pair<size_t, uint8_t>> changes);

// A 512-byte EEPROM holding `image`, the rest erased.
std::vector<uint8_t> Eeprom(const std::vector<uint8_t>& image = {});

// A 0xD4 image: header, LANGID table, offset table and descriptors appended row by row and
// language by language; the serial number row shares one descriptor. `texts[row][lang]` gives
// each descriptor's text (the serial row uses texts[row][0]).
std::vector<uint8_t> StringImage(const std::vector<uint16_t>& langids, uint8_t mask,
                                 const std::vector<std::vector<std::u16string>>& texts);
// The usual test image: LANGIDs 0x0409 and 0x0407, manufacturer, product and serial number.
std::vector<uint8_t> SampleStringImage();

} // namespace clitest
