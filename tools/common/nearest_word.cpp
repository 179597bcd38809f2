#include "tools/common/nearest_word.h"

#include <algorithm>

namespace tolvan {
namespace tools {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool BeginsWith(std::string_view word, std::string_view start) {
  return start.size() <= word.size() && EditDistance(word.substr(0, start.size()), start) == 0;
}

}  // namespace

size_t EditDistance(std::string_view a, std::string_view b) {
  // Three rows of the table suffice: a swap looks two rows back.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t const replace = previous[j - 1] + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) && Lower(a[i - 2]) == Lower(b[j - 1])) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[b.size()];
}

std::string_view NearestWord(std::string_view typed, std::vector<std::string_view> const& words) {
  std::string_view best;
  size_t bestDistance = 0;
  bool bestBegun = false;
  for (std::string_view word : words) {
    size_t const distance = EditDistance(typed, word);
    if (distance > 2 || 2 * distance >= std::max(typed.size(), word.size())) continue;
    bool const begun = BeginsWith(word, typed);
    if (best.empty() || distance < bestDistance || (distance == bestDistance && begun && !bestBegun)) {
      best = word;
      bestDistance = distance;
      bestBegun = begun;
    }
  }
  return best;
}

std::string UnknownWordMessage(std::string_view tool, std::string_view kind, std::string_view typed,
                               std::vector<std::string_view> const& words) {
  std::string message = std::string(tool) + ": unknown " + std::string(kind) + " " + std::string(typed);
  std::string_view const nearest = NearestWord(typed, words);
  if (!nearest.empty()) message += "; did you mean " + std::string(nearest) + "?";
  return message + "\n";
}

std::string UnexpectedArgumentMessage(ArgumentWords const& words, std::string_view argument,
                                      std::string_view earlier) {
  std::string const tool(words.tool);
  if (argument.size() > 1 && argument[0] == '-') {
    if (std::find(words.options.begin(), words.options.end(), argument) != words.options.end()) {
      return tool + ": " + std::string(argument) + " needs a value after it\n";
    }
    return UnknownWordMessage(words.tool, std::string(words.owner) + "option", argument, words.options);
  }
  if (!NearestWord(earlier, words.commands).empty()) {
    return UnknownWordMessage(words.tool, "command", earlier, words.commands);
  }
  return tool + ": one " + std::string(words.operand) + " only, and " + std::string(earlier) + " and " +
         std::string(argument) + " were both given\n";
}

}  // namespace tools
}  // namespace tolvan
