#pragma once

// What the image file tests share: a fresh folder per test, files made and read byte by byte, and
// running a step as an ordinary user.

#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testimages {

// A fresh folder per test, open to everyone so that the unprivileged steps can use it too.
class ImageFile : public testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvane-image-file-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FFolder = pattern;
    chmod(FFolder.c_str(), 0777);
  }
  void TearDown() override {
    chmod(FFolder.c_str(), 0777);
    std::string command = "rm -rf '" + FFolder + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return FFolder + "/" + name; }

  static void WriteFile(const std::string& path, const TBytes& bytes, mode_t mode = 0644) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    chmod(path.c_str(), mode);
  }
  static TBytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    DIR* dir = opendir(FFolder.c_str());
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string FFolder;
};

// Root may write anything; the permission cases run as an ordinary user for their duration.
class TUnprivileged {
public:
  TUnprivileged() : FWasRoot(geteuid() == 0) {
    if (FWasRoot) {
      EXPECT_EQ(setegid(65534), 0);
      EXPECT_EQ(seteuid(65534), 0);
    }
  }
  ~TUnprivileged() {
    if (FWasRoot) {
      EXPECT_EQ(seteuid(0), 0);
      EXPECT_EQ(setegid(0), 0);
    }
  }

private:
  bool FWasRoot;
};

inline TBytes D0(size_t size) {
  TBytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(0x40 + i);
  }
  bytes[0] = 0xD0;
  return bytes;
}

} // namespace testimages
