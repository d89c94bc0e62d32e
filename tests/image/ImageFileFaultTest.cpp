// Saves that meet real faults: a full disk, a file-size limit, hard links, and processes killed
// at random moments. Whatever happens, the file holds the old image or the new one (in place: it
// never becomes shorter), and no temporary file outlives the save that made it.

#include "ImageFile.h"
#include "ImageFileTestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

using namespace testimages;

namespace {

// Runs `step` in a child process; its exit code, or 128 + the signal that ended it.
int InChild(const std::function<int()>& step) {
  const pid_t child = fork();
  if (child == 0) {
    _exit(step());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Drops root for good (a child process only).
void BecomeOrdinaryUser() {
  if (getuid() == 0) {
    (void)!setgid(65534);
    (void)!setuid(65534);
  }
}

bool Save(const std::string& path, const TBytes& bytes, int* error = nullptr) {
  return TImageFile::Write(path, bytes.data(), static_cast<uint32_t>(bytes.size()), error);
}

TBytes Join(TBytes head, const TBytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST_F(ImageFile, EveryNameOfAHardLinkedFileSeesTheNewImage) {
  WriteFile(Path("a.bin"), TBytes(60, 1));
  ASSERT_EQ(link(Path("a.bin").c_str(), Path("b.bin").c_str()), 0);
  struct stat before {};
  stat(Path("a.bin").c_str(), &before);
  ASSERT_TRUE(Save(Path("a.bin"), D0(7)));
  ASSERT_TRUE(Save(Path("b.bin"), D0(100)));
  EXPECT_EQ(ReadFile(Path("a.bin")), D0(100));
  struct stat after {};
  stat(Path("a.bin").c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "b.bin"}));
}

// A tmpfs of a few pages in the test's folder, filled up. Mounting needs root; where it is
// refused, the test says so and checks the write failure on /dev/full alone.
class FullDisk : public ImageFile {
protected:
  void SetUp() override {
    ImageFile::SetUp();
    FDisk = Path("disk");
    mkdir(FDisk.c_str(), 0777);
    if (mount("tmpfs", FDisk.c_str(), "tmpfs", 0, "size=32k,mode=0777") != 0) {
      std::printf("tmpfs not mounted (%s): checking the write failure on /dev/full only\n",
                  std::strerror(errno));
      FDisk.clear();
    }
  }
  void TearDown() override {
    if (!FDisk.empty()) {
      umount(FDisk.c_str());
    }
    ImageFile::TearDown();
  }
  // Writes blocks into a filler file until the disk takes no more.
  void Fill() const {
    const int fd = open((FDisk + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const TBytes block(4096, 0);
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
  }

  std::string FDisk;
};

TEST_F(FullDisk, SaveFailsWithItsReasonAndKeepsTheFile) {
  int error = 0;
  EXPECT_FALSE(Save("/dev/full", D0(7), &error));
  EXPECT_EQ(error, ENOSPC);
  if (FDisk.empty()) {
    return;
  }
  const std::string target = FDisk + "/image.bin";
  WriteFile(target, D0(100));
  Fill();
  EXPECT_FALSE(Save(target, Join(D0(100), TBytes(4096, 2)), &error));
  EXPECT_EQ(error, ENOSPC);
  EXPECT_EQ(ReadFile(target), D0(100));

  // In place (the folder takes no new file), a file that must grow fails before any byte of it
  // changes.
  const std::string empty = FDisk + "/locked/empty.bin";
  mkdir((FDisk + "/locked").c_str(), 0777);
  WriteFile(empty, {}, 0666);
  chmod((FDisk + "/locked").c_str(), 0555);
  EXPECT_EQ(InChild([&] {
              BecomeOrdinaryUser();
              int reason = 0;
              return Save(empty, D0(50), &reason) ? 0 : reason;
            }),
            ENOSPC);
  EXPECT_EQ(ReadFile(empty), TBytes{});
  chmod((FDisk + "/locked").c_str(), 0777);
  DIR* dir = opendir(FDisk.c_str());
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    names.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "filler", "image.bin", "locked"}));
}

// The writer itself keeps a file-size limit from killing the process: the child sets no handler.
// The kernel would take the bytes below the limit and refuse the rest, so a limit below either
// length fails the save before the file changes, whether it grows, keeps its length or shrinks.
TEST_F(ImageFile, FileSizeLimitInPlaceFailsBeforeTheFileChanges) {
  struct TCase {
    size_t before, after;
    rlim_t limit;
  };
  const TCase cases[] = {{30, 100, 40}, {100, 100, 40}, {100, 50, 20}, {100, 50, 1}};
  mkdir(Path("locked").c_str(), 0777);
  const std::string target = Path("locked/image.bin");
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " to " + std::to_string(c.after) + " bytes, limit " +
                 std::to_string(c.limit));
    chmod(Path("locked").c_str(), 0777);
    const TBytes old = Filled(0xD2, c.before, 0x11);
    WriteFile(target, old, 0666);
    chmod(Path("locked").c_str(), 0555);
    EXPECT_EQ(InChild([&] {
                BecomeOrdinaryUser();
                const rlimit limit{c.limit, c.limit};
                setrlimit(RLIMIT_FSIZE, &limit);
                int reason = 0;
                return Save(target, D0(c.after), &reason) ? 0 : reason;
              }),
              EFBIG);
    EXPECT_EQ(ReadFile(target), old);
  }
}

TEST_F(ImageFile, TemporariesOfEndedProcessesAreSweptAway) {
  const pid_t ended = fork();
  if (ended == 0) {
    _exit(0);
  }
  waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended);
  const std::vector<std::string> kept = {
      ".x.bin.tmp-1-4",             // pid 1 is alive: its save may be under way
      ".x.bin.tmp-" + dead + "-4x", // not a name the writer makes
      ".y.bin.tmp-" + dead + "-4",  // another image's
      "x.bin",
  };
  for (const std::string& name : kept) {
    WriteFile(Path(name), {1});
  }
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  // Again after this process has saved there: a long-running one sweeps at every save.
  for (int save = 0; save < 2; ++save) {
    WriteFile(Path(".x.bin.tmp-" + dead + "-4"), {1});
    ASSERT_TRUE(Save(Path("x.bin"), D0(7)));
    EXPECT_EQ(Names(), expected) << "save " << save;
  }
}

// A child saves two images in turn, as fast as it can, and is killed at a random moment; again
// and again. `inPlace`: the folder takes no new file, so the file is overwritten where it is.
class KilledSaves : public ImageFile, public testing::WithParamInterface<bool> {};

TEST_P(KilledSaves, LeaveTheOldOrTheNewImageAndNoLitter) {
  const bool inPlace = GetParam();
  const TBytes longer = D0(100);
  const TBytes shorter = Filled(0xD2, 40, 0x33);
  const std::string target = Path("image.bin");
  WriteFile(target, longer, 0666);
  if (inPlace) {
    chmod(FFolder.c_str(), 0555);
  }
  // In place, growing passes through the shorter image followed by zeros, shrinking through the
  // shorter image followed by the rest of the longer one: never a file shorter than both.
  std::vector<TBytes> allowed = {longer, shorter};
  if (inPlace) {
    allowed.push_back(Join(shorter, TBytes(60, 0)));
    allowed.push_back(Join(shorter, TBytes(longer.begin() + 40, longer.end())));
  }
  std::mt19937 random(20261210);
  int litter = 0;
  for (int round = 0; round < 150; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      if (inPlace) {
        BecomeOrdinaryUser();
      }
      for (unsigned i = 0;; ++i) {
        Save(target, i % 2 == 0 ? shorter : longer);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const TBytes now = ReadFile(target);
    ASSERT_NE(std::find(allowed.begin(), allowed.end(), now), allowed.end())
        << "round " << round << ": " << now.size() << " bytes";
    // Counted before the next child's first save could sweep it away.
    litter += static_cast<int>(Names().size()) - 1;
  }
  std::printf("temporary files left by 150 killed saves: %d\n", litter);
  // A temporary has a name only between its link and the rename (in place: never), so a
  // killed save seldom leaves one: 0 to 4 in 150, up to 7 in a sanitizer build under load.
  // Where the file system knows no unnamed files a third of the killed saves do (46 in 150).
  const int unnamed = open(FFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (unnamed >= 0 || inPlace) {
    EXPECT_LE(litter, 15);
  }
  if (unnamed >= 0) {
    close(unnamed);
  }
  chmod(FFolder.c_str(), 0777);
  ASSERT_TRUE(Save(target, shorter));
  EXPECT_EQ(Names(), std::vector<std::string>{"image.bin"});
}

INSTANTIATE_TEST_SUITE_P(BothWays, KilledSaves, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "in_place" : "through_a_new_file";
                         });

} // namespace
