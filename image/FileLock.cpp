#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TFileLock::~TFileLock() {
  Release();
}

void TFileLock::Release() {
  if (FFd >= 0)
    close(FFd); // closing the only descriptor of the open file releases its lock
  FFd = -1;
}

TFileLock::TResult TFileLock::Acquire(const std::string& path, std::chrono::milliseconds timeout) {
  Release();
  FError = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // Non-blocking, so that a named pipe of that name cannot make us wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      FError = errno;
      return FError == ENOENT ? TResult::Nothing : TResult::Failed;
    }
    struct stat locked {};
    if (fstat(fd, &locked) != 0) {
      FError = errno;
      close(fd);
      return TResult::Failed;
    }
    if (!S_ISREG(locked.st_mode)) {
      close(fd);
      return TResult::Nothing;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Granted: but a save may have renamed a new file over the name while we waited.
      struct stat named {};
      if (stat(path.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
          named.st_ino == locked.st_ino) {
        FFd = fd;
        return TResult::Locked;
      }
      close(fd);
      continue; // lock the file the name now stands for (or find it gone)
    }
    const int error = errno;
    close(fd);
    if (error != EWOULDBLOCK && error != EINTR) {
      FError = error;
      return TResult::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return TResult::Busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
