#include "Roff.h"

#include <cctype>

namespace {

bool IsPlaceholder(std::string_view word) {
  bool upper = false;
  for (const char c : word) {
    if (std::islower(static_cast<unsigned char>(c))) {
      return false;
    }
    upper = upper || std::isupper(static_cast<unsigned char>(c));
  }
  return upper;
}

bool IsGrouping(char c) {
  return c == '[' || c == ']' || c == '(' || c == ')' || c == '|';
}

// `text` escaped; a '.' or '\'' that starts a line only when `lineStart` (body text).
std::string Inline(std::string_view text, bool lineStart = false) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) {
      out += "\\&";
    }
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

} // namespace

std::string TRoff::Escape(std::string_view text) {
  return Inline(text, true);
}

std::string TRoff::Bold(std::string_view text) {
  return "\\fB" + Inline(text) + "\\fR";
}

std::string TRoff::Italic(std::string_view text) {
  return "\\fI" + Inline(text) + "\\fR";
}

std::string TRoff::Synopsis(std::string_view text, bool command) {
  std::string out;
  size_t i = 0;
  bool first = command;
  while (i < text.size()) {
    if (IsGrouping(text[i]) || text[i] == ' ') {
      out += Inline(text.substr(i, 1));
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && text[end] != ' ' && !IsGrouping(text[end])) {
      ++end;
    }
    std::string_view word = text.substr(i, end - i);
    // "ID=VALUE...": placeholders in italic, the '=' and the ellipsis roman.
    std::string_view ellipsis;
    if (word.size() > 3 && word.substr(word.size() - 3) == "...") {
      ellipsis = word.substr(word.size() - 3);
      word.remove_suffix(3);
    }
    if (first || word.front() == '-' || !IsPlaceholder(word)) {
      out += Bold(word);
    } else {
      size_t start = 0;
      while (start <= word.size()) {
        const size_t equals = std::min(word.find('=', start), word.size());
        out += Italic(word.substr(start, equals - start));
        if (equals < word.size()) {
          out += "=";
        }
        start = equals + 1;
      }
    }
    out += Inline(ellipsis);
    first = false;
    i = end;
  }
  return out;
}
