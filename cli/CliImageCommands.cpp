#include "CliImageCommands.h"

#include "CliArgs.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliImageSupport.h"
#include "CliJson.h"
#include "CliSuggest.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include <array>
#include <cstdint>
#include <iomanip>

namespace {

constexpr std::array<THeaderKind, kHeaderKindCount> kKinds = {THeaderKind::D0, THeaderKind::D2,
                                                              THeaderKind::D3, THeaderKind::D4};
constexpr std::array<const char*, kHeaderKindCount> kKindNames = {"0xD0", "0xD2", "0xD3", "0xD4"};

bool HasField(const THeaderField& field, THeaderKind kind) {
  return field.place[static_cast<int>(kind)].offset >= 0;
}

// Offsets 20 and 21 of a 0xD4 image shape its string area: only `strings` and `languages`
// change them.
bool ShapesStringArea(const THeaderField& field, THeaderKind kind) {
  const int16_t offset = field.place[static_cast<int>(kind)].offset;
  return kind == THeaderKind::D4 && (offset == 20 || offset == 21);
}

bool SetAccepts(const THeaderField& field, THeaderKind kind) {
  return IsHeaderFieldEditable(field, kind) && !ShapesStringArea(field, kind);
}

void PrintInfoText(TCliContext& context, const std::string& path, const TEEImage& image) {
  std::ostream& out = context.out;
  const auto kind = TCliImageSupport::KindOf(image);
  out << "file: " << path << "\n";
  out << "kind: "
      << (image.GetLength() > 0 ? TCliImageSupport::SignatureText(image.GetByte(0)) : "none")
      << (kind ? "" : " (unknown signature)") << "\n";
  out << "length: " << image.GetLength() << "\n";
  out << "valid: " << (image.IsValid() ? "yes" : "no") << "\n";
  if (!kind) {
    return;
  }
  out << "fields:\n";
  for (const THeaderField& field : HeaderFields()) {
    if (!HasField(field, *kind)) {
      continue;
    }
    out << "  " << std::left << std::setw(24) << field.id << std::setw(30)
        << field.caption[static_cast<int>(*kind)]
        << FormatHeaderField(field, ReadHeaderField(image, field, *kind)) << "\n";
  }
  if (!TCliImageSupport::HasStringArea(image) || !image.IsValid()) {
    return;
  }
  out << "languages:";
  const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
  for (const uint16_t langid : langids) {
    out << " " << TCliImageSupport::FormatLangId(langid);
  }
  out << (langids.empty() ? " none\n" : "\n");
  out << "strings:\n";
  for (const uint16_t langid : langids) {
    for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
      const auto text = TCliImageSupport::ReadString(image, langid, stringKind.bit);
      if (text) {
        out << "  " << TCliImageSupport::FormatLangId(langid) << " " << std::left << std::setw(13)
            << stringKind.name << TCliJson::Quote(*text) << "\n";
      }
    }
  }
}

void PrintInfoJson(TCliContext& context, const std::string& path, const TEEImage& image) {
  const auto kind = TCliImageSupport::KindOf(image);
  TJson info;
  info["file"] = path;
  info["kind"] = image.GetLength() > 0 ? TJson(TCliImageSupport::SignatureText(image.GetByte(0)))
                                       : TJson(nullptr);
  info["length"] = image.GetLength();
  info["valid"] = image.IsValid();
  if (kind) {
    TJson fields = TJson::object();
    for (const THeaderField& field : HeaderFields()) {
      if (HasField(field, *kind)) {
        fields[std::string(field.id)] = {
            {"caption", field.caption[static_cast<int>(*kind)]},
            {"value", FormatHeaderField(field, ReadHeaderField(image, field, *kind))}};
      }
    }
    info["fields"] = fields;
  }
  if (kind && TCliImageSupport::HasStringArea(image) && image.IsValid()) {
    const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
    TJson languages = TJson::array();
    TJson strings = TJson::object();
    for (const uint16_t langid : langids) {
      languages.push_back(TCliImageSupport::FormatLangId(langid));
      TJson texts = TJson::object();
      for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
        const auto text = TCliImageSupport::ReadString(image, langid, stringKind.bit);
        if (text) {
          texts[std::string(stringKind.name)] = *text;
        }
      }
      strings[TCliImageSupport::FormatLangId(langid)] = texts;
    }
    info["languages"] = languages;
    info["strings"] = strings;
  }
  context.out << TCliJson::Dump(info) << "\n";
}

} // namespace

int TCliImageCommands::Info(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  const std::string& path = parsed.Positionals()[0];
  const std::unique_ptr<TEEImage> image = TCliImageSupport::Load(path);
  if (context.json) {
    PrintInfoJson(context, path, *image);
  } else {
    PrintInfoText(context, path, *image);
  }
  if (!image->IsValid()) {
    context.err << "korvane-cli: " << path << ": not a valid image\n";
    return cliexit::kData;
  }
  return cliexit::kOk;
}

int TCliImageCommands::Fields(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(0, 0);
  std::ostream& out = context.out;
  if (context.json) {
    TJson list = TJson::array();
    for (const THeaderField& field : HeaderFields()) {
      if (!field.editable) {
        continue;
      }
      TJson kinds = TJson::object();
      for (size_t k = 0; k < kKinds.size(); ++k) {
        if (!SetAccepts(field, kKinds[k])) {
          continue;
        }
        const int index = static_cast<int>(kKinds[k]);
        TJson place = {{"offset", field.place[index].offset}};
        if (field.encoding == TFieldEncoding::Bit || field.encoding == TFieldEncoding::Nibble) {
          place["shift"] = field.place[index].shift;
        }
        place["caption"] = field.caption[index];
        kinds[kKindNames[k]] = place;
      }
      list.push_back({{"id", field.id}, {"width", field.width}, {"kinds", kinds}});
    }
    out << TCliJson::Dump(list) << "\n";
    return cliexit::kOk;
  }
  out << std::left << std::setw(24) << "id" << std::setw(7) << "width";
  for (const char* name : kKindNames) {
    out << std::setw(7) << name;
  }
  out << "caption\n";
  for (const THeaderField& field : HeaderFields()) {
    if (!field.editable) {
      continue;
    }
    out << std::left << std::setw(24) << field.id << std::setw(7) << static_cast<int>(field.width);
    std::string captions;
    for (const THeaderKind kind : kKinds) {
      out << std::setw(7)
          << (SetAccepts(field, kind) ? TCliImageSupport::FieldOffsetText(field, kind) : "-");
      const std::string caption(field.caption[static_cast<int>(kind)]);
      if (!caption.empty() && captions.find(caption) == std::string::npos) {
        if (!captions.empty()) {
          captions += " / ";
        }
        captions += caption;
      }
    }
    out << captions << "\n";
  }
  return cliexit::kOk;
}

int TCliImageCommands::Set(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(2, SIZE_MAX);
  const std::string& path = parsed.Positionals()[0];

  // Names and values are checked before the file is touched; what depends on the kind after.
  struct TAssignment {
    const THeaderField* field;
    std::string id;
    uint32_t value;
  };
  std::vector<TAssignment> assignments;
  for (size_t i = 1; i < parsed.Positionals().size(); ++i) {
    const std::string& item = parsed.Positionals()[i];
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      throw TCliError(cliexit::kUsage, "expected ID=VALUE, got \"" + item + "\"");
    }
    const std::string id = TCliSuggest::Lower(item.substr(0, eq));
    const THeaderField* field = FindHeaderField(id);
    if (field == nullptr) {
      std::vector<std::string_view> ids;
      for (const THeaderField& known : HeaderFields()) {
        if (known.editable) {
          ids.push_back(known.id);
        }
      }
      const std::string typed = item.substr(0, eq);
      const std::string near = TCliSuggest::DidYouMean(typed, ids);
      throw TCliError(cliexit::kUsage, "unknown field `" + typed + "`" +
                                           (near.empty() ? " (see korvane-cli fields)" : near));
    }
    if (!field->editable) {
      throw TCliError(cliexit::kUsage, "field \"" + id + "\" is never editable");
    }
    uint32_t value = 0;
    if (!ParseHeaderField(*field, item.substr(eq + 1), value)) {
      throw TCliError(cliexit::kUsage,
                      "\"" + item.substr(eq + 1) + "\" is not a value of field \"" + id + "\" (" +
                          (field->encoding == TFieldEncoding::Bit
                               ? std::string("0 or 1")
                               : std::to_string(field->width / 4) + " hexadecimal digits") +
                          ")");
    }
    assignments.push_back({field, id, value});
  }

  const auto lock = TCliImageSupport::LockForEdit(context, path);
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(path);
  const THeaderKind kind = *TCliImageSupport::KindOf(*image);
  for (const TAssignment& assignment : assignments) {
    if (!HasField(*assignment.field, kind)) {
      throw TCliError(cliexit::kUsage, "an image of kind " +
                                           TCliImageSupport::SignatureText(image->GetByte(0)) +
                                           " has no field \"" + assignment.id + "\"");
    }
    if (!IsHeaderFieldEditable(*assignment.field, kind)) {
      throw TCliError(cliexit::kUsage, "field \"" + assignment.id +
                                           "\" is not editable in an image of kind " +
                                           TCliImageSupport::SignatureText(image->GetByte(0)));
    }
    if (ShapesStringArea(*assignment.field, kind)) {
      throw TCliError(cliexit::kUsage, "field \"" + assignment.id +
                                           "\" shapes the string area of a 0xD4 image: use "
                                           "korvane-cli strings or languages");
    }
  }
  for (const TAssignment& assignment : assignments) {
    if (!WriteHeaderField(*image, *assignment.field, kind, assignment.value)) {
      throw TCliError(cliexit::kUsage, "field \"" + assignment.id + "\" was refused");
    }
  }
  TCliImageSupport::CheckStillValid(*image, "the change");
  TCliImageSupport::Save(*image, parsed.Value("-o", path));
  return cliexit::kOk;
}
