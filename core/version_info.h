// Reading a version resource's bytes, with nothing else needed: the module
// uses it on libraries it has loaded, the setup tool on files it has read.
#ifndef TOLVAN_CORE_VERSION_INFO_H
#define TOLVAN_CORE_VERSION_INFO_H

#include <stddef.h>

namespace tolvan {

// The module's ProductName; no engine's version resource carries it.
extern char const kModuleProductName[];

// Whether the resource's bytes hold the module's ProductName as the UTF-16
// text a version resource stores, at any byte offset.
bool VersionNamesModule(void const* resource, size_t size);

// The fixed file version (8.0.0.7 is high 0x00080000, low 7); false when the
// bytes hold none.
bool VersionFileNumbers(void const* resource, size_t size, unsigned long* high, unsigned long* low);

}  // namespace tolvan

#endif
