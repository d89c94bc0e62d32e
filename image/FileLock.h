#pragma once

#include <chrono>
#include <string>

// An exclusive advisory lock (flock) on an image file, held by whoever reads, changes and saves
// it, so that two edits of one file at once both take effect: the second waits for the first.
//
// Saves replace the file by rename, so the name may stand for a new file by the time the lock is
// granted; the lock then belongs to the file that is gone and is taken again on the new one.
class TFileLock {
public:
  enum class TResult {
    Locked,  // held until release or destruction
    Nothing, // no regular file of that name: there is nothing another process could be changing
    Busy,    // another holder kept it for the whole wait
    Failed,  // the file could not be opened or locked; Error() says why
  };

  TFileLock() = default;
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // Waits at most `timeout` for the lock on the file `path` names (a symbolic link is followed).
  TResult Acquire(const std::string& path, std::chrono::milliseconds timeout);
  void Release();
  bool Held() const { return FFd >= 0; }
  int Error() const { return FError; }

  static constexpr std::chrono::milliseconds kDefaultWait{10000};

private:
  int FFd = -1;
  int FError = 0;
};
