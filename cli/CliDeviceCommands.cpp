#include "CliDeviceCommands.h"

#include "CliArgs.h"
#include "CliBoardSteps.h"
#include "CliContext.h"
#include "CliDrivers.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliHubSession.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "Eeimage.h"
#include "EepromCommands.h"
#include "HeaderMap.h"
#include "SimulatedHub.h"
#include "Trgtdev.h"
#include "UsbHubs.h"
#include "UsbListing.h"

#include "CliText.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace {

constexpr uint8_t kErased = 0xFF;

std::string FormatUsbId(uint16_t vid, uint16_t pid) {
  return TUsbBinding::FormatId(TUsbId{vid, pid});
}

} // namespace

int TCliDeviceCommands::List(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  TCliHubSession session(context);
  auto* usb = dynamic_cast<TUsbHubs*>(&session.Driver());
  std::vector<TUsbListEntry> entries;
  if (usb != nullptr) {
    TUsbListing listing;
    if (!listing.Make(*usb)) {
      throw TCliError(cliexit::kNoHub, "the USB devices could not be listed");
    }
    entries = listing.Entries();
  } else {
    // Simulated (or another) driver: every hub it publishes is bound by definition.
    std::vector<std::string> paths;
    if (!session.Driver().PresentInterfaces(paths)) {
      throw TCliError(cliexit::kNoHub, "the hubs could not be listed");
    }
    for (const std::string& path : paths) {
      TUsbListEntry entry;
      entry.Path = path;
      entry.Hub = true;
      entry.Bound = true;
      const THandle handle = session.Driver().Open(path);
      entry.OpenError = handle == kInvalidHandle ? session.Driver().LastError() : THubError::None;
      if (handle != kInvalidHandle) {
        session.Driver().Close(handle);
      }
      entries.push_back(entry);
    }
  }
  bool denied = false;
  TJson list = TJson::array();
  for (const TUsbListEntry& entry : entries) {
    denied = denied || entry.OpenError == THubError::AccessDenied;
    const std::string id = usb != nullptr ? TUsbBinding::FormatId(entry.Id) : "-";
    const bool accessible = entry.OpenError == THubError::None;
    if (context.json) {
      list.push_back({{"path", entry.Path},
                      {"vidpid", usb != nullptr ? TJson(id) : TJson(nullptr)},
                      {"hub", entry.Hub},
                      {"bound", entry.Bound},
                      {"accessible", accessible},
                      {"problem", accessible ? TJson(nullptr)
                                             : TJson(TUsbListing::ErrorText(entry.OpenError))}});
    } else {
      std::string line = entry.Path;
      line.resize(std::max<size_t>(line.size() + 1, 16), ' ');
      context.out << line << id << (entry.Hub ? "  hub   " : "  device")
                  << (entry.Bound ? "  bound    " : "  not bound")
                  << (entry.OpenError == THubError::None
                          ? std::string("  accessible")
                          : std::string("  not accessible: ") +
                                TUsbListing::ErrorText(entry.OpenError))
                  << "\n";
    }
  }
  if (context.json) {
    context.out << TCliJson::Dump(list) << "\n";
  } else if (entries.empty()) {
    context.out << "no hubs present\n";
  }
  if (denied) {
    context.err << "korvane-cli: " << TCliHubSession::AccessFix() << "\n";
  }
  return cliexit::kOk;
}

int TCliDeviceCommands::UdevRule(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  TUsbBinding bound;
  TCliDrivers::LoadBindings(context, bound, true);
  if (bound.Ids().empty()) {
    throw TCliError(cliexit::kUsage, "no hub is bound: name one with --vidpid VID:PID or in " +
                                         TUsbBinding::SystemFilePath());
  }
  // Only the tagging layer: 71-korvane-uaccess.rules grants access to whatever is tagged.
  context.out << "# Korvane: tag the hubs it may talk to (the IDs bound on this machine).\n"
              << TUsbBinding::UdevRules(bound.Ids());
  return cliexit::kOk;
}

int TCliDeviceCommands::Read(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  if (!parsed.Has("-o")) {
    parsed.UsageError();
  }
  const std::string out = parsed.Value("-o");
  const bool raw = parsed.Has("--raw");
  TCliHubSession session(context);
  const std::vector<std::string> paths = session.Select(parsed, false);
  return session.Run(paths, [&](TTargetDev& channel, THubResult& result) {
    std::unique_ptr<TEEImage> image;
    const bool read = TCliBoardSteps::Read(channel, image, "reading the EEPROM", result);
    if (!read) {
      return;
    }
    if (raw) {
      TCliFiles::Write(out, TCliBoardSteps::AllBytes(*image));
      result.message = "read all 512 bytes into " + out;
      return;
    }
    if (!image->IsValid()) {
      throw TCliError(cliexit::kData, "the EEPROM holds no valid image (erased?); --raw saves "
                                      "all 512 bytes");
    }
    TCliImageSupport::Save(*image, out);
    result.message = "read a " + TCliImageSupport::SignatureText(image->GetByte(0)) + " image of " +
                     std::to_string(image->GetLength()) + " bytes into " + out;
  });
}

int TCliDeviceCommands::Write(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(parsed.Positionals()[0]);
  const std::string folder = TCliBoardSteps::CheckedBackupFolder(parsed);
  const bool verify = !parsed.Has("--no-verify");
  TCliHubSession session(context);
  const std::vector<std::string> paths = session.Select(parsed, true);

  const THeaderKind kind = *TCliImageSupport::KindOf(*image);
  const uint16_t vid =
      static_cast<uint16_t>(ReadHeaderField(*image, *FindHeaderField("vid"), kind));
  const uint16_t pid =
      static_cast<uint16_t>(ReadHeaderField(*image, *FindHeaderField("pid"), kind));
  const bool checkBinding = !session.Simulated() || !context.vidpid.empty();
  if (checkBinding && !session.Bound().IsBound(TUsbId{vid, pid})) {
    context.err << "korvane-cli: warning: the image's VID:PID " << FormatUsbId(vid, pid)
                << " is not bound: after the write the hub comes back under IDs this tool does "
                   "not talk to (bind them with --vidpid "
                << FormatUsbId(vid, pid) << ")\n";
  }

  const std::time_t moment = std::time(nullptr);
  const uint32_t length = image->GetLength();
  return session.Run(paths, [&](TTargetDev& channel, THubResult& result) {
    std::string backup;
    if (!TCliBoardSteps::Backup(channel, folder, moment, backup, result)) {
      return;
    }
    if (WriteEepromTo(channel, *image) != TEepromOutcome::Success) {
      TCliHubSession::TransferFailed(channel, "writing", result);
      result.message += " (backup: " + backup + ")";
      return;
    }
    if (verify) {
      if (!TCliBoardSteps::Verify(channel, *image, result)) {
        result.message += " (backup: " + backup + ")";
        return;
      }
    }
    result.message = "wrote " + std::to_string(length) + " bytes" +
                     (verify ? ", verified" : ", not verified") + " (backup: " + backup + ")";
  });
}

int TCliDeviceCommands::Erase(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  if (!parsed.Has("--yes")) {
    throw TCliError(cliexit::kUsage, "erase overwrites the hub's image: confirm with --yes");
  }
  const std::string folder = TCliBoardSteps::CheckedBackupFolder(parsed);
  TCliHubSession session(context);
  const std::vector<std::string> paths = session.Select(parsed, true);
  const std::time_t moment = std::time(nullptr);
  return session.Run(paths, [&](TTargetDev& channel, THubResult& result) {
    std::string backup;
    if (!TCliBoardSteps::Backup(channel, folder, moment, backup, result)) {
      return;
    }
    if (EraseEepromOn(channel) != TEepromOutcome::Success) {
      TCliHubSession::TransferFailed(channel, "erasing", result);
      result.message += " (backup: " + backup + ")";
      return;
    }
    std::unique_ptr<TEEImage> readBack;
    if (!TCliBoardSteps::Read(channel, readBack, "reading back", result)) {
      result.message += " (backup: " + backup + ")";
      return;
    }
    if (readBack->GetByte(0) != kErased) {
      result.code = cliexit::kIoError;
      result.message = "erase not verified: byte 0 reads " + TCliText::Hex2(readBack->GetByte(0)) +
                       " (backup: " + backup + ")";
      return;
    }
    result.message = "erased, verified (backup: " + backup + ")";
  });
}

int TCliDeviceCommands::Verify(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(parsed.Positionals()[0]);
  TCliHubSession session(context);
  const std::vector<std::string> paths = session.Select(parsed, true);
  return session.Run(paths, [&](TTargetDev& channel, THubResult& result) {
    std::unique_ptr<TEEImage> current;
    const bool read = TCliBoardSteps::Read(channel, current, "reading the EEPROM", result);
    if (!read) {
      return;
    }
    const int address = TCliBoardSteps::FirstDifference(*image, *current, image->GetLength());
    if (address >= 0) {
      TCliBoardSteps::Mismatch(*image, *current, address, "differs: first difference", result);
      return;
    }
    result.message = "matches (" + std::to_string(image->GetLength()) + " bytes)";
  });
}
