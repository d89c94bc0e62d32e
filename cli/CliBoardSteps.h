#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

class TCliArgs;
class TEEImage;
class TTargetDev;
struct THubResult;

// The steps that the device commands (write, erase, verify) and production runs take on one
// hub's open channel. Each fills the hub's result when it fails and returns false.
class TCliBoardSteps {
public:
  // All 512 bytes a read fetched, whatever the image's length: what a backup must keep.
  static std::vector<uint8_t> AllBytes(const TEEImage& image);
  // Reads the EEPROM (`what` names the step in the message).
  static bool Read(TTargetDev& channel, std::unique_ptr<TEEImage>& image, const std::string& what,
                   THubResult& result);
  // Saves `current`, the hub's EEPROM as just read, as a backup in `folder`.
  static bool SaveBackup(const TTargetDev& channel, const TEEImage& current,
                         const std::string& folder, std::time_t moment, std::string& name,
                         THubResult& result);
  // Reads the hub's current contents and saves them as a backup before anything is written.
  static bool Backup(TTargetDev& channel, const std::string& folder, std::time_t moment,
                     std::string& name, THubResult& result);
  // Reads the image back and compares its first `length` bytes with `expected`.
  static bool Verify(TTargetDev& channel, const TEEImage& expected, THubResult& result);
  // The first address below `length` where the two differ, or -1.
  static int FirstDifference(const TEEImage& expected, const TEEImage& actual, uint32_t length);
  static void Mismatch(const TEEImage& expected, const TEEImage& actual, int address,
                       const char* what, THubResult& result);
  // --backup-dir (default the current folder); TCliError 73 when it is no folder.
  static std::string CheckedBackupFolder(const TCliArgs& args);
};
