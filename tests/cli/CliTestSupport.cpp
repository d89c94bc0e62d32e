#include "CliTestSupport.h"

#include "CliImageSupport.h"
#include "Eeimage.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <sstream>

namespace clitest {

void TCliTest::SetUp() {
  FFolder = FreshTestFolder("korvane-cli-test-");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  FHadConfig = config != nullptr;
  FOldConfig = config ? config : "";
  ::setenv("XDG_CONFIG_HOME", PathOf("config").c_str(), 1);
  const char* data = std::getenv("XDG_DATA_HOME");
  FHadData = data != nullptr;
  FOldData = data ? data : "";
  ::setenv("XDG_DATA_HOME", PathOf("data").c_str(), 1); // the default ledger's home
}

void TCliTest::TearDown() {
  if (FHadConfig) {
    ::setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  if (FHadData) {
    ::setenv("XDG_DATA_HOME", FOldData.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
  std::filesystem::remove_all(FFolder);
}

std::string TCliTest::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
  WriteBytes(PathOf(name), bytes);
  return PathOf(name);
}

std::vector<uint8_t> TCliTest::ReadFile(const std::string& name) const {
  return ReadBytes(name.find('/') == std::string::npos ? PathOf(name) : name);
}

TRun TCliTest::Run(const std::vector<std::string>& args,
                   decltype(TCliContext::makeDriver) driver) const {
  std::ostringstream out;
  std::ostringstream err;
  TCliContext context(out, err);
  context.makeDriver = std::move(driver);
  context.lockWait = FLockWait;
  TRun run;
  run.code = TCli::Run(args, context);
  run.out = out.str();
  run.err = err.str();
  return run;
}

void TCliTest::ExpectRefusals(const std::vector<TRefusal>& cases) const {
  for (const TRefusal& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("refused.bin", c.image);
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("@"), path);
    const TRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(ReadFile(path), c.image);
  }
}

void TCliTest::ExpectSavedThroughLink(const std::function<TRun(const std::string& link)>& save,
                                      const std::vector<uint8_t>& expected) const {
  namespace fs = std::filesystem;
  const std::string target = WriteText("real.out", "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(target, PathOf("link.out"));
  const TRun run = save(PathOf("link.out"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(PathOf("link.out")));
  EXPECT_EQ(ReadFile(target), expected);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

decltype(TCliContext::makeDriver)
SimulatedHubs(std::vector<std::string> files,
              std::map<std::string, TSimulatedHubDriver::TFaults> faults) {
  return [files, faults](const TCliContext&, TUsbBinding&) -> std::unique_ptr<THubDriver> {
    auto driver = std::make_unique<TSimulatedHubDriver>();
    for (const std::string& file : files) {
      std::string error;
      EXPECT_TRUE(driver->AddHub(file, error)) << error;
      const auto fault = faults.find(file);
      if (fault != faults.end()) {
        driver->SetFaults(TSimulatedHubDriver::PathOf(file), fault->second);
      }
    }
    return driver;
  };
}

std::string SerialOnEeprom(const std::string& file) {
  const std::vector<uint8_t> bytes = ReadBytes(file);
  const TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (!image.IsValid() || !TCliImageSupport::HasStringArea(image)) {
    return {};
  }
  return TCliImageSupport::ReadString(image, TCliImageSupport::Languages(image).at(0),
                                      TEEImage::kSerialNumber)
      .value_or(std::string());
}

std::vector<uint8_t> FixedImage(uint8_t signature) {
  const size_t length = signature == 0xD0 ? 7 : signature == 0xD2 ? 13 : 24;
  std::vector<uint8_t> bytes(length);
  bytes[0] = signature;
  for (size_t i = 1; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>(0x10 + i);
  }
  return bytes;
}

std::vector<uint8_t> Patched(std::vector<uint8_t> bytes,
                             std::initializer_list<std::pair<size_t, uint8_t>> changes) {
  for (const auto& [at, value] : changes) {
    bytes.at(at) = value;
  }
  return bytes;
}

std::vector<uint8_t> Eeprom(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> bytes(512, 0xFF);
  std::copy(image.begin(), image.end(), bytes.begin());
  return bytes;
}

std::vector<uint8_t> StringImage(const std::vector<uint16_t>& langids, uint8_t mask,
                                 const std::vector<std::vector<std::u16string>>& texts) {
  std::vector<uint8_t> bytes(24);
  bytes[0] = 0xD4;
  for (size_t i = 1; i < 20; ++i) {
    bytes[i] = static_cast<uint8_t>(i);
  }
  const size_t n = langids.size();
  const size_t rows = static_cast<size_t>(std::popcount(mask));
  bytes[20] = static_cast<uint8_t>(n);
  bytes[21] = mask;
  bytes[22] = 0x0F;
  bytes[23] = 0x03;
  for (const uint16_t langid : langids) {
    bytes.push_back(static_cast<uint8_t>(langid));
    bytes.push_back(static_cast<uint8_t>(langid >> 8));
  }
  const size_t table = bytes.size();
  bytes.resize(table + 2 * n * rows);
  const auto append = [&bytes](const std::u16string& text) {
    const size_t at = bytes.size();
    bytes.push_back(static_cast<uint8_t>(2 + 2 * text.size()));
    bytes.push_back(3);
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<uint8_t>(unit));
      bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return at;
  };
  size_t row = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((mask & (1 << bit)) == 0) {
      continue;
    }
    size_t shared = 0;
    for (size_t lang = 0; lang < n; ++lang) {
      size_t at = 0;
      if (bit == 2 && lang > 0) {
        at = shared;
      } else {
        at = append(texts.at(row).at(bit == 2 ? 0 : lang));
        shared = at;
      }
      bytes[table + 2 * (row * n + lang)] = static_cast<uint8_t>(at);
      bytes[table + 2 * (row * n + lang) + 1] = static_cast<uint8_t>(at >> 8);
    }
    ++row;
  }
  return bytes;
}

std::vector<uint8_t> SampleStringImage() {
  return StringImage({0x0409, 0x0407}, 0x07,
                     {{u"Acme", u"Akme"}, {u"Hub", u"Verteiler"}, {u"0001", u"0001"}});
}

} // namespace clitest
