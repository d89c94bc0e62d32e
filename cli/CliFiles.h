#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Files the device commands write besides images: raw EEPROM contents and backups.
class TCliFiles {
public:
  // Writes through a temporary file in the same folder and renames it into place, so a failed
  // write leaves what was there. False on any failure.
  static bool WriteAtomic(const std::string& path, const std::vector<uint8_t>& bytes);
  // Writes a new backup file in `folder` named after the moment and the hub path; never
  // overwrites an existing file. The name written, or empty on failure.
  static std::string WriteBackup(const std::string& folder, const std::string& hubPath,
                                 std::time_t moment, const std::vector<uint8_t>& bytes);
  // "korvane-backup-20261209T202538Z-sim_a.bin" (without a suffix for uniqueness).
  static std::string BackupName(const std::string& hubPath, std::time_t moment);
};
