#include "CliFiles.h"

#include "CliError.h"
#include "ImageFile.h"
#include "RegularFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      errno = n == 0 ? EIO : errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0;
}

// Why a file was not read, as TCliError 66 (a file too large is the caller's to name).
TCliError NotRead(const std::string& path, const TRegularFile::TResult& result) {
  switch (result.status) {
  case TRegularFile::TStatus::Missing:
    return TCliError(cliexit::kNoInput, path + ": no such file");
  case TRegularFile::TStatus::Folder:
    return TCliError(cliexit::kNoInput, path + ": not a regular file (a folder)");
  case TRegularFile::TStatus::NotRegular:
    return TCliError(cliexit::kNoInput, path + ": not a regular file");
  default:
    return TCliError(cliexit::kNoInput,
                     path + ": cannot be read: " + TCliFiles::Reason(result.error));
  }
}

} // namespace

void TCliFiles::RequireRegularFile(const std::string& path) {
  const TRegularFile::TResult result = TRegularFile::Check(path);
  if (result.status != TRegularFile::TStatus::Read) {
    throw NotRead(path, result);
  }
}

std::string TCliFiles::ReadInput(const std::string& path, size_t limit, std::istream* in,
                                 const std::string& what) {
  const auto tooLarge = [&] {
    return TCliError(cliexit::kData, (path == "-" ? std::string("standard input") : path) +
                                         ": larger than any " + what + " (" +
                                         std::to_string(limit / 1024) + " KiB)");
  };
  std::string text;
  if (path == "-") {
    if (in == nullptr) {
      throw TCliError(cliexit::kNoInput, "standard input cannot be read");
    }
    text.resize(limit + 1);
    in->read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in->gcount()));
    if (in->bad()) {
      throw TCliError(cliexit::kNoInput, "standard input cannot be read");
    }
    if (text.size() > limit) {
      throw tooLarge();
    }
    return text;
  }
  const TRegularFile::TResult result = TRegularFile::Read(path, limit, text);
  if (result.status == TRegularFile::TStatus::TooLarge) {
    throw tooLarge(); // larger than the limit, or grown past it while it was read
  }
  if (result.status != TRegularFile::TStatus::Read) {
    throw NotRead(path, result);
  }
  return text;
}

void TCliFiles::Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  int error = 0;
  if (!TImageFile::Write(path, bytes.data(), static_cast<uint32_t>(bytes.size()), &error)) {
    throw TCliError(cliexit::kCantCreate, CannotWrite(path, error));
  }
}

std::string TCliFiles::Reason(int error) {
  return std::generic_category().message(error);
}

std::string TCliFiles::CannotWrite(const std::string& path, int error) {
  return path + ": cannot be written: " + Reason(error);
}

std::string TCliFiles::BackupName(const std::string& hubPath, std::time_t moment) {
  std::tm utc{};
  ::gmtime_r(&moment, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::string hub;
  for (const char c : hubPath) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    hub += plain ? c : '_';
  }
  return "korvane-backup-" + std::string(stamp) + "-" + hub;
}

std::string TCliFiles::WriteBackup(const std::string& folder, const std::string& hubPath,
                                   std::time_t moment, const std::vector<uint8_t>& bytes,
                                   int& error) {
  std::string base = folder.empty() ? std::string(".") : folder;
  base += '/';
  base += BackupName(hubPath, moment);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = base;
    if (attempt > 0) {
      name += '-';
      name += std::to_string(attempt);
    }
    name += ".bin";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
      continue;
    }
    if (fd < 0) {
      error = errno;
      return {};
    }
    const bool written = WriteAll(fd, bytes);
    error = errno;
    if (::close(fd) != 0 || !written) {
      error = written ? errno : error;
      ::unlink(name.c_str());
      return {};
    }
    return name;
  }
  error = EEXIST;
  return {};
}
