#include "CliExchangeCommands.h"

#include "CliArgs.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include "CliText.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace {

constexpr char kFormatName[] = "korvane-image";
constexpr int kBytesPerLine = 16;

std::vector<uint8_t> BytesOf(const TEEImage& image) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize, 0);
  image.CopyTo(bytes.data(), image.GetLength());
  bytes.resize(image.GetLength());
  return bytes;
}

int16_t OffsetIn(const THeaderField& field, THeaderKind kind) {
  return field.place[static_cast<int>(kind)].offset;
}

std::string ExportText(const TEEImage& image) {
  const THeaderKind kind = *TCliImageSupport::KindOf(image);
  std::ostringstream out;
  out << "{\n  \"format\": \"" << kFormatName << "\",\n  \"version\": 1,\n";
  out << "  \"kind\": " << TCliJson::Quote(TCliImageSupport::SignatureText(image.GetByte(0)))
      << ",\n  \"length\": " << image.GetLength() << ",\n  \"fields\": {";
  const char* separator = "\n";
  for (const THeaderField& field : HeaderFields()) {
    if (OffsetIn(field, kind) < 0) {
      continue;
    }
    out << separator << "    " << TCliJson::Quote(field.id) << ": "
        << TCliJson::Quote(FormatHeaderField(field, ReadHeaderField(image, field, kind)));
    separator = ",\n";
  }
  out << "\n  },\n";
  if (TCliImageSupport::HasStringArea(image)) {
    const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
    out << "  \"languages\": [";
    for (size_t i = 0; i < langids.size(); ++i) {
      out << (i ? ", " : "") << TCliJson::Quote(TCliImageSupport::FormatLangId(langids[i]));
    }
    out << "],\n  \"strings\": {";
    separator = "\n";
    for (const uint16_t langid : langids) {
      out << separator << "    " << TCliJson::Quote(TCliImageSupport::FormatLangId(langid))
          << ": {";
      const char* inner = "\n";
      for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
        const auto text = TCliImageSupport::ReadString(image, langid, stringKind.bit);
        if (text) {
          out << inner << "      " << TCliJson::Quote(stringKind.name) << ": "
              << TCliJson::Quote(*text);
          inner = ",\n";
        }
      }
      out << "\n    }";
      separator = ",\n";
    }
    out << (langids.empty() ? "},\n" : "\n  },\n");
  }
  out << "  \"bytes\": [";
  const std::vector<uint8_t> bytes = BytesOf(image);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % kBytesPerLine == 0) {
      out << (i ? "\",\n    \"" : "\n    \"");
    } else {
      out << " ";
    }
    out << TCliText::Hex2(bytes[i]);
  }
  out << "\"\n  ]\n}\n";
  return out.str();
}

[[noreturn]] void Refuse(const std::string& message) {
  throw TCliError(cliexit::kData, message);
}

const TJsonValue& Member(const TJsonValue& object, const char* name, TJsonValue::TType type) {
  const TJsonValue* value = object.Find(name);
  if (value == nullptr || value->type != type) {
    Refuse(std::string("the file lacks a valid \"") + name + "\"");
  }
  return *value;
}

std::vector<uint8_t> ParseBytes(const TJsonValue& lines) {
  std::vector<uint8_t> bytes;
  for (const TJsonValue& line : lines.items) {
    if (line.type != TJsonValue::TType::String) {
      Refuse("\"bytes\" holds something other than text");
    }
    std::istringstream words(line.text);
    std::string word;
    while (words >> word) {
      unsigned value = 0;
      int used = 0;
      if (word.size() != 2 || std::sscanf(word.c_str(), "%2x%n", &value, &used) != 1 || used != 2) {
        Refuse("\"" + word + "\" in \"bytes\" is not a byte");
      }
      bytes.push_back(static_cast<uint8_t>(value));
    }
  }
  if (bytes.empty() || bytes.size() > TEEImage::kBufferSize) {
    Refuse("\"bytes\" must hold 1 to 512 bytes");
  }
  return bytes;
}

std::vector<uint16_t> ParseLanguageList(const TJsonValue& list) {
  std::vector<uint16_t> langids;
  for (const TJsonValue& item : list.items) {
    const auto langid = item.type == TJsonValue::TType::String
                            ? TCliImageSupport::ParseLangId(item.text)
                            : std::nullopt;
    if (!langid) {
      Refuse("\"languages\" holds something that is not a LANGID");
    }
    if (std::find(langids.begin(), langids.end(), *langid) != langids.end()) {
      Refuse("language " + TCliImageSupport::FormatLangId(*langid) + " is listed twice");
    }
    langids.push_back(*langid);
  }
  if (langids.size() > 255) {
    Refuse("more than 255 languages cannot be stored");
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
      Refuse("the languages cannot be reordered");
    }
  }
  // Strings need languages and languages need strings, so the order of the two steps depends
  // on which the image lacks.
  const auto setMask = [&] {
    if (!image.SetSupportedStrings(mask) || image.GetSupportedStrings() != mask) {
      Refuse("no room: the strings do not fit in the 512-byte image");
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
      Refuse("no room: the languages do not fit in the 512-byte image");
    }
    std::vector<uint16_t> now = TCliImageSupport::Languages(image);
    for (const uint16_t langid : list) {
      if (std::find(now.begin(), now.end(), langid) == now.end()) {
        Refuse("no room: the languages do not fit in the 512-byte image");
      }
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
      Refuse("strings without languages cannot be stored");
    }
  }
  if (!list.empty() && image.GetSupportedStrings() == 0) {
    Refuse("languages without strings cannot be stored");
  }
}

void ApplyStrings(TEEImage& image, const TJsonValue& strings) {
  for (const auto& [langText, kinds] : strings.members) {
    const auto langid = TCliImageSupport::ParseLangId(langText);
    if (!langid || kinds.type != TJsonValue::TType::Object) {
      Refuse("\"strings\" holds \"" + langText + "\", which is not a LANGID with its strings");
    }
    const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
    if (std::find(langids.begin(), langids.end(), *langid) == langids.end()) {
      Refuse("strings for " + langText + ", which is not among the languages");
    }
    for (const auto& [kindName, text] : kinds.members) {
      const auto kind = TCliImageSupport::ParseStringKind(kindName);
      if (!kind || text.type != TJsonValue::TType::String) {
        Refuse("\"" + kindName + "\" of " + langText + " is not a string kind with its text");
      }
      if ((image.GetSupportedStrings() & *kind) == 0) {
        Refuse("a " + kindName + " string, which the image does not carry");
      }
      if (TCliImageSupport::ReadString(image, *langid, *kind) != text.text) {
        TCliImageSupport::StoreString(image, *langid, *kind, text.text);
      }
    }
  }
}

void PrintDiffLine(TCliContext& context, bool& first, const std::string& what, const std::string& a,
                   const std::string& b) {
  if (context.json) {
    context.out << (first ? "\n" : ",\n") << "    {\"what\": " << TCliJson::Quote(what)
                << ", \"a\": " << TCliJson::Quote(a) << ", \"b\": " << TCliJson::Quote(b) << "}";
  } else {
    context.out << what << ": " << a << " -> " << b << "\n";
  }
  first = false;
}

std::string LanguagesText(const TEEImage& image) {
  std::string text;
  for (const uint16_t langid : TCliImageSupport::Languages(image)) {
    if (!text.empty()) {
      text += ' ';
    }
    text += TCliImageSupport::FormatLangId(langid);
  }
  return text.empty() ? "none" : text;
}

} // namespace

int TCliExchangeCommands::Export(TCliContext& context, const std::vector<std::string>& args) {
  static constexpr TCliOptionSpec kSpecs[] = {{"-o", true}};
  const TCliArgs parsed = TCliArgs::Parse(args, kSpecs);
  parsed.ExpectPositionals(1, 1, "export IMAGE [-o FILE]");
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(parsed.Positionals()[0]);
  const std::string text = ExportText(*image);
  if (!parsed.Has("-o")) {
    context.out << text;
    return cliexit::kOk;
  }
  const std::string out = parsed.Value("-o");
  TCliFiles::Write(out, std::vector<uint8_t>(text.begin(), text.end()));
  return cliexit::kOk;
}

int TCliExchangeCommands::Import(TCliContext&, const std::vector<std::string>& args) {
  static constexpr TCliOptionSpec kSpecs[] = {{"-o", true}};
  const TCliArgs parsed = TCliArgs::Parse(args, kSpecs);
  parsed.ExpectPositionals(1, 1, "import FILE -o IMAGE");
  if (!parsed.Has("-o")) {
    throw TCliError(cliexit::kUsage, "usage: korvane-cli import FILE -o IMAGE");
  }
  const std::string& path = parsed.Positionals()[0];
  TCliImageSupport::RequireReadable(path);
  std::ifstream file(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(file)), {});
  if (!file.is_open() || file.bad()) {
    throw TCliError(cliexit::kNoInput, path + ": cannot be read");
  }
  TJsonValue root;
  std::string error;
  if (!TCliJson::Parse(content, root, error)) {
    Refuse(path + ": " + error);
  }
  if (root.type != TJsonValue::TType::Object) {
    Refuse(path + ": not an exported image");
  }
  const TJsonValue* format = root.Find("format");
  if (format == nullptr || format->text != kFormatName) {
    Refuse(path + ": not an exported image");
  }

  const std::vector<uint8_t> bytes = ParseBytes(Member(root, "bytes", TJsonValue::TType::Array));
  TEEImage image(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (!image.IsValid()) {
    Refuse(path + ": its bytes are not a valid image");
  }
  const THeaderKind kind = *TCliImageSupport::KindOf(image);
  const bool stringArea = TCliImageSupport::HasStringArea(image);

  // The named fields, checked against the bytes; the two that shape the string area go with
  // the languages and strings.
  struct TChange {
    const THeaderField* field;
    uint32_t value;
  };
  std::vector<TChange> changes;
  uint8_t mask = image.GetSupportedStrings();
  std::optional<uint32_t> statedCount;
  const TJsonValue& fields = Member(root, "fields", TJsonValue::TType::Object);
  for (const auto& [id, text] : fields.members) {
    const THeaderField* field = FindHeaderField(id);
    if (field == nullptr || OffsetIn(*field, kind) < 0) {
      Refuse("unknown field \"" + id + "\" for an image of this kind");
    }
    uint32_t value = 0;
    if (text.type != TJsonValue::TType::String || !ParseHeaderField(*field, text.text, value)) {
      Refuse("\"" + text.text + "\" is not a value of field \"" + id + "\"");
    }
    const int16_t offset = OffsetIn(*field, kind);
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
      Refuse("field \"" + id + "\" is never editable: change \"bytes\" instead");
    }
    changes.push_back({field, value});
  }

  if (stringArea) {
    const TJsonValue* languages = root.Find("languages");
    const std::vector<uint16_t> list =
        languages != nullptr && languages->type == TJsonValue::TType::Array
            ? ParseLanguageList(*languages)
            : TCliImageSupport::Languages(image);
    const uint8_t oldCount = image.GetLanguageCount();
    ApplyLanguages(image, list, mask);
    if (statedCount && *statedCount != oldCount && *statedCount != image.GetLanguageCount()) {
      Refuse("the number of languages follows \"languages\" and cannot be set on its own");
    }
    const TJsonValue* strings = root.Find("strings");
    if (strings != nullptr) {
      if (strings->type != TJsonValue::TType::Object) {
        Refuse("\"strings\" is not an object");
      }
      ApplyStrings(image, *strings);
    }
  }
  for (const TChange& change : changes) {
    if (!WriteHeaderField(image, *change.field, kind, change.value)) {
      Refuse("field \"" + std::string(change.field->id) + "\" was refused");
    }
  }
  TCliImageSupport::CheckStillValid(image, "the import");
  TCliImageSupport::Save(image, parsed.Value("-o"));
  return cliexit::kOk;
}

int TCliExchangeCommands::Diff(TCliContext& context, const std::vector<std::string>& args) {
  const TCliArgs parsed = TCliArgs::Parse(args, {});
  parsed.ExpectPositionals(2, 2, "diff A B");
  const std::unique_ptr<TEEImage> a = TCliImageSupport::Load(parsed.Positionals()[0]);
  const std::unique_ptr<TEEImage> b = TCliImageSupport::Load(parsed.Positionals()[1]);
  bool first = true;
  if (context.json) {
    context.out << "{\n  \"differences\": [";
  }
  const auto kindA = TCliImageSupport::KindOf(*a);
  const auto kindB = TCliImageSupport::KindOf(*b);
  const auto signature = [](const TEEImage& image) {
    return image.GetLength() ? TCliImageSupport::SignatureText(image.GetByte(0))
                             : std::string("none");
  };
  if (signature(*a) != signature(*b)) {
    PrintDiffLine(context, first, "kind", signature(*a), signature(*b));
  }
  if (a->GetLength() != b->GetLength()) {
    PrintDiffLine(context, first, "length", std::to_string(a->GetLength()),
                  std::to_string(b->GetLength()));
  }
  if (kindA && kindB) {
    for (const THeaderField& field : HeaderFields()) {
      if (OffsetIn(field, *kindA) < 0 || OffsetIn(field, *kindB) < 0) {
        continue;
      }
      const std::string va = FormatHeaderField(field, ReadHeaderField(*a, field, *kindA));
      const std::string vb = FormatHeaderField(field, ReadHeaderField(*b, field, *kindB));
      if (va != vb) {
        PrintDiffLine(context, first, "field " + std::string(field.id), va, vb);
      }
    }
  }
  const bool stringsA = TCliImageSupport::HasStringArea(*a) && a->IsValid();
  const bool stringsB = TCliImageSupport::HasStringArea(*b) && b->IsValid();
  if (stringsA && stringsB) {
    if (LanguagesText(*a) != LanguagesText(*b)) {
      PrintDiffLine(context, first, "languages", LanguagesText(*a), LanguagesText(*b));
    }
    for (const uint16_t langid : TCliImageSupport::Languages(*a)) {
      for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
        const auto ta = TCliImageSupport::ReadString(*a, langid, stringKind.bit);
        const auto tb = TCliImageSupport::ReadString(*b, langid, stringKind.bit);
        if (ta && tb && *ta != *tb) {
          PrintDiffLine(context, first,
                        "string " + TCliImageSupport::FormatLangId(langid) + " " +
                            std::string(stringKind.name),
                        TCliJson::Quote(*ta), TCliJson::Quote(*tb));
        }
      }
    }
  }
  const std::vector<uint8_t> bytesA = BytesOf(*a);
  const std::vector<uint8_t> bytesB = BytesOf(*b);
  bool differ = bytesA.size() != bytesB.size();
  for (size_t i = 0; i < std::max(bytesA.size(), bytesB.size()); ++i) {
    const std::string va = i < bytesA.size() ? TCliText::Hex2(bytesA[i]) : "--";
    const std::string vb = i < bytesB.size() ? TCliText::Hex2(bytesB[i]) : "--";
    if (va != vb) {
      PrintDiffLine(context, first, "byte " + TCliText::Address(static_cast<uint32_t>(i)), va, vb);
      differ = true;
    }
  }
  if (context.json) {
    context.out << (first ? "],\n" : "\n  ],\n") << "  \"equal\": " << (differ ? "false" : "true")
                << "\n}\n";
  }
  return differ ? cliexit::kDiffers : cliexit::kOk;
}
