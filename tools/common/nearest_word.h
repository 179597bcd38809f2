// What the tools say of a word on their command line that they did not
// understand: the word itself, and the verb or option that was probably
// meant, so that a typo costs one look rather than a page of usage.
#ifndef TOLVAN_TOOLS_COMMON_NEAREST_WORD_H
#define TOLVAN_TOOLS_COMMON_NEAREST_WORD_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvan {
namespace tools {

// Edits (a character inserted, deleted, replaced, or two neighbours
// swapped) from `a` to `b`, letter case ignored.
size_t EditDistance(std::string_view a, std::string_view b);

// The word of `words` that `typed` was most likely meant to be: the fewest
// edits (none: only its letter case differs), at most two and fewer than half
// its length; on a tie, one that `typed` begins. Empty when none is that near.
std::string_view NearestWord(std::string_view typed, std::vector<std::string_view> const& words);

// "TOOL: unknown KIND TYPED; did you mean WORD?" with a line end; without
// the question when no word is near. `kind` is "verb", "option", ...
std::string UnknownWordMessage(std::string_view tool, std::string_view kind, std::string_view typed,
                               std::vector<std::string_view> const& words);

// A tool's words, for the message on an argument it did not take.
struct ArgumentWords {
  std::string_view tool;                   // "tolvan32-trace"
  std::string_view owner;                  // whose options they are: "install ", or empty
  std::vector<std::string_view> options;   // "--json", ...
  std::string_view operand;                // what the one argument without a dash is: "log", "folder"
  std::vector<std::string_view> commands;  // what a first operand may have been a misspelling of
};

// The message for `argument`: an option not known (or one given without
// its value), or a second operand beside `earlier` (empty: none yet), and
// when `earlier` is near a command, that command misspelt.
std::string UnexpectedArgumentMessage(ArgumentWords const& words, std::string_view argument,
                                      std::string_view earlier);

}  // namespace tools
}  // namespace tolvan

#endif
