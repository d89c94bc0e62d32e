#include "TempFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// ".NAME.tmp-": what every temporary file of saves of `target` begins with. The name is kept
// short enough for the file system even when the target's name is long.
std::string Prefix(const std::string& target) {
  const size_t slash = target.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return "." + target.substr(start, 64) + ".tmp-";
}

std::string Beside(const std::string& target, const std::string& name) {
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? name : target.substr(0, slash + 1) + name;
}

// A fresh temporary name; saves may run on several threads at once (one per hub).
std::string NextName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return Beside(target,
                Prefix(target) + std::to_string(getpid()) + "-" + std::to_string(++counter));
}

// The process id in "PID-N", or 0 when `rest` is not of that form.
pid_t OwnerOf(std::string_view rest) {
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size() || dash > 9)
    return 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i != dash && (rest[i] < '0' || rest[i] > '9'))
      return 0;
  }
  pid_t pid = 0;
  for (size_t i = 0; i < dash; ++i)
    pid = pid * 10 + (rest[i] - '0');
  return pid;
}

} // namespace

TTempFile::~TTempFile() {
  Discard();
}

void TTempFile::Discard() {
  if (FFd >= 0)
    close(FFd);
  FFd = -1;
  if (!FName.empty())
    unlink(FName.c_str());
  FName.clear();
}

bool TTempFile::Create(const std::string& target) {
  Discard();
#ifdef O_TMPFILE
  FFd = open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (FFd >= 0)
    return true;
  // Older kernels and some file systems do not know unnamed files; anything else (no
  // permission, no room) would fail a named file just the same.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    return false;
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = NextName(target);
    FFd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (FFd >= 0) {
      FName = name;
      return true;
    }
    if (errno != EEXIST)
      return false;
  }
  return false;
}

// Gives the unnamed file a name: through /proc (any user), else by descriptor (privileged).
bool TTempFile::Link(const std::string& name) const {
  const std::string self = "/proc/self/fd/" + std::to_string(FFd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return true;
  if (errno != ENOENT)
    return false; // /proc is there, and the link itself failed
#ifdef AT_EMPTY_PATH
  return linkat(FFd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
#else
  return false;
#endif
}

bool TTempFile::Replace(const std::string& target) {
  const auto fail = [this] {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  };
  if (FFd < 0) {
    errno = EBADF;
    return false;
  }
  if (fsync(FFd) != 0)
    return fail();
  // A new file (a backup, say) is linked in under its own name at once: the link is refused
  // when a file of that name appeared meanwhile, which then is replaced as any other.
  bool linked = FName.empty() && Link(target);
  if (!linked && FName.empty() && errno != EEXIST)
    return fail();
  // A name cannot be linked over an existing one, so the file gets a temporary name first: only
  // between these two calls can a killed save leave a file behind.
  for (int attempt = 0; !linked && FName.empty(); ++attempt) {
    const std::string name = NextName(target);
    if (Link(name))
      FName = name;
    else if (errno != EEXIST || attempt >= 100)
      return fail();
  }
  const int fd = FFd;
  FFd = -1;
  if (close(fd) != 0 || (!linked && rename(FName.c_str(), target.c_str()) != 0))
    return fail();
  FName.clear();
  // Make the rename itself durable; a folder that cannot be synced does not undo the save.
  const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)fsync(folder);
    close(folder);
  }
  return true;
}

void TTempFile::RemoveStale(const std::string& target) {
  // Listed at every save, so that a long-running process (the window, program --watch) also
  // sweeps what processes killed since its last save left. A folder of a thousand files lists
  // in well under the time the save's own fsync takes.
  const int saved = errno;
  const std::string prefix = Prefix(target);
  std::vector<std::string> stale;
  if (DIR* listing = opendir(FolderOf(target).c_str())) {
    while (const dirent* entry = readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        continue;
      const pid_t owner = OwnerOf(name.substr(prefix.size()));
      // Only a process that is certainly gone: a live one (ours, or another user's, which
      // answers EPERM) may be in the middle of its save.
      if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
        stale.emplace_back(name);
    }
    closedir(listing);
  }
  for (const std::string& name : stale)
    unlink(Beside(target, name).c_str());
  errno = saved;
}
