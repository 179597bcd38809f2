// The Windows tools keep text as UTF-8 and give the system UTF-16, so that
// any file name works whatever the code page.
#ifndef TOLVAN_TOOLS_COMMON_WIDE_TEXT_H
#define TOLVAN_TOOLS_COMMON_WIDE_TEXT_H

#include <string>

namespace tolvan {
namespace tools {

std::wstring Wide(std::string const& text);
std::string Utf8(std::wstring const& text);

}  // namespace tools
}  // namespace tolvan

#endif
