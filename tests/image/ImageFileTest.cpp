// Image files: loading raw bytes, and saving them without ever losing the file that was there.

#include "ImageFile.h"
#include "ImageFileTestSupport.h"

#include <csignal>
#include <filesystem>
#include <memory>
#include <sys/resource.h>

using namespace testimages;

namespace {

struct TRoundTrip {
  const char* name;
  TBytes file;
  const char* extension;
  bool valid;
  uint32_t saved; // bytes written back
};

void PrintTo(const TRoundTrip& c, std::ostream* out) {
  *out << c.name;
}

class ImageFileRoundTrip : public ImageFile, public testing::WithParamInterface<TRoundTrip> {};

TEST_P(ImageFileRoundTrip, LoadsAndSavesTheImageBytesOnly) {
  const TRoundTrip& c = GetParam();
  const std::string in = Path(std::string("in") + c.extension);
  WriteFile(in, c.file);
  TEEImage image(in);
  EXPECT_EQ(image.IsValid(), c.valid);
  EXPECT_EQ(image.GetLength(), c.saved);
  const std::string out = Path(std::string("out") + c.extension);
  ASSERT_TRUE(image.SaveToFile(out));
  const TBytes expected(c.file.begin(), c.file.begin() + std::min<size_t>(c.saved, c.file.size()));
  EXPECT_EQ(ReadFile(out), expected);
}

TBytes D4WithTrailer() {
  TBytes bytes = PackedImage({0x0409}, 0x03); // 46 bytes
  bytes.resize(100, 0xEE);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImageFileRoundTrip,
    testing::Values(TRoundTrip{"d0_7_bytes", D0(7), ".iic", true, 7},
                    TRoundTrip{"d0_24_bytes", D0(24), ".bin", true, 7},
                    TRoundTrip{"d4_with_trailer_bin", D4WithTrailer(), ".bin", true, 46},
                    TRoundTrip{"d4_with_trailer_iic", D4WithTrailer(), ".iic", true, 46},
                    TRoundTrip{"d4_other_extension", D4WithTrailer(), ".txt", true, 46},
                    TRoundTrip{"d4_no_extension", D4WithTrailer(), "", true, 46},
                    TRoundTrip{"unknown_kind", Filled(0xD1, 30), ".bin", false, 30},
                    TRoundTrip{"longer_than_buffer", Filled(0xD1, 2000), ".bin", false, 512}),
    TCaseName());

TEST_F(ImageFile, UnreadableFilesGiveAnImageWithoutBuffer) {
  WriteFile(Path("empty.bin"), {});
  mkdir(Path("folder.bin").c_str(), 0755);
  // A named pipe without a writer: opening it must not wait for one.
  ASSERT_EQ(mkfifo(Path("pipe.bin").c_str(), 0644), 0);
  for (const std::string& path : {Path("empty.bin"), Path("missing.bin"), Path("folder.bin"),
                                  Path("pipe.bin"), std::string()}) {
    TEEImage image(path);
    EXPECT_FALSE(image.IsValid()) << path;
    EXPECT_EQ(image.GetLength(), 0u) << path;
    EXPECT_FALSE(image.SaveToFile(Path("never.bin"))) << path; // nothing to save
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"empty.bin", "folder.bin", "pipe.bin"}));
}

TEST_F(ImageFile, SaveWithoutBufferLeavesTargetAlone) {
  WriteFile(Path("keep.bin"), D0(7));
  TEEImage image(Path("missing.bin"));
  EXPECT_FALSE(image.SaveToFile(Path("keep.bin")));
  EXPECT_EQ(ReadFile(Path("keep.bin")), D0(7));
}

TEST_F(ImageFile, SavingOverALongerFileLeavesExactlyTheImage) {
  WriteFile(Path("old.bin"), TBytes(300, 0x99), 0640);
  const TBytes bytes = D0(7);
  TEEImage image = Load(bytes);
  ASSERT_TRUE(image.SaveToFile(Path("old.bin")));
  EXPECT_EQ(ReadFile(Path("old.bin")), bytes);
  struct stat info {};
  ASSERT_EQ(stat(Path("old.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);                  // permission bits carried over
  EXPECT_EQ(Names(), std::vector<std::string>{"old.bin"}); // no temporary left behind
}

TEST_F(ImageFile, NewFileGetsTheUsualPermissions) {
  const mode_t old = umask(022);
  TEEImage image = Load(D0(7));
  const bool saved = image.SaveToFile(Path("new.bin"));
  umask(old);
  ASSERT_TRUE(saved);
  struct stat info {};
  ASSERT_EQ(stat(Path("new.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

// A device's memory file is written over in place when its length stays; anything else takes
// the usual way, and a file that is gone is not made again.
TEST_F(ImageFile, OverwriteKeepsTheFileAndNeverCreatesOne) {
  const std::string target = Path("eeprom.bin");
  WriteFile(target, TBytes(512, 0xFF));
  struct stat before {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  const TBytes image(512, 0x5A);
  ASSERT_TRUE(TImageFile::Overwrite(target, image.data(), 512));
  struct stat after {};
  ASSERT_EQ(stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(target), image);

  ASSERT_TRUE(TImageFile::Overwrite(target, image.data(), 100)); // another length: replaced
  EXPECT_EQ(ReadFile(target), TBytes(100, 0x5A));

  int error = 0;
  EXPECT_FALSE(TImageFile::Overwrite(Path("gone.bin"), image.data(), 512, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(Path("gone.bin")));
}

TEST_F(ImageFile, SaveFollowsSymbolicLinksToTheirTarget) {
  mkdir(Path("real").c_str(), 0777);
  WriteFile(Path("real/image.bin"), TBytes(50, 1));
  ASSERT_EQ(symlink("real/image.bin", Path("near").c_str()), 0);
  ASSERT_EQ(symlink(Path("near").c_str(), Path("far").c_str()), 0); // a chain, absolute
  ASSERT_EQ(symlink("real/created.bin", Path("dangling").c_str()), 0);
  TEEImage image = Load(D0(7));
  ASSERT_TRUE(image.SaveToFile(Path("far")));
  ASSERT_TRUE(image.SaveToFile(Path("dangling")));
  struct stat info {};
  ASSERT_EQ(lstat(Path("near").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(lstat(Path("far").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFile(Path("real/image.bin")), D0(7));
  EXPECT_EQ(ReadFile(Path("real/created.bin")), D0(7));
}

TEST_F(ImageFile, UnwritableTargetsFailWithTheirReasonAndStayAsTheyWere) {
  WriteFile(Path("readonly.bin"), TBytes(30, 5), 0444);
  WriteFile(Path("plain"), TBytes(3, 1));
  mkdir(Path("locked").c_str(), 0555);
  TEEImage image = Load(D0(7));
  const std::pair<std::string, int> cases[] = {
      {Path("readonly.bin"), EACCES},
      {Path("locked/new.bin"), EACCES},
      {Path("plain/below.bin"), ENOTDIR},
      {FFolder, EISDIR},
      {"", ENOENT},
      {"/dev/full", ENOSPC},
  };
  {
    TUnprivileged user;
    for (const auto& [path, reason] : cases) {
      int error = 0;
      EXPECT_FALSE(image.SaveToFile(path, &error)) << path;
      EXPECT_EQ(error, reason) << path;
    }
  }
  EXPECT_EQ(ReadFile(Path("readonly.bin")), TBytes(30, 5));
  EXPECT_EQ(Names(), (std::vector<std::string>{"locked", "plain", "readonly.bin"}));
}

TEST_F(ImageFile, FolderWithoutRoomForATemporaryIsWrittenInPlace) {
  mkdir(Path("locked").c_str(), 0777);
  WriteFile(Path("locked/image.bin"), TBytes(300, 5), 0666);
  chmod(Path("locked").c_str(), 0555);
  TEEImage image = Load(D0(7));
  bool saved = false;
  {
    TUnprivileged user;
    saved = image.SaveToFile(Path("locked/image.bin"));
  }
  EXPECT_TRUE(saved);
  EXPECT_EQ(ReadFile(Path("locked/image.bin")), D0(7));
}

TEST_F(ImageFile, WriteFailingPartWayKeepsTheOldFile) {
  const TBytes old(100, 0x77);
  WriteFile(Path("old.bin"), old);
  TEEImage image = Load(PackedImage({0x0409, 0x0407}, 0x07)); // longer than the limit below
  ASSERT_GT(image.GetLength(), 40u);
  // Files may not grow past 40 bytes: the write stops part-way with an error.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 40;
  setrlimit(RLIMIT_FSIZE, &small);
  int error = 0;
  const bool result = image.SaveToFile(Path("old.bin"), &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(result);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(ReadFile(Path("old.bin")), old);
  EXPECT_EQ(Names(), std::vector<std::string>{"old.bin"});
}

TEST_F(ImageFile, NoMemoryForTheReadBlockIsFatal) {
  WriteFile(Path("image.bin"), D0(7));
  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(
      ReportsWhenAllocationFails(0, [&] { image = std::make_unique<TEEImage>(Path("image.bin")); }),
      std::vector<bool>{true});
  EXPECT_FALSE(image->IsValid());
  EXPECT_EQ(image->GetLength(), 0u);
}

} // namespace
