#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A USB vendor and product ID pair.
struct TUsbId {
  uint16_t Vid = 0;
  uint16_t Pid = 0;
  auto operator<=>(const TUsbId&) const = default;
};

// The hubs we may talk to. Vendor requests go only to a device whose VID:PID is bound: another
// maker's hub may give our request numbers a meaning of its own. Bindings come from files of
// `VID:PID` lines (hex, `#` comments, blank lines) and from IDs added at run time.
class TUsbBinding {
public:
  // "1a2b:3c4d" (one to four hex digits each side, either case); nothing for anything else.
  static std::optional<TUsbId> ParseId(const std::string& text);
  // Lower-case, four digits each side, as udev and lsusb write them: "1a2b:3c4d".
  static std::string FormatId(TUsbId id);

  // Adds the IDs of a binding file's text. Each bad line is reported as "<source>:<line>: ..."
  // in `problems` and skipped; returns false when there was one.
  bool AddText(const std::string& text, const std::string& source,
               std::vector<std::string>& problems);
  // A missing file binds nothing and is no problem; an unreadable one is, and so is one that is
  // not a regular file (a pipe, a device) or larger than kMaxFileSize, which are not read.
  static constexpr size_t kMaxFileSize = 64 * 1024;
  bool AddFile(const std::string& path, std::vector<std::string>& problems);
  // The system file, then the per-user file.
  bool AddDefaultFiles(std::vector<std::string>& problems);
  void Add(TUsbId id);

  bool IsBound(TUsbId id) const;
  const std::vector<TUsbId>& Ids() const { return FIds; }

  // $XDG_CONFIG_HOME/korvane/bindings, or ~/.config/korvane/bindings; empty when neither
  // variable is set.
  static std::string UserFilePath();
  static std::string SystemFilePath() { return "/etc/korvane/bindings"; }

  // The tagging rules for the given IDs, one line each, for the first of the two udev rule files.
  static std::string UdevRules(const std::vector<TUsbId>& ids);

private:
  std::vector<TUsbId> FIds; // sorted, no duplicates
};
