#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A parsed JSON value. Objects keep their members in document order.
struct TJsonValue {
  enum class TType { Null, Bool, Number, String, Array, Object };
  TType type = TType::Null;
  bool boolean = false;
  double number = 0;
  std::string text; // String: UTF-8
  std::vector<TJsonValue> items;
  std::vector<std::pair<std::string, TJsonValue>> members;

  // The member with that name, or nullptr (also when this is not an object).
  const TJsonValue* Find(std::string_view name) const;
};

// The small JSON reader and writer of the command-line tool (export, import, --json output).
class TCliJson {
public:
  // A JSON string literal for UTF-8 text: quotes, backslash and control characters escaped,
  // everything else written as it is.
  static std::string Quote(std::string_view utf8);
  // Parses a whole document; false with a message naming the position on any error.
  static bool Parse(std::string_view text, TJsonValue& value, std::string& error);
};
