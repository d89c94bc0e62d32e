#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// A JSON document that keeps its members in the order they were added or read, so that exports
// and --json output come out in a stable order and diff cleanly.
using TJson = nlohmann::ordered_json;

// JSON in and out of the tool, through nlohmann-json.
class TCliJson {
public:
  // The document as text, with `indent` blanks per level (one line for a negative indent).
  // Bytes that are not UTF-8 (a file name, say) come out as U+FFFD, so the text stays JSON.
  static std::string Dump(const TJson& value, int indent = 2);
  // A JSON string literal for UTF-8 text, as Dump writes it.
  static std::string Quote(std::string_view utf8);

  // Parses a whole document strictly. Besides what JSON forbids, a key given twice in one object
  // and an escape that makes no text (\u0000, a lone surrogate) are refused. False with `error`
  // saying what and where ("a key given twice: fields.vid", "line 2, column 7: ...").
  static bool Parse(std::string_view text, TJson& value, std::string& error);

  // "fields.vid", "bytes[2]": the place of a value, for messages.
  static std::string Place(const std::string& parent, const std::string& key);
  static std::string Place(const std::string& parent, size_t index);
};
