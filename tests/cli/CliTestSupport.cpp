#include "CliTestSupport.h"

#include <bit>
#include <sstream>
#include <unistd.h>

namespace clitest {

void TCliTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  FFolder = std::filesystem::temp_directory_path() /
            ("korvane-cli-test-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(FFolder);
  std::filesystem::create_directories(FFolder);
}

void TCliTest::TearDown() {
  std::filesystem::remove_all(FFolder);
}

std::string TCliTest::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = PathOf(name);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> TCliTest::ReadFile(const std::string& name) const {
  std::ifstream file(name.find('/') == std::string::npos ? PathOf(name) : name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

TRun TCliTest::Run(const std::vector<std::string>& args,
                   decltype(TCliContext::makeDriver) driver) const {
  std::ostringstream out;
  std::ostringstream err;
  TCliContext context(out, err);
  context.makeDriver = std::move(driver);
  TRun run;
  run.code = TCli::Run(args, context);
  run.out = out.str();
  run.err = err.str();
  return run;
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
