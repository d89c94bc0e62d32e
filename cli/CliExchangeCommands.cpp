#include "CliExchangeCommands.h"

#include "CliArgs.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliExport.h"
#include "CliFiles.h"
#include "CliImageSupport.h"
#include "CliImport.h"
#include "CliJson.h"
#include "CliText.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include <algorithm>

namespace {

std::vector<uint8_t> BytesOf(const TEEImage& image) {
  std::vector<uint8_t> bytes(TEEImage::kBufferSize, 0);
  image.CopyTo(bytes.data(), image.GetLength());
  bytes.resize(image.GetLength());
  return bytes;
}

int16_t OffsetIn(const THeaderField& field, THeaderKind kind) {
  return field.place[static_cast<int>(kind)].offset;
}

// One difference: a line of text, or an entry of the JSON list.
void AddDifference(TCliContext& context, TJson& list, const std::string& what, const std::string& a,
                   const std::string& b) {
  if (context.json) {
    list.push_back(TJson{{"what", what}, {"a", a}, {"b", b}});
  } else {
    context.out << what << ": " << a << " -> " << b << "\n";
  }
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

int TCliExchangeCommands::Export(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  const std::unique_ptr<TEEImage> image = TCliImageSupport::LoadValid(parsed.Positionals()[0]);
  const std::string text = TCliExport::Text(*image);
  if (!parsed.Has("-o")) {
    context.out << text;
    return cliexit::kOk;
  }
  TCliFiles::Write(parsed.Value("-o"), std::vector<uint8_t>(text.begin(), text.end()));
  return cliexit::kOk;
}

int TCliExchangeCommands::Import(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(1, 1);
  if (!parsed.Has("-o")) {
    parsed.UsageError();
  }
  const std::string& path = parsed.Positionals()[0];
  const std::string name = path == "-" ? std::string("standard input") : path;
  std::vector<uint8_t> bytes;
  try {
    const std::string text = TCliFiles::ReadInput(path, TCliImport::kMaxSize, context.in);
    try {
      bytes = TCliImport::Bytes(text);
    } catch (const TCliError& refusal) {
      throw TCliError(refusal.Code(), name + ": " + refusal.Message());
    }
  } catch (const TCliError& refusal) {
    throw TCliError(refusal.Code(), refusal.Message() + "; nothing was written");
  }
  TCliFiles::Write(parsed.Value("-o"), bytes);
  return cliexit::kOk;
}

int TCliExchangeCommands::Diff(TCliContext& context, const TCliArgs& parsed) {
  parsed.ExpectPositionals(2, 2);
  const std::unique_ptr<TEEImage> a = TCliImageSupport::Load(parsed.Positionals()[0]);
  const std::unique_ptr<TEEImage> b = TCliImageSupport::Load(parsed.Positionals()[1]);
  TJson list = TJson::array();
  const auto kindA = TCliImageSupport::KindOf(*a);
  const auto kindB = TCliImageSupport::KindOf(*b);
  const auto signature = [](const TEEImage& image) {
    return image.GetLength() ? TCliImageSupport::SignatureText(image.GetByte(0))
                             : std::string("none");
  };
  if (signature(*a) != signature(*b)) {
    AddDifference(context, list, "kind", signature(*a), signature(*b));
  }
  if (a->GetLength() != b->GetLength()) {
    AddDifference(context, list, "length", std::to_string(a->GetLength()),
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
        AddDifference(context, list, "field " + std::string(field.id), va, vb);
      }
    }
  }
  const bool stringsA = TCliImageSupport::HasStringArea(*a) && a->IsValid();
  const bool stringsB = TCliImageSupport::HasStringArea(*b) && b->IsValid();
  if (stringsA && stringsB) {
    if (LanguagesText(*a) != LanguagesText(*b)) {
      AddDifference(context, list, "languages", LanguagesText(*a), LanguagesText(*b));
    }
    for (const uint16_t langid : TCliImageSupport::Languages(*a)) {
      for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
        const auto ta = TCliImageSupport::ReadString(*a, langid, stringKind.bit);
        const auto tb = TCliImageSupport::ReadString(*b, langid, stringKind.bit);
        if (ta && tb && *ta != *tb) {
          AddDifference(context, list,
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
      AddDifference(context, list, "byte " + TCliText::Address(static_cast<uint32_t>(i)), va, vb);
      differ = true;
    }
  }
  if (context.json) {
    context.out << TCliJson::Dump(TJson{{"differences", list}, {"equal", !differ}}) << "\n";
  }
  return differ ? cliexit::kDiffers : cliexit::kOk;
}
