#pragma once

#include <cstdint>
#include <string>

// Reading and writing image files: raw bytes, nothing else.
//
// Writing never leaves the file it replaces damaged when it fails part-way: the bytes go to a new
// file in the same folder, which is flushed to disk and then renamed over the target. A symbolic
// link is followed to the file it names, and the replaced file's permission bits (and, where
// allowed, its owner) carry over. A file with further names (hard links), or one whose folder
// allows no new file, is overwritten in place in an order that never leaves it shorter than
// before; a file-size limit below the old or the new length fails such a save (EFBIG) before the
// file changes.
class TImageFile {
public:
  enum class TReadStatus { Read, Unreadable, OutOfMemory };

  TImageFile() = default;
  ~TImageFile();
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  // Reads the file's first `limit` bytes (fewer if it is shorter) into a block of its own. An
  // empty file, or one that does not open or read, is Unreadable.
  TReadStatus Read(const std::string& path, uint32_t limit);
  const uint8_t* GetBytes() const { return FBlock; }
  uint32_t GetCount() const { return FCount; }

  // True only when the file at `path` now holds exactly the `count` bytes. On failure `error`
  // (when given) receives the system's reason, an errno value. Each save through a new file first
  // removes the temporaries that killed saves of the same file left beside it.
  static bool Write(const std::string& path, const uint8_t* bytes, uint32_t count,
                    int* error = nullptr);

  // As Write, for a file that is not there yet (a new simulated hub's EEPROM): its folder is not
  // listed for temporaries of earlier saves, so that making many files in one folder stays
  // linear. The file's first save sweeps them.
  static bool Create(const std::string& path, const uint8_t* bytes, uint32_t count,
                     int* error = nullptr);

  // For a file that stands for a device's memory: when it is a regular file of exactly `count`
  // bytes, the bytes are written over it in place, in one write, as the device itself would
  // take them (no new file, no rename: many such files saved at once stay cheap); otherwise as
  // Write. Never creates the file: false (ENOENT) when it is gone.
  static bool Overwrite(const std::string& path, const uint8_t* bytes, uint32_t count,
                        int* error = nullptr);

private:
  // `sweep`: the stale temporaries of earlier saves of the file are removed first.
  static bool WriteFile(const std::string& path, const uint8_t* bytes, uint32_t count, bool sweep);

  uint8_t* FBlock = nullptr;
  uint32_t FCount = 0;
};
