#pragma once

#include <cstdint>
#include <ctime>
#include <istream>
#include <string>
#include <vector>

// Files the tool reads and writes besides images: exported text, raw EEPROM contents, backups.
class TCliFiles {
public:
  // TCliError 66 unless `path` names a regular file that can be opened for reading: missing,
  // unreadable, a folder, a pipe, a device or a socket are refused at once, without waiting for a
  // writer at the other end of a pipe.
  static void RequireRegularFile(const std::string& path);
  // The whole of a text input: standard input (`in`) for "-", else a regular file as above.
  // TCliError 65 when it is larger than `limit` (checked before it is read, for a file).
  static std::string ReadInput(const std::string& path, size_t limit, std::istream* in,
                               const std::string& what = "export");

  // Writes as image files are saved (TImageFile::Write): a failed write leaves what was there,
  // a symbolic link is followed and the replaced file keeps its permissions. TCliError 73 with
  // the system's reason on failure.
  static void Write(const std::string& path, const std::vector<uint8_t>& bytes);
  // Writes a new backup file in `folder` named after the moment and the hub path; never
  // overwrites an existing file. The name written, or empty on failure with `error` set.
  static std::string WriteBackup(const std::string& folder, const std::string& hubPath,
                                 std::time_t moment, const std::vector<uint8_t>& bytes, int& error);
  // "out.bin: cannot be written: No space left on device"
  static std::string CannotWrite(const std::string& path, int error);
  // The system's text for an errno value: "Permission denied".
  static std::string Reason(int error);
  // "korvane-backup-20261209T202538Z-sim_a.bin" (without a suffix for uniqueness).
  static std::string BackupName(const std::string& hubPath, std::time_t moment);
};
