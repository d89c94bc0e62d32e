#include "UsbBinding.h"

#include "RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

std::optional<uint16_t> ParseHex16(const std::string& text) {
  if (text.empty() || text.size() > 4)
    return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<uint16_t>(value);
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos)
    return {};
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

} // namespace

std::optional<TUsbId> TUsbBinding::ParseId(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos)
    return std::nullopt;
  auto vid = ParseHex16(text.substr(0, colon));
  auto pid = ParseHex16(text.substr(colon + 1));
  if (!vid || !pid)
    return std::nullopt;
  return TUsbId{*vid, *pid};
}

std::string TUsbBinding::FormatId(TUsbId id) {
  return Hex4(id.Vid) + ":" + Hex4(id.Pid);
}

bool TUsbBinding::AddText(const std::string& text, const std::string& source,
                          std::vector<std::string>& problems) {
  bool ok = true;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::string content = Trim(line.substr(0, line.find('#')));
    if (content.empty())
      continue;
    if (auto id = ParseId(content)) {
      Add(*id);
    } else {
      problems.push_back(source + ":" + std::to_string(number) + ": '" + content +
                         "' is not a VID:PID pair of hexadecimal numbers");
      ok = false;
    }
  }
  return ok;
}

bool TUsbBinding::AddFile(const std::string& path, std::vector<std::string>& problems) {
  const auto problem = [&](const std::string& what) {
    problems.push_back(path + ": " + what);
    return false;
  };
  std::string text;
  const TRegularFile::TResult result = TRegularFile::Read(path, kMaxFileSize, text);
  switch (result.status) {
  case TRegularFile::TStatus::Read:
    return AddText(text, path, problems);
  case TRegularFile::TStatus::Missing:
    return true;
  case TRegularFile::TStatus::Folder:
  case TRegularFile::TStatus::NotRegular:
    return problem("not a regular file");
  case TRegularFile::TStatus::TooLarge:
    return problem("larger than a binding file can be (" + std::to_string(kMaxFileSize / 1024) +
                   " KiB)");
  case TRegularFile::TStatus::Failed:
    break;
  }
  // A folder of the path that is a file leaves no binding file there either.
  return result.error == ENOTDIR ? true : problem(std::strerror(result.error));
}

bool TUsbBinding::AddDefaultFiles(std::vector<std::string>& problems) {
  bool ok = AddFile(SystemFilePath(), problems);
  std::string user = UserFilePath();
  if (!user.empty())
    ok = AddFile(user, problems) && ok;
  return ok;
}

void TUsbBinding::Add(TUsbId id) {
  auto at = std::lower_bound(FIds.begin(), FIds.end(), id);
  if (at == FIds.end() || *at != id)
    FIds.insert(at, id);
}

bool TUsbBinding::IsBound(TUsbId id) const {
  return std::binary_search(FIds.begin(), FIds.end(), id);
}

std::string TUsbBinding::UserFilePath() {
  // An XDG variable that is set but not absolute is to be ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/')
    return std::string(config) + "/korvane/bindings";
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0')
    return std::string(home) + "/.config/korvane/bindings";
  return {};
}

std::string TUsbBinding::UdevRules(const std::vector<TUsbId>& ids) {
  // ATTR, not ATTRS: ATTRS would also match every device plugged in below a bound hub.
  std::string rules;
  for (const TUsbId& id : ids)
    rules += "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" + Hex4(id.Vid) +
             "\", ATTR{idProduct}==\"" + Hex4(id.Pid) + "\", TAG+=\"korvane\"\n";
  return rules;
}
