#include "CliJson.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Recursive descent over the text; nesting is bounded so a hostile file cannot exhaust the stack.
class TJsonReader {
public:
  explicit TJsonReader(std::string_view text) : FText(text) {}

  bool Document(TJsonValue& value, std::string& error) {
    if (!Value(value, 0)) {
      error = FError + " at offset " + std::to_string(FPos);
      return false;
    }
    SkipSpace();
    if (FPos != FText.size()) {
      error = "unexpected text after the document at offset " + std::to_string(FPos);
      return false;
    }
    return true;
  }

private:
  static constexpr int kMaxDepth = 64;
  std::string_view FText;
  size_t FPos = 0;
  std::string FError;

  bool Fail(const char* message) {
    FError = message;
    return false;
  }

  void SkipSpace() {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' ||
                                   FText[FPos] == '\n' || FText[FPos] == '\r')) {
      ++FPos;
    }
  }

  bool Literal(std::string_view word) {
    if (FText.substr(FPos, word.size()) != word) {
      return Fail("unknown literal");
    }
    FPos += word.size();
    return true;
  }

  bool Value(TJsonValue& value, int depth) {
    if (depth > kMaxDepth) {
      return Fail("nesting too deep");
    }
    SkipSpace();
    if (FPos >= FText.size()) {
      return Fail("unexpected end");
    }
    const char c = FText[FPos];
    if (c == '{') {
      return Object(value, depth);
    }
    if (c == '[') {
      return Array(value, depth);
    }
    if (c == '"') {
      value.type = TJsonValue::TType::String;
      return String(value.text);
    }
    if (c == 't' || c == 'f') {
      value.type = TJsonValue::TType::Bool;
      value.boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') {
      value.type = TJsonValue::TType::Null;
      return Literal("null");
    }
    return Number(value);
  }

  bool Number(TJsonValue& value) {
    const size_t start = FPos;
    while (FPos < FText.size() &&
           std::string_view("+-0123456789.eE").find(FText[FPos]) != std::string_view::npos) {
      ++FPos;
    }
    if (FPos == start) {
      return Fail("unexpected character");
    }
    const std::string digits(FText.substr(start, FPos - start));
    char* end = nullptr;
    value.number = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) {
      return Fail("malformed number");
    }
    value.type = TJsonValue::TType::Number;
    return true;
  }

  bool Hex4(uint32_t& unit) {
    if (FPos + 4 > FText.size()) {
      return Fail("short \\u escape");
    }
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = FText[FPos++];
      unit <<= 4;
      if (h >= '0' && h <= '9') {
        unit |= static_cast<uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        unit |= static_cast<uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        unit |= static_cast<uint32_t>(h - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    return true;
  }

  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++FPos; // opening quote
    out.clear();
    while (FPos < FText.size()) {
      const char c = FText[FPos++];
      if (c == '"') {
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return Fail("control character in string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (FPos >= FText.size()) {
        break;
      }
      const char e = FText[FPos++];
      switch (e) {
      case '"':
      case '\\':
      case '/':
        out += e;
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        uint32_t unit = 0;
        if (!Hex4(unit)) {
          return false;
        }
        if (unit >= 0xD800 && unit < 0xDC00 && FText.substr(FPos, 2) == "\\u") {
          const size_t back = FPos;
          FPos += 2;
          uint32_t low = 0;
          if (!Hex4(low)) {
            return false;
          }
          if (low >= 0xDC00 && low < 0xE000) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          } else {
            FPos = back;
          }
        }
        AppendUtf8(out, unit);
        break;
      }
      default:
        return Fail("unknown escape");
      }
    }
    return Fail("unterminated string");
  }

  bool Array(TJsonValue& value, int depth) {
    ++FPos;
    value.type = TJsonValue::TType::Array;
    SkipSpace();
    if (FPos < FText.size() && FText[FPos] == ']') {
      ++FPos;
      return true;
    }
    while (true) {
      value.items.emplace_back();
      if (!Value(value.items.back(), depth + 1)) {
        return false;
      }
      SkipSpace();
      if (FPos < FText.size() && FText[FPos] == ',') {
        ++FPos;
        continue;
      }
      if (FPos < FText.size() && FText[FPos] == ']') {
        ++FPos;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool Object(TJsonValue& value, int depth) {
    ++FPos;
    value.type = TJsonValue::TType::Object;
    SkipSpace();
    if (FPos < FText.size() && FText[FPos] == '}') {
      ++FPos;
      return true;
    }
    while (true) {
      SkipSpace();
      if (FPos >= FText.size() || FText[FPos] != '"') {
        return Fail("expected a member name");
      }
      std::string name;
      if (!String(name)) {
        return false;
      }
      SkipSpace();
      if (FPos >= FText.size() || FText[FPos] != ':') {
        return Fail("expected ':'");
      }
      ++FPos;
      value.members.emplace_back(std::move(name), TJsonValue());
      if (!Value(value.members.back().second, depth + 1)) {
        return false;
      }
      SkipSpace();
      if (FPos < FText.size() && FText[FPos] == ',') {
        ++FPos;
        continue;
      }
      if (FPos < FText.size() && FText[FPos] == '}') {
        ++FPos;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }
};

} // namespace

const TJsonValue* TJsonValue::Find(std::string_view name) const {
  for (const auto& [key, member] : members) {
    if (key == name) {
      return &member;
    }
  }
  return nullptr;
}

std::string TCliJson::Quote(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c) & 0xFF);
        out += buffer;
      } else {
        out += c;
      }
    }
  }
  out += '"';
  return out;
}

bool TCliJson::Parse(std::string_view text, TJsonValue& value, std::string& error) {
  value = TJsonValue();
  return TJsonReader(text).Document(value, error);
}
