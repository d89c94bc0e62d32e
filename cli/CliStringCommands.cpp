#include "CliStringCommands.h"

#include "CliArgs.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliImageSupport.h"
#include "CliSuggest.h"
#include "Eeimage.h"
#include "SerialNumber.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kMaxLanguages = 255; // byte 20

// The items of a LIST: the positionals after IMAGE, each split at commas.
std::vector<std::string> ListItems(const std::vector<std::string>& positionals) {
  std::vector<std::string> items;
  for (size_t i = 1; i < positionals.size(); ++i) {
    const std::string& arg = positionals[i];
    size_t start = 0;
    while (start <= arg.size()) {
      const size_t comma = std::min(arg.find(',', start), arg.size());
      if (comma > start) {
        items.push_back(arg.substr(start, comma - start));
      }
      start = comma + 1;
    }
  }
  if (items.empty()) {
    throw TCliError(cliexit::kUsage, "the list is empty (use none)");
  }
  return items;
}

// How a LIST changes a set: "none", a replacement, or +/- changes. Mixing is refused.
enum class TListMode { None, Replace, Change };

TListMode ModeOf(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0] == "none") {
    return TListMode::None;
  }
  const auto signedItem = [](const std::string& item) { return item[0] == '+' || item[0] == '-'; };
  const size_t changes = std::count_if(items.begin(), items.end(), signedItem);
  if (changes == 0) {
    return TListMode::Replace;
  }
  if (changes == items.size()) {
    return TListMode::Change;
  }
  throw TCliError(cliexit::kUsage,
                  "a list either replaces (a,b) or changes (+a,-b), it cannot do both");
}

std::unique_ptr<TEEImage> LoadWithStringArea(const std::string& path) {
  std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(path);
  if (!TCliImageSupport::HasStringArea(*image)) {
    throw TCliError(cliexit::kData, path + ": an image of kind " +
                                        TCliImageSupport::SignatureText(image->GetByte(0)) +
                                        " has no strings or languages (only 0xD4 has)");
  }
  return image;
}

uint8_t KindFromName(const std::string& name) {
  const auto bit = TCliImageSupport::ParseStringKind(name);
  if (!bit) {
    std::vector<std::string_view> names;
    for (const TCliStringKind& kind : TCliImageSupport::StringKinds()) {
      names.push_back(kind.name);
    }
    const std::string near = TCliSuggest::DidYouMean(name, names);
    throw TCliError(cliexit::kUsage, "unknown string kind `" + name + "`" +
                                         (near.empty() ? " (manufacturer, product, serial, "
                                                         "config-fs, config-hs, interface0, "
                                                         "interface1, reserved)"
                                                       : near));
  }
  return *bit;
}

uint16_t LangIdFromText(const std::string& text) {
  const auto langid = TCliImageSupport::ParseLangId(text);
  if (!langid) {
    throw TCliError(cliexit::kUsage, "\"" + text + "\" is not a LANGID (0x0409 or 0409)");
  }
  return *langid;
}

void RequireLanguage(const TEEImage& image, uint16_t langid) {
  const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
  if (std::find(langids.begin(), langids.end(), langid) == langids.end()) {
    throw TCliError(cliexit::kData, "the image has no language " +
                                        TCliImageSupport::FormatLangId(langid) +
                                        " (see korvane-cli languages)");
  }
}

void RequireKind(const TEEImage& image, uint8_t kind) {
  if ((image.GetSupportedStrings() & kind) == 0) {
    const std::string name(TCliImageSupport::StringKindName(kind));
    throw TCliError(cliexit::kData, "the image carries no " + name +
                                        " string (add it with korvane-cli strings IMAGE +" + name +
                                        ")");
  }
}

// The image refused a change of its string area: why, as the image says.
[[noreturn]] void Refused(const TEEImage& image, const std::string& what) {
  throw TCliError(cliexit::kData,
                  what + " cannot be made: " + TCliImageSupport::RefusalText(image));
}

} // namespace

int TCliStringCommands::Strings(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(2, SIZE_MAX);
  const std::vector<std::string> items = ListItems(parsed.Positionals());
  const TListMode mode = ModeOf(items);
  const std::string& path = parsed.Positionals()[0];
  const auto lock = TCliImageSupport::LockForEdit(context, path);
  const std::unique_ptr<TEEImage> image = LoadWithStringArea(path);

  const uint8_t old = image->GetSupportedStrings();
  uint8_t mask = mode == TListMode::Change ? old : 0;
  if (mode != TListMode::None) {
    for (const std::string& item : items) {
      const bool remove = item[0] == '-';
      const uint8_t bit = KindFromName(mode == TListMode::Change ? item.substr(1) : item);
      mask = remove ? static_cast<uint8_t>(mask & ~bit) : static_cast<uint8_t>(mask | bit);
    }
  }

  const bool hasLanguages = image->GetLanguageCount() > 0;
  if (parsed.Has("--lang") && hasLanguages) {
    throw TCliError(cliexit::kUsage, "--lang only names the first language of an image that has "
                                     "none; this one has languages (see korvane-cli languages)");
  }
  if (hasLanguages && mask == 0) {
    throw TCliError(cliexit::kData, "an image with languages needs at least one string kind; to "
                                    "drop every string and language use korvane-cli languages "
                                    "IMAGE none");
  }
  if (!hasLanguages && mask != 0 && !parsed.Has("--lang")) {
    throw TCliError(cliexit::kData, "the image has no languages: name the first one with "
                                    "--lang LANGID");
  }

  if (!image->SetSupportedStrings(mask) || image->GetSupportedStrings() != mask) {
    Refused(*image, "the change of string kinds");
  }
  if (!hasLanguages && mask != 0) {
    // Strings without languages have no descriptors yet: the first language creates them.
    const uint16_t langid = LangIdFromText(parsed.Value("--lang"));
    if (!image->SetLanguages(&langid, 1) || image->GetLanguageCount() != 1) {
      Refused(*image, "the first language");
    }
  }
  TCliImageSupport::CheckStillValid(*image, "the change of strings");
  TCliImageSupport::Save(*image, parsed.Value("-o", path));
  return cliexit::kOk;
}

int TCliStringCommands::Languages(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(2, SIZE_MAX);
  const std::vector<std::string> items = ListItems(parsed.Positionals());
  const TListMode mode = ModeOf(items);
  const std::string& path = parsed.Positionals()[0];
  const auto lock = TCliImageSupport::LockForEdit(context, path);
  const std::unique_ptr<TEEImage> image = LoadWithStringArea(path);
  const std::vector<uint16_t> old = TCliImageSupport::Languages(*image);

  std::vector<uint16_t> list;
  if (mode == TListMode::Replace) {
    for (const std::string& item : items) {
      const uint16_t langid = LangIdFromText(item);
      if (std::find(list.begin(), list.end(), langid) != list.end()) {
        throw TCliError(cliexit::kUsage,
                        "language " + TCliImageSupport::FormatLangId(langid) + " is listed twice");
      }
      list.push_back(langid);
    }
  } else if (mode == TListMode::Change) {
    list = old;
    for (const std::string& item : items) {
      const uint16_t langid = LangIdFromText(item.substr(1));
      const auto at = std::find(list.begin(), list.end(), langid);
      if (item[0] == '+' && at == list.end()) {
        list.push_back(langid);
      } else if (item[0] == '-') {
        if (at == list.end()) {
          throw TCliError(cliexit::kUsage,
                          "the image has no language " + TCliImageSupport::FormatLangId(langid));
        }
        list.erase(at);
      }
    }
  }
  if (list.size() > kMaxLanguages) {
    throw TCliError(cliexit::kData, "more than 255 languages cannot be stored");
  }

  if (list.empty()) {
    // As the language dialog does: no languages, so no strings either.
    if (!image->SetLanguages(nullptr, 0)) {
      throw TCliError(cliexit::kSoftware, "the languages could not be removed");
    }
    image->SetByte(21, 0);
  } else {
    if (image->GetSupportedStrings() == 0) {
      throw TCliError(cliexit::kData, "the image carries no strings: add languages together with "
                                      "the first string kinds, korvane-cli strings IMAGE KINDS "
                                      "--lang LANGID");
    }
    // The image keeps the languages it has in its own order and appends the new ones.
    std::vector<uint16_t> expected;
    for (const uint16_t langid : old) {
      if (std::find(list.begin(), list.end(), langid) != list.end()) {
        expected.push_back(langid);
      }
    }
    for (const uint16_t langid : list) {
      if (std::find(old.begin(), old.end(), langid) == old.end()) {
        expected.push_back(langid);
      }
    }
    if (!image->SetLanguages(list.data(), static_cast<uint8_t>(list.size())) ||
        TCliImageSupport::Languages(*image) != expected) {
      Refused(*image, "the change of languages");
    }
  }
  TCliImageSupport::CheckStillValid(*image, "the change of languages");
  TCliImageSupport::Save(*image, parsed.Value("-o", path));
  return cliexit::kOk;
}

int TCliStringCommands::String(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(2, 2);
  if (!parsed.Has("--lang") || !parsed.Has("--kind")) {
    parsed.UsageError();
  }
  const uint16_t langid = LangIdFromText(parsed.Value("--lang"));
  const uint8_t kind = KindFromName(parsed.Value("--kind"));
  const std::string& path = parsed.Positionals()[0];
  const auto lock = TCliImageSupport::LockForEdit(context, path);
  const std::unique_ptr<TEEImage> image = LoadWithStringArea(path);
  RequireLanguage(*image, langid);
  RequireKind(*image, kind);
  const auto stored = TCliImageSupport::StoreString(*image, langid, kind, parsed.Positionals()[1]);
  TCliImageSupport::CheckStillValid(*image, "the string");
  TCliImageSupport::Save(*image, parsed.Value("-o", path));
  TCliImageSupport::ReportStored(context, stored);
  return cliexit::kOk;
}

int TCliStringCommands::Serial(TCliContext& context, const TCliArgs& parsed) {
  const bool generate = parsed.Has("--generate");
  parsed.ExpectPositionals(generate ? 1 : 2, generate ? 1 : 2);
  const std::string& path = parsed.Positionals()[0];
  const auto lock = TCliImageSupport::LockForEdit(context, path);
  const std::unique_ptr<TEEImage> image = LoadWithStringArea(path);
  RequireKind(*image, TEEImage::kSerialNumber);
  const std::vector<uint16_t> langids = TCliImageSupport::Languages(*image);
  if (langids.empty()) {
    throw TCliError(cliexit::kData, "the image has no languages (see korvane-cli languages)");
  }
  // One descriptor serves every language, so storing it through the first one is enough.
  const std::string text = generate ? TSerialNumber::MakeSerialNumber(12) : parsed.Positionals()[1];
  const auto stored =
      TCliImageSupport::StoreString(*image, langids[0], TEEImage::kSerialNumber, text);
  TCliImageSupport::CheckStillValid(*image, "the serial number");
  TCliImageSupport::Save(*image, parsed.Value("-o", path));
  TCliImageSupport::ReportStored(context, stored);
  return cliexit::kOk;
}
