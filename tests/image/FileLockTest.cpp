// The lock that keeps two edits of one image file from overwriting each other.

#include "FileLock.h"
#include "ImageFile.h"
#include "ImageFileTestSupport.h"

#include <future>
#include <thread>

using namespace testimages;
using namespace std::chrono_literals;

namespace {

using TResult = TFileLock::TResult;

TEST_F(ImageFile, ASecondHolderWaitsForTheFirst) {
  WriteFile(Path("image.bin"), D0(7));
  TFileLock first;
  ASSERT_EQ(first.Acquire(Path("image.bin"), 0ms), TResult::Locked);
  TFileLock second;
  EXPECT_EQ(second.Acquire(Path("image.bin"), 100ms), TResult::Busy);
  EXPECT_FALSE(second.Held());
  std::future<TResult> waiting =
      std::async(std::launch::async, [&] { return second.Acquire(Path("image.bin"), 5000ms); });
  std::this_thread::sleep_for(50ms);
  first.Release();
  EXPECT_EQ(waiting.get(), TResult::Locked);
}

// The first holder saves by renaming a new file over the name: the waiter must end up holding the
// lock of the new file, not of the one that is gone.
TEST_F(ImageFile, AWaiterFollowsTheFileThatReplacedTheOne) {
  WriteFile(Path("image.bin"), D0(7));
  TFileLock first;
  ASSERT_EQ(first.Acquire(Path("image.bin"), 0ms), TResult::Locked);
  TFileLock second;
  std::future<TResult> waiting =
      std::async(std::launch::async, [&] { return second.Acquire(Path("image.bin"), 5000ms); });
  std::this_thread::sleep_for(50ms);
  const TBytes saved = D0(20);
  ASSERT_TRUE(TImageFile::Write(Path("image.bin"), saved.data(), 20));
  first.Release();
  ASSERT_EQ(waiting.get(), TResult::Locked);
  TFileLock third;
  EXPECT_EQ(third.Acquire(Path("image.bin"), 0ms), TResult::Busy);
}

TEST_F(ImageFile, WhatIsNoRegularFileNeedsNoLock) {
  mkdir(Path("folder").c_str(), 0755);
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0); // no writer: opening must not wait
  for (const char* name : {"missing.bin", "folder", "pipe"}) {
    TFileLock lock;
    EXPECT_EQ(lock.Acquire(Path(name), 0ms), TResult::Nothing) << name;
    EXPECT_FALSE(lock.Held()) << name;
  }
}

} // namespace
