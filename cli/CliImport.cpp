#include "CliImport.h"

#include "CliError.h"
#include "CliExport.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <sstream>

namespace {

[[noreturn]] void Refuse(const std::string& message) {
  throw TCliError(cliexit::kData, message);
}

void OnlyKnownKeys(const TJson& object, const std::string& place,
                   std::initializer_list<std::string_view> known) {
  for (const auto& member : object.items()) {
    if (std::find(known.begin(), known.end(), member.key()) == known.end()) {
      Refuse("unknown key " + TCliJson::Place(place, member.key()));
    }
  }
}

std::string Shown(const TJson& value) {
  return TCliJson::Dump(value, -1);
}

std::vector<uint8_t> ParseBytes(const TJson& lines) {
  if (!lines.is_array()) {
    Refuse("bytes: not a list of lines of byte words");
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string place = TCliJson::Place("bytes", i);
    if (!lines[i].is_string()) {
      Refuse(place + ": " + Shown(lines[i]) + " is not a line of byte words");
    }
    std::istringstream words(lines[i].get<std::string>());
    std::string word;
    while (words >> word) {
      const auto digit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      };
      if (word.size() != 2 || !digit(word[0]) || !digit(word[1])) {
        Refuse(place + ": \"" + word + "\" is not a byte (two hexadecimal digits)");
      }
      bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
  }
  if (bytes.empty() || bytes.size() > TEEImage::kBufferSize) {
    Refuse("bytes: must hold 1 to 512 bytes, not " + std::to_string(bytes.size()));
  }
  return bytes;
}

std::vector<uint16_t> ParseLanguageList(const TJson& list, const std::vector<uint16_t>& old) {
  if (!list.is_array()) {
    Refuse("languages: not a list of LANGIDs");
  }
  std::vector<uint16_t> langids;
  for (size_t i = 0; i < list.size(); ++i) {
    const auto langid = list[i].is_string()
                            ? TCliImageSupport::ParseLangId(list[i].get<std::string>())
                            : std::nullopt;
    if (!langid) {
      Refuse(TCliJson::Place("languages", i) + ": " + Shown(list[i]) + " is not a LANGID");
    }
    langids.push_back(*langid);
  }
  // An image may list one LANGID twice; only a changed list must name each language once.
  for (size_t i = 0; i < langids.size() && langids != old; ++i) {
    if (std::find(langids.begin(), langids.begin() + i, langids[i]) != langids.begin() + i) {
      Refuse(TCliJson::Place("languages", i) + ": language " +
             TCliImageSupport::FormatLangId(langids[i]) + " is listed twice");
    }
  }
  if (langids.size() > 255) {
    Refuse("languages: more than 255 languages cannot be stored");
  }
  return langids;
}

void ApplyLanguages(TEEImage& image, const std::vector<uint16_t>& list, uint8_t mask) {
  const std::vector<uint16_t> old = TCliImageSupport::Languages(image);
  if (list == old && mask == image.GetSupportedStrings()) {
    return;
  }
  if (list != old) {
    std::vector<uint16_t> sortedOld = old, sortedNew = list;
    std::sort(sortedOld.begin(), sortedOld.end());
    std::sort(sortedNew.begin(), sortedNew.end());
    if (sortedOld == sortedNew) {
      Refuse("languages: the languages cannot be reordered");
    }
  }
  // Strings need languages and languages need strings, so the order of the two steps depends
  // on which the image lacks.
  const auto setMask = [&] {
    if (!image.SetSupportedStrings(mask) || image.GetSupportedStrings() != mask) {
      Refuse("fields: the string kinds cannot be changed: " + TCliImageSupport::RefusalText(image));
    }
  };
  const auto setLanguages = [&] {
    if (list.empty()) {
      image.SetLanguages(nullptr, 0);
      image.SetByte(21, 0);
      return;
    }
    if (!image.SetLanguages(list.data(), static_cast<uint8_t>(list.size())) ||
        image.GetLanguageCount() != list.size()) {
      Refuse("languages: the languages cannot be changed: " + TCliImageSupport::RefusalText(image));
    }
  };
  if (old.empty()) {
    setMask();
    setLanguages();
  } else {
    setLanguages();
    if (!list.empty()) {
      setMask();
    } else if (mask != 0) {
      Refuse("fields: strings without languages cannot be stored");
    }
  }
  if (!list.empty() && image.GetSupportedStrings() == 0) {
    Refuse("fields: languages without strings cannot be stored");
  }
}

void ApplyStrings(TEEImage& image, const TJson& strings) {
  if (!strings.is_object()) {
    Refuse("strings: not an object of languages");
  }
  // "0409" and "0x0409" are one language: given both ways, one edit would silently undo the other.
  std::vector<uint16_t> given;
  for (const auto& language : strings.items()) {
    const std::string place = TCliJson::Place("strings", language.key());
    const auto langid = TCliImageSupport::ParseLangId(language.key());
    if (!langid) {
      Refuse("unknown key " + place + " (not a LANGID)");
    }
    if (std::find(given.begin(), given.end(), *langid) != given.end()) {
      Refuse(place + ": language " + TCliImageSupport::FormatLangId(*langid) + " given twice");
    }
    given.push_back(*langid);
    if (!language.value().is_object()) {
      Refuse(place + ": not an object of string kinds");
    }
    const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
    if (std::find(langids.begin(), langids.end(), *langid) == langids.end()) {
      Refuse(place + ": not among the languages");
    }
    for (const auto& member : language.value().items()) {
      const std::string kindPlace = TCliJson::Place(place, member.key());
      const auto kind = TCliImageSupport::ParseStringKind(member.key());
      if (!kind || TCliImageSupport::StringKindName(*kind) != member.key()) {
        Refuse("unknown key " + kindPlace + " (not a string kind)");
      }
      if (!member.value().is_string()) {
        Refuse(kindPlace + ": " + Shown(member.value()) + " is not a text");
      }
      if ((image.GetSupportedStrings() & *kind) == 0) {
        Refuse(kindPlace + ": the image does not carry " + member.key() + " strings");
      }
      const std::string& text = member.value().get_ref<const std::string&>();
      if (TCliImageSupport::ReadString(image, *langid, *kind) == text) {
        continue;
      }
      try {
        TCliImageSupport::StoreString(image, *langid, *kind, text);
      } catch (const TCliError& refusal) {
        Refuse(kindPlace + ": " + refusal.Message());
      }
    }
  }
}

} // namespace

std::vector<uint8_t> TCliImport::Bytes(std::string_view text) {
  TJson root;
  std::string error;
  if (!TCliJson::Parse(text, root, error)) {
    Refuse(error);
  }
  if (!root.is_object()) {
    Refuse("not an exported image (the document is not an object)");
  }
  OnlyKnownKeys(root, "",
                {"format", "version", "kind", "length", "fields", "languages", "strings", "bytes"});
  for (const char* key : {"format", "version", "kind", "length", "fields", "bytes"}) {
    if (!root.contains(key)) {
      Refuse(std::string("not an exported image: it lacks \"") + key + "\"");
    }
  }
  if (root["format"] != TCliExport::kFormat) {
    Refuse("format: " + Shown(root["format"]) + " is not " + TCliExport::kFormat);
  }
  if (!root["version"].is_number_integer() || root["version"] != TCliExport::kVersion) {
    Refuse("version: " + Shown(root["version"]) + " is not a version this tool knows (" +
           std::to_string(TCliExport::kVersion) + ")");
  }

  const std::vector<uint8_t> bytes = ParseBytes(root["bytes"]);
  TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (!image.IsValid()) {
    Refuse("bytes: not a valid image");
  }
  const std::string signature = TCliImageSupport::SignatureText(bytes[0]);
  if (root["kind"] != signature) {
    Refuse("kind: " + Shown(root["kind"]) + " contradicts the bytes, which hold a " + signature +
           " image");
  }
  if (!root["length"].is_number_unsigned() || root["length"] != bytes.size() ||
      bytes.size() != image.GetLength()) {
    Refuse("length: " + Shown(root["length"]) +
           " contradicts the bytes: " + std::to_string(bytes.size()) +
           " bytes that form an image of " + std::to_string(image.GetLength()));
  }
  const THeaderKind kind = *TCliImageSupport::KindOf(image);
  const bool stringArea = TCliImageSupport::HasStringArea(image);
  if (!stringArea) {
    for (const char* key : {"languages", "strings"}) {
      if (root.contains(key)) {
        Refuse(std::string(key) + ": an image of kind " + signature + " has no " + key);
      }
    }
  }

  // The named fields, checked against the bytes; the two that shape the string area go with
  // the languages and strings.
  struct TChange {
    const THeaderField* field;
    uint32_t value;
  };
  std::vector<TChange> changes;
  uint8_t mask = image.GetSupportedStrings();
  std::optional<uint32_t> statedCount;
  const TJson& fields = root["fields"];
  if (!fields.is_object()) {
    Refuse("fields: not an object of field values");
  }
  for (const auto& member : fields.items()) {
    const std::string place = TCliJson::Place("fields", member.key());
    const THeaderField* field = FindHeaderField(member.key());
    if (field == nullptr || field->place[static_cast<int>(kind)].offset < 0) {
      Refuse("unknown key " + place + " (no such field in an image of kind " + signature + ")");
    }
    uint32_t value = 0;
    if (!member.value().is_string() ||
        !ParseHeaderField(*field, member.value().get<std::string>(), value)) {
      Refuse(place + ": " + Shown(member.value()) + " is not a value of this field");
    }
    const int16_t offset = field->place[static_cast<int>(kind)].offset;
    if (stringArea && offset == 20) {
      statedCount = value;
      continue;
    }
    if (stringArea && offset == 21) {
      const uint8_t bit = static_cast<uint8_t>(1u << field->place[static_cast<int>(kind)].shift);
      mask = value ? static_cast<uint8_t>(mask | bit) : static_cast<uint8_t>(mask & ~bit);
      continue;
    }
    if (value == ReadHeaderField(image, *field, kind)) {
      continue;
    }
    if (!IsHeaderFieldEditable(*field, kind)) {
      Refuse(place + ": this field is never editable: change \"bytes\" instead");
    }
    changes.push_back({field, value});
  }

  if (stringArea) {
    const std::vector<uint16_t> old = TCliImageSupport::Languages(image);
    const std::vector<uint16_t> list =
        root.contains("languages") ? ParseLanguageList(root["languages"], old) : old;
    const uint8_t oldCount = image.GetLanguageCount();
    ApplyLanguages(image, list, mask);
    if (statedCount && *statedCount != oldCount && *statedCount != image.GetLanguageCount()) {
      Refuse("fields: the number of languages follows \"languages\" and cannot be set on its own");
    }
    if (root.contains("strings")) {
      ApplyStrings(image, root["strings"]);
    }
  }
  for (const TChange& change : changes) {
    if (!WriteHeaderField(image, *change.field, kind, change.value)) {
      Refuse(TCliJson::Place("fields", std::string(change.field->id)) + ": the value was refused");
    }
  }
  TCliImageSupport::CheckStillValid(image, "the import");
  std::vector<uint8_t> result(TEEImage::kBufferSize, 0);
  image.CopyTo(result.data(), image.GetLength());
  result.resize(image.GetLength());
  return result;
}
