#include "CliBoardSteps.h"

#include "CliArgs.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliHubSession.h"
#include "CliText.h"
#include "Eeimage.h"
#include "EepromCommands.h"
#include "Trgtdev.h"

#include <filesystem>

std::vector<uint8_t> TCliBoardSteps::AllBytes(const TEEImage& image) {
  std::vector<uint8_t> bytes(kEepromReadSize);
  for (uint32_t i = 0; i < kEepromReadSize; ++i) {
    bytes[i] = image.GetByte(static_cast<int32_t>(i));
  }
  return bytes;
}

bool TCliBoardSteps::Read(TTargetDev& channel, std::unique_ptr<TEEImage>& image,
                          const std::string& what, THubResult& result) {
  const TEepromOutcome outcome = ReadEepromFrom(channel, image);
  if (outcome == TEepromOutcome::Success || outcome == TEepromOutcome::InvalidImage) {
    return true;
  }
  if (outcome == TEepromOutcome::OutOfMemory) {
    result.code = cliexit::kSoftware;
    result.message = what + " failed: out of memory";
    return false;
  }
  TCliHubSession::TransferFailed(channel, what, result);
  return false;
}

bool TCliBoardSteps::SaveBackup(const TTargetDev& channel, const TEEImage& current,
                                const std::string& folder, std::time_t moment, std::string& name,
                                THubResult& result) {
  int error = 0;
  name = TCliFiles::WriteBackup(folder, channel.Path(), moment, AllBytes(current), error);
  if (name.empty()) {
    result.code = cliexit::kCantCreate;
    result.message = "the backup could not be written in " + folder + ": " +
                     TCliFiles::Reason(error) + "; nothing was written";
    return false;
  }
  return true;
}

bool TCliBoardSteps::Backup(TTargetDev& channel, const std::string& folder, std::time_t moment,
                            std::string& name, THubResult& result) {
  std::unique_ptr<TEEImage> current;
  if (!Read(channel, current, "reading the current image for the backup", result)) {
    result.message += "; nothing was written";
    return false;
  }
  return SaveBackup(channel, *current, folder, moment, name, result);
}

bool TCliBoardSteps::Verify(TTargetDev& channel, const TEEImage& expected, THubResult& result) {
  std::unique_ptr<TEEImage> readBack;
  if (!Read(channel, readBack, "reading back", result)) {
    return false;
  }
  const int address = FirstDifference(expected, *readBack, expected.GetLength());
  if (address >= 0) {
    Mismatch(expected, *readBack, address, "verify failed: first difference", result);
    return false;
  }
  return true;
}

int TCliBoardSteps::FirstDifference(const TEEImage& expected, const TEEImage& actual,
                                    uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (expected.GetByte(static_cast<int32_t>(i)) != actual.GetByte(static_cast<int32_t>(i))) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TCliBoardSteps::Mismatch(const TEEImage& expected, const TEEImage& actual, int address,
                              const char* what, THubResult& result) {
  result.code = cliexit::kIoError;
  result.message = std::string(what) + " at " + TCliText::Address(static_cast<uint32_t>(address)) +
                   ": expected " + TCliText::Hex2(expected.GetByte(address)) + ", read " +
                   TCliText::Hex2(actual.GetByte(address));
}

std::string TCliBoardSteps::CheckedBackupFolder(const TCliArgs& args) {
  const std::string folder = args.Value("--backup-dir", ".");
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw TCliError(cliexit::kCantCreate, "backup folder " + folder + " does not exist");
  }
  return folder;
}
