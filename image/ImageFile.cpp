#include "ImageFile.h"

#include "ByteBlock.h"
#include "TempFile.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Follows symbolic links (also chains of them) to the name of the file that is meant. A link
// whose target does not exist yet names the file to create.
bool ResolveLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) {
      return errno == ENOENT;
    }
    if (!S_ISLNK(info.st_mode)) {
      return true;
    }
    std::string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
    const ssize_t length = readlink(target.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<size_t>(length) >= link.size()) {
      errno = length < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    link.resize(static_cast<size_t>(length));
    const size_t slash = target.rfind('/');
    if (link[0] == '/' || slash == std::string::npos) {
      target = link;
    } else {
      target = target.substr(0, slash + 1) + link;
    }
  }
  errno = ELOOP;
  return false;
}

bool WriteAll(int fd, const uint8_t* bytes, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    const ssize_t written = write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0) {
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<uint32_t>(written);
  }
  return true;
}

// A file-size limit sends SIGXFSZ, which by default kills the process before the write can
// return EFBIG: a save must fail with its reason instead. A handler of the program's own stays.
void IgnoreFileSizeSignal() {
  struct sigaction current {};
  if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGXFSZ, SIG_IGN);
  }
}

// What is not a regular file (a device, a pipe) is written as it is; it has nothing to lose.
bool WriteDevice(const std::string& target, const uint8_t* bytes, uint32_t count) {
  const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  const bool ok = WriteAll(fd, bytes, count);
  const int error = errno;
  const bool closed = close(fd) == 0;
  if (!ok) {
    errno = error;
  }
  return ok && closed;
}

// Overwrites the open file `fd` in place, for a file whose folder takes no new file or that has
// further names (hard links) that must all see the new image. The file never becomes shorter
// than the old or the new image, whenever the save stops: it first grows to the new length (if
// it cannot, nothing has changed), then takes the new bytes in one write (an image is at most
// 512 bytes), and only then is cut to the new length.
bool WriteInPlace(int fd, const uint8_t* bytes, uint32_t count) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    return false;
  }
  const off_t size = info.st_size;
  const off_t length = count;
  // Under a file-size limit the kernel takes the bytes below the limit and refuses the rest:
  // the file would hold the start of the new image and the end of the old one. Refused first.
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size > length ? size : length) > limit.rlim_cur) {
    errno = EFBIG;
    return false;
  }
  if (length > size && fallocate(fd, 0, size, length - size) != 0) {
    // Without fallocate the file still grows first, though its room is not reserved.
    if (errno != EOPNOTSUPP || ftruncate(fd, length) != 0) {
      return false;
    }
  }
  uint32_t done = 0;
  while (done < count) {
    const ssize_t written = pwrite(fd, bytes + done, count - done, done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      errno = written == 0 ? EIO : errno;
      return false;
    }
    done += static_cast<uint32_t>(written);
  }
  if (length < size && ftruncate(fd, length) != 0) {
    return false;
  }
  return fsync(fd) == 0;
}

// `ok`, with the system's reason for a failure in `error` (when given).
bool Reported(bool ok, int* error) {
  if (error != nullptr) {
    *error = ok ? 0 : (errno != 0 ? errno : EIO);
  }
  return ok;
}

} // namespace

TImageFile::~TImageFile() {
  TByteBlock::Free(FBlock);
}

TImageFile::TReadStatus TImageFile::Read(const std::string& path, uint32_t limit) {
  TByteBlock::Free(FBlock);
  FBlock = nullptr;
  FCount = 0;
  // Without O_NONBLOCK, opening a named pipe that nobody writes to would wait for ever; a pipe
  // has no size, so it is refused below like an empty file.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return TReadStatus::Unreadable;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size <= 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return TReadStatus::Unreadable;
  }
  // Only the first `limit` bytes can be used, so a larger file is not read further.
  const uint32_t wanted =
      static_cast<uint64_t>(info.st_size) < limit ? static_cast<uint32_t>(info.st_size) : limit;
  FBlock = TByteBlock::Allocate(wanted);
  if (FBlock == nullptr) {
    close(fd);
    return TReadStatus::OutOfMemory;
  }
  while (FCount < wanted) {
    const ssize_t got = read(fd, FBlock + FCount, wanted - FCount);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      close(fd);
      return TReadStatus::Unreadable;
    }
    if (got == 0) {
      break; // the file shrank meanwhile: what was read is what there is
    }
    FCount += static_cast<uint32_t>(got);
  }
  close(fd);
  return TReadStatus::Read;
}

bool TImageFile::Write(const std::string& path, const uint8_t* bytes, uint32_t count, int* error) {
  return Reported(WriteFile(path, bytes, count, true), error);
}

bool TImageFile::Create(const std::string& path, const uint8_t* bytes, uint32_t count, int* error) {
  return Reported(WriteFile(path, bytes, count, false), error);
}

bool TImageFile::Overwrite(const std::string& path, const uint8_t* bytes, uint32_t count,
                           int* error) {
  const int fd = bytes == nullptr ? -1 : open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size != static_cast<off_t>(count)) {
    const int reason = fd < 0 ? errno : 0;
    if (fd >= 0) {
      close(fd);
    }
    if (reason == ENOENT) {
      if (error != nullptr) {
        *error = ENOENT;
      }
      return false;
    }
    return Write(path, bytes, count, error);
  }
  IgnoreFileSizeSignal();
  const bool written = WriteInPlace(fd, bytes, count);
  const int reason = errno;
  close(fd);
  if (!written && error != nullptr) {
    *error = reason;
  }
  return written;
}

bool TImageFile::WriteFile(const std::string& path, const uint8_t* bytes, uint32_t count,
                           bool sweep) {
  errno = 0;
  std::string target;
  if (path.empty() || (bytes == nullptr && count > 0)) {
    errno = path.empty() ? ENOENT : EINVAL;
    return false;
  }
  if (!ResolveLinks(path, target)) {
    return false;
  }
  IgnoreFileSizeSignal();
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    return WriteDevice(target, bytes, count);
  }
  // A file we may not write stays as it is, even where its folder would let us replace it.
  const int old = exists ? open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY) : -1;
  if (exists && old < 0) {
    return false;
  }
  const auto inPlace = [&] {
    const bool ok = WriteInPlace(old, bytes, count);
    const int reason = errno;
    close(old);
    errno = reason;
    return ok;
  };
  if (exists && existing.st_nlink > 1) {
    return inPlace(); // every name of the file must see the new image
  }
  if (sweep) {
    TTempFile::RemoveStale(target);
  }
  TTempFile temporary;
  if (!temporary.Create(target)) {
    // Only a folder that refuses new files leaves writing in place as the way out; on any other
    // failure (a full disk, say) the save fails and the file stays as it was.
    const bool folderRefuses = errno == EACCES || errno == EPERM;
    if (exists && folderRefuses) {
      return inPlace();
    }
    const int reason = errno;
    if (old >= 0) {
      close(old);
    }
    errno = reason;
    return false;
  }
  if (old >= 0) {
    close(old);
  }
  if (!WriteAll(temporary.Fd(), bytes, count)) {
    return false;
  }
  if (exists) {
    // Keeping the owner needs privileges we may not have; the permission bits we can always keep.
    (void)!fchown(temporary.Fd(), existing.st_uid, existing.st_gid);
    if (fchmod(temporary.Fd(), existing.st_mode & 07777) != 0) {
      return false;
    }
  }
  return temporary.Replace(target);
}
