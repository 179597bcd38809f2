// The two name comparisons of the share-mode policy against plain readings
// of their rules: the path's end against "\NEW_STRU\Pallo7.DD" and the table
// name against "ZKUSERS", only the ASCII letters folded.
#include <string>

#include "facades/data_dictionary.h"
#include "facades/table_policy.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameFolded(std::string const& a, std::string const& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string const whole(reinterpret_cast<char const*>(data), size);
  std::string const text = whole.c_str();  // up to the first zero byte

  std::string const suffix = "\\NEW_STRU\\Pallo7.DD";
  bool const restructure = text.size() >= suffix.size() && SameFolded(text.substr(text.size() - suffix.size()), suffix);
  TOLVAN_FUZZ_EXPECT(tolvan::IsRestructurePath(text.c_str()) == restructure, "\"%s\"", text.c_str());

  bool const users = SameFolded(text, "ZKUSERS");
  TOLVAN_FUZZ_EXPECT(tolvan::IsUsersTable(text.c_str()) == users, "\"%s\"", text.c_str());

  // The comparison itself, on two halves of the input that may hold any byte.
  size_t const half = size / 2;
  std::string const left = whole.substr(0, half);
  std::string const right = whole.substr(half, half);
  TOLVAN_FUZZ_EXPECT(tolvan::EqualIgnoringAsciiCase(left.data(), right.data(), half) == SameFolded(left, right),
                     "%zu bytes", half);
  return 0;
}
