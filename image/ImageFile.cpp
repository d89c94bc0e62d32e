#include "ImageFile.h"

#include "ByteBlock.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
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
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* bytes, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    const ssize_t written = write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    done += static_cast<uint32_t>(written);
  }
  return true;
}

// A new file beside the target, created with the usual permissions (umask applies).
int CreateTemporary(const std::string& target, std::string& name) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  // Keep the name short enough for the file system even when the target's name is long.
  const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1, 64);
  // Saves may run on several threads at once (one per hub in the command-line tool).
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name =
        folder + "." + base + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

// Overwrites an existing file in place: the only way left when its folder takes no new file,
// and the right way for what is not a regular file (a device, a pipe).
bool WriteInPlace(const std::string& target, const uint8_t* bytes, uint32_t count, bool regular) {
  const int flags = O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | (regular ? 0 : O_NONBLOCK);
  const int fd = open(target.c_str(), flags);
  if (fd < 0) {
    return false;
  }
  bool ok = WriteAll(fd, bytes, count);
  if (ok && regular) {
    ok = fsync(fd) == 0;
  }
  return close(fd) == 0 && ok;
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

bool TImageFile::Write(const std::string& path, const uint8_t* bytes, uint32_t count) {
  std::string target;
  if (path.empty() || (bytes == nullptr && count > 0) || !ResolveLinks(path, target)) {
    return false;
  }
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    return WriteInPlace(target, bytes, count, false);
  }
  if (exists) {
    // A file we may not write stays as it is, even where its folder would let us replace it.
    const int probe = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) {
      return false;
    }
    close(probe);
  }
  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) {
    // Only a folder that refuses new files leaves writing in place as the way out; on any other
    // failure (a full disk, say) truncating the file could lose it, so the save fails instead.
    const bool folderRefuses = errno == EACCES || errno == EPERM || errno == EROFS;
    return exists && folderRefuses && WriteInPlace(target, bytes, count, true);
  }
  bool ok = WriteAll(fd, bytes, count);
  if (ok && exists) {
    // Keeping the owner needs privileges we may not have; the permission bits we can always keep.
    (void)!fchown(fd, existing.st_uid, existing.st_gid);
    ok = fchmod(fd, existing.st_mode & 07777) == 0;
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable; a folder that cannot be synced does not undo the save.
  const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)fsync(folder);
    close(folder);
  }
  return true;
}
