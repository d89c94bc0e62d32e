#include "CliExport.h"

#include "CliImageSupport.h"
#include "CliText.h"
#include "Eeimage.h"
#include "HeaderMap.h"

#include <algorithm>

TJson TCliExport::Document(const TEEImage& image) {
  const THeaderKind kind = *TCliImageSupport::KindOf(image);
  TJson document;
  document["format"] = kFormat;
  document["version"] = kVersion;
  document["kind"] = TCliImageSupport::SignatureText(image.GetByte(0));
  document["length"] = image.GetLength();
  TJson fields = TJson::object();
  for (const THeaderField& field : HeaderFields()) {
    if (field.place[static_cast<int>(kind)].offset >= 0) {
      fields[std::string(field.id)] = FormatHeaderField(field, ReadHeaderField(image, field, kind));
    }
  }
  document["fields"] = fields;
  if (TCliImageSupport::HasStringArea(image)) {
    const std::vector<uint16_t> langids = TCliImageSupport::Languages(image);
    TJson languages = TJson::array();
    TJson strings = TJson::object();
    for (size_t i = 0; i < langids.size(); ++i) {
      languages.push_back(TCliImageSupport::FormatLangId(langids[i]));
      if (std::find(langids.begin(), langids.begin() + i, langids[i]) != langids.begin() + i) {
        continue; // a string is found by its LANGID: only the first of equal ones can be named
      }
      TJson texts = TJson::object();
      for (const TCliStringKind& stringKind : TCliImageSupport::StringKinds()) {
        const auto text = TCliImageSupport::ReadString(image, langids[i], stringKind.bit);
        if (text && text->find('\0') == std::string::npos) {
          texts[std::string(stringKind.name)] = *text;
        }
      }
      strings[TCliImageSupport::FormatLangId(langids[i])] = texts;
    }
    document["languages"] = languages;
    document["strings"] = strings;
  }
  TJson bytes = TJson::array();
  std::string line;
  for (uint32_t i = 0; i < image.GetLength(); ++i) {
    line += (line.empty() ? "" : " ") + TCliText::Hex2(image.GetByte(static_cast<int32_t>(i)));
    if ((i + 1) % kBytesPerLine == 0 || i + 1 == image.GetLength()) {
      bytes.push_back(line);
      line.clear();
    }
  }
  document["bytes"] = bytes;
  return document;
}

std::string TCliExport::Text(const TEEImage& image) {
  return TCliJson::Dump(Document(image)) + "\n";
}
