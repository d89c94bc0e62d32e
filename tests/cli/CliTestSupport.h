#pragma once

#include "Cli.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// What the command tests share: a fresh folder per test, image files made byte by byte, and
// running a command in process with its output caught.
namespace clitest {

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

class TCliTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  std::string PathOf(const std::string& name) const { return (FFolder / name).string(); }
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::vector<uint8_t> ReadFile(const std::string& name) const;

  // Runs korvane-cli with these arguments in process; `driver`, when given, makes the hub driver.
  TRun Run(const std::vector<std::string>& args,
           decltype(TCliContext::makeDriver) driver = {}) const;

  std::filesystem::path FFolder;
};

// A fixed-header image of 7, 13 or 24 bytes with a recognisable pattern.
std::vector<uint8_t> FixedImage(uint8_t signature);

// A 0xD4 image: header, LANGID table, offset table and descriptors appended row by row and
// language by language; the serial number row shares one descriptor. `texts[row][lang]` gives
// each descriptor's text (the serial row uses texts[row][0]).
std::vector<uint8_t> StringImage(const std::vector<uint16_t>& langids, uint8_t mask,
                                 const std::vector<std::vector<std::u16string>>& texts);
// The usual test image: LANGIDs 0x0409 and 0x0407, manufacturer, product and serial number.
std::vector<uint8_t> SampleStringImage();

} // namespace clitest
