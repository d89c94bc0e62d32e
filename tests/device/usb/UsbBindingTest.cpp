#include "UsbBinding.h"
#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(UsbBindingId, ParsesAndRefuses) {
  struct TCase {
    const char* Text;
    std::optional<TUsbId> Expected;
  };
  const TCase cases[] = {
      {"1a2b:3c4d", TUsbId{0x1A2B, 0x3C4D}},
      {"abcd:EF01", TUsbId{0xABCD, 0xEF01}},
      {"1:2", TUsbId{0x0001, 0x0002}},
      {"ffff:0000", TUsbId{0xFFFF, 0x0000}},
      {"", std::nullopt},
      {":", std::nullopt},
      {"1a2b", std::nullopt},
      {"1a2b:", std::nullopt},
      {":3c4d", std::nullopt},
      {"11a2b:3c4d", std::nullopt}, // five digits would be cut to a different ID
      {"1a2b:3c4d0", std::nullopt},
      {"0x1a2b:0x3c4d", std::nullopt},
      {"1a2b-3c4d", std::nullopt},
      {"1a2b:3c4d:1", std::nullopt},
      {"g1a2b:3c4d", std::nullopt},
      {" 1a2b:3c4d", std::nullopt},
      {"1a2b :3c4d", std::nullopt},
      {"+a2b:3c4d", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(TUsbBinding::ParseId(c.Text), c.Expected);
  }
}

TEST(UsbBindingId, FormatsAsUdevWritesIt) {
  EXPECT_EQ(TUsbBinding::FormatId({0x1A2B, 0x3C4D}), "1a2b:3c4d");
  EXPECT_EQ(TUsbBinding::FormatId({0xABCD, 0x000F}), "abcd:000f");
  EXPECT_EQ(TUsbBinding::ParseId(TUsbBinding::FormatId({0xBEEF, 0x0001})), (TUsbId{0xBEEF, 1}));
}

TEST(UsbBindingText, TakesGoodLinesAndReportsBadOnes) {
  const std::string text = "# hubs on the test bench\n"
                           "\n"
                           "1a2b:3c4d\r\n"
                           "   1234:5678   # under the desk\n"
                           "1a2b:3c4d\n"
                           "bogus\n"
                           "\t\n"
                           "1234:5678:9\n"
                           "#0000:0001\n"
                           "ffff:fffe";
  TUsbBinding binding;
  std::vector<std::string> problems;
  EXPECT_FALSE(binding.AddText(text, "bindings", problems));
  EXPECT_EQ(binding.Ids(),
            (std::vector<TUsbId>{{0x1234, 0x5678}, {0x1A2B, 0x3C4D}, {0xFFFF, 0xFFFE}}));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("bindings:6: 'bogus'", 0), 0u) << problems[0];
  EXPECT_EQ(problems[1].rfind("bindings:8: '1234:5678:9'", 0), 0u) << problems[1];
  EXPECT_TRUE(binding.IsBound({0x1234, 0x5678}));
  EXPECT_FALSE(binding.IsBound({0x0000, 0x0001}));
  EXPECT_FALSE(binding.IsBound({0x5678, 0x1234}));
}

TEST(UsbBindingText, CleanTextHasNoProblems) {
  TUsbBinding binding;
  std::vector<std::string> problems;
  EXPECT_TRUE(binding.AddText("# none yet\n\n", "x", problems));
  EXPECT_TRUE(binding.AddText("1a2b:3c4d\n", "x", problems));
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(binding.Ids().size(), 1u);
}

// Sets or clears environment variables for one test and puts them back afterwards.
class TEnvironment {
public:
  void Set(const char* name, const char* value) {
    if (!FSaved.count(name)) {
      const char* old = std::getenv(name);
      FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TEnvironment() {
    for (auto& [name, value] : FSaved) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

private:
  std::map<std::string, std::optional<std::string>> FSaved;
};

class UsbBindingFiles : public ::testing::Test {
protected:
  TTempDir FTemp;
  const fs::path& FDir = FTemp.Path();
  TEnvironment FEnv;

  void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
};

TEST_F(UsbBindingFiles, UserFileFollowsTheXdgRules) {
  FEnv.Set("HOME", "/home/ann");
  FEnv.Set("XDG_CONFIG_HOME", "/etc/xdg-ann");
  EXPECT_EQ(TUsbBinding::UserFilePath(), "/etc/xdg-ann/korvane/bindings");
  FEnv.Set("XDG_CONFIG_HOME", "relative/config"); // not absolute: ignored
  EXPECT_EQ(TUsbBinding::UserFilePath(), "/home/ann/.config/korvane/bindings");
  FEnv.Set("XDG_CONFIG_HOME", "");
  EXPECT_EQ(TUsbBinding::UserFilePath(), "/home/ann/.config/korvane/bindings");
  FEnv.Set("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(TUsbBinding::UserFilePath(), "/home/ann/.config/korvane/bindings");
  FEnv.Set("HOME", nullptr);
  EXPECT_EQ(TUsbBinding::UserFilePath(), "");
}

TEST_F(UsbBindingFiles, DefaultFilesIncludeTheUserFile) {
  FEnv.Set("XDG_CONFIG_HOME", FDir.c_str());
  Write(FDir / "korvane" / "bindings", "1a2b:3c4d\nnot-an-id\n");
  TUsbBinding binding;
  std::vector<std::string> problems;
  EXPECT_FALSE(binding.AddDefaultFiles(problems));
  EXPECT_TRUE(binding.IsBound({0x1A2B, 0x3C4D}));
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems.back().find((FDir / "korvane" / "bindings").string() + ":2:"),
            std::string::npos)
      << problems.back();
}

TEST_F(UsbBindingFiles, MissingFileBindsNothingQuietly) {
  TUsbBinding binding;
  std::vector<std::string> problems;
  EXPECT_TRUE(binding.AddFile((FDir / "nothing-here").string(), problems));
  EXPECT_TRUE(binding.AddFile((FDir / "no-dir" / "bindings").string(), problems));
  EXPECT_TRUE(problems.empty());
  EXPECT_TRUE(binding.Ids().empty());
}

// What cannot be a binding file is a problem line, found at once: a pipe nobody writes to must
// not make the tool wait, a device that never ends must not be read until memory runs out.
TEST_F(UsbBindingFiles, WhatIsNoBindingFileIsAProblem) {
  ASSERT_EQ(::mkfifo((FDir / "pipe").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", FDir / "zero");
  std::string large;
  while (large.size() <= TUsbBinding::kMaxFileSize) {
    large += "1a2b:3c4d\n";
  }
  Write(FDir / "large", large);
  const std::pair<fs::path, std::string> cases[] = {
      {FDir, "not a regular file"},
      {FDir / "pipe", "not a regular file"},
      {FDir / "zero", "not a regular file"},
      {FDir / "large", "larger than a binding file can be (64 KiB)"},
  };
  for (const auto& [path, says] : cases) {
    SCOPED_TRACE(path);
    TUsbBinding binding;
    std::vector<std::string> problems;
    EXPECT_FALSE(binding.AddFile(path.string(), problems));
    EXPECT_EQ(problems, std::vector<std::string>{path.string() + ": " + says});
    EXPECT_TRUE(binding.Ids().empty());
  }
}

TEST(UsbBindingUdev, OneTaggingLinePerId) {
  EXPECT_EQ(TUsbBinding::UdevRules({}), "");
  const std::string rules = TUsbBinding::UdevRules({{0x1A2B, 0x3C4D}, {0xABCD, 0x0001}});
  EXPECT_EQ(rules, "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1a2b\", "
                   "ATTR{idProduct}==\"3c4d\", TAG+=\"korvane\"\n"
                   "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"abcd\", "
                   "ATTR{idProduct}==\"0001\", TAG+=\"korvane\"\n");
}

// The generated tagging lines and the shipped access rule must agree on the tag, or a bound hub
// is tagged and still out of the user's reach.
TEST(UsbBindingUdev, ShippedRulesGrantAccessToTheGeneratedTag) {
  const std::string rules = TUsbBinding::UdevRules({{0x1A2B, 0x3C4D}});
  const std::string marker = "TAG+=\"";
  size_t at = rules.find(marker);
  ASSERT_NE(at, std::string::npos);
  const std::string tag =
      rules.substr(at + marker.size(), rules.find('"', at + marker.size()) - at - marker.size());

  std::ifstream file(std::string(KORVANE_SOURCE_DIR) + "/packaging/udev/71-korvane-uaccess.rules");
  ASSERT_TRUE(file) << "71-korvane-uaccess.rules not found";
  std::stringstream text;
  text << file.rdbuf();
  bool granted = false;
  std::string line;
  while (std::getline(text, line))
    if (line.rfind('#', 0) != 0 && line.find("TAG==\"" + tag + "\"") != std::string::npos &&
        line.find("TAG+=\"uaccess\"") != std::string::npos)
      granted = true;
  EXPECT_TRUE(granted);
}

} // namespace
