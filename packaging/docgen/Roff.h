#pragma once

#include <string>
#include <string_view>

// Text for man(7) pages: escaping, and the bold and italic of command-line words.
class TRoff {
public:
  // `text` as roff body text: backslashes and minus signs escaped (so that "--all" stays ASCII
  // when copied out of the rendered page), and a leading '.' or '\'' kept from reading as a
  // request.
  static std::string Escape(std::string_view text);
  // A usage line with the conventions of man-pages(7): the command and options in bold,
  // placeholders (upper-case words) in italic, brackets, bars and the rest in roman. Without
  // `command` the first word is formatted as any other (an option's term: "--simulate FILE").
  static std::string Synopsis(std::string_view text, bool command = true);
  // Bold or italic text that returns to roman.
  static std::string Bold(std::string_view text);
  static std::string Italic(std::string_view text);
};
