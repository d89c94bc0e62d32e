#include "RegularFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TRegularFile::TStatus KindOf(const struct stat& info) {
  if (S_ISREG(info.st_mode))
    return TRegularFile::TStatus::Read;
  return S_ISDIR(info.st_mode) ? TRegularFile::TStatus::Folder : TRegularFile::TStatus::NotRegular;
}

} // namespace

int TRegularFile::Open(const std::string& path, TResult& result) {
  result = {TStatus::Read, 0};
  struct stat info {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    // A socket cannot be opened at all (ENXIO); it is no file to read either.
    if (error != ENOENT && ::stat(path.c_str(), &info) == 0 && KindOf(info) != TStatus::Read)
      result.status = KindOf(info);
    else
      result = error == ENOENT ? TResult{TStatus::Missing, error} : TResult{TStatus::Failed, error};
    return -1;
  }
  if (::fstat(fd, &info) != 0)
    result = {TStatus::Failed, errno};
  else
    result.status = KindOf(info);
  if (result.status != TStatus::Read) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TRegularFile::TResult TRegularFile::Check(const std::string& path) {
  TResult result;
  const int fd = Open(path, result);
  if (fd >= 0)
    ::close(fd);
  return result;
}

TRegularFile::TResult TRegularFile::Read(const std::string& path, size_t limit,
                                         std::string& bytes) {
  bytes.clear();
  TResult result;
  const int fd = Open(path, result);
  if (fd < 0)
    return result;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) > limit) {
    ::close(fd);
    return {TStatus::TooLarge, 0};
  }
  // One byte more than the limit tells a file that grew while it was read.
  bytes.resize(limit + 1);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      result = {TStatus::Failed, errno};
      break;
    }
    if (got == 0)
      break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  if (result.status == TStatus::Failed) {
    bytes.clear();
    return result;
  }
  if (done > limit) {
    bytes.resize(limit);
    return {TStatus::TooLarge, 0};
  }
  bytes.resize(done);
  return result;
}
