#include "CliSuggest.h"

#include <algorithm>

std::string TCliSuggest::Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

size_t TCliSuggest::Distance(std::string_view a, std::string_view b) {
  // Rows i-2, i-1 and i of the edit table.
  std::vector<size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) {
    last[j] = j;
  }
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    before.swap(last);
    last.swap(row);
  }
  return last[b.size()];
}

std::optional<std::string_view>
TCliSuggest::Nearest(std::string_view word, const std::vector<std::string_view>& candidates) {
  const std::string lower = Lower(word);
  std::optional<std::string_view> best;
  size_t bestDistance = 3;
  for (const std::string_view candidate : candidates) {
    const size_t distance = Distance(lower, Lower(candidate));
    if (distance < bestDistance && distance < lower.size()) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string TCliSuggest::DidYouMean(std::string_view word,
                                    const std::vector<std::string_view>& candidates) {
  const auto nearest = Nearest(word, candidates);
  return nearest ? ": did you mean `" + std::string(*nearest) + "`?" : std::string();
}
