#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Near misses of a name the user typed: "vdi" for "vid".
class TCliSuggest {
public:
  // The candidate closest to `word` (letter case ignored), if one is close enough to be what
  // was meant: at most two edits away (an edit being an insertion, deletion, change or swap of
  // neighbours) and fewer than the word has letters.
  static std::optional<std::string_view> Nearest(std::string_view word,
                                                 const std::vector<std::string_view>& candidates);
  // ": did you mean `vid`?" or nothing.
  static std::string DidYouMean(std::string_view word,
                                const std::vector<std::string_view>& candidates);
  static std::string Lower(std::string_view text);
  // Edits between the two (optimal string alignment distance).
  static size_t Distance(std::string_view a, std::string_view b);
};
