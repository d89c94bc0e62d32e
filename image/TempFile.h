#pragma once

#include <string>

// The new file that a save writes before it takes the target's place.
//
// On Linux it is created without a name (O_TMPFILE) and named only when it is complete, just
// before the rename, so a save killed while writing leaves nothing behind. Where the file system
// refuses unnamed files, a named one (".NAME.tmp-PID-N") is used instead. Either way the names
// of such files that processes no longer alive left beside the target can be swept away.
class TTempFile {
public:
  TTempFile() = default;
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  // Opens the file in the target's folder, for writing, with the usual permissions (umask
  // applies). False with errno set when the folder takes no new file.
  bool Create(const std::string& target);
  int Fd() const { return FFd; }

  // Flushes the file to disk, then moves it over the target in one step (rename), so readers see
  // either the old file or the new one. False with errno set; the target is then untouched and
  // the temporary file is gone.
  bool Replace(const std::string& target);

  // Removes the temporary files of saves of `target` whose processes have ended; lists the
  // target's folder.
  static void RemoveStale(const std::string& target);

private:
  bool Link(const std::string& name) const;
  void Discard();

  int FFd = -1;
  std::string FName; // empty while the file has no name
};
