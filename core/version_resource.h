// What the module reads from a library's version resource: whether it is a
// copy of the module itself, and its file version. The same reader serves
// the guard against a copy of the module loaded as the engine and the engine
// line of the trace.
#ifndef TOLVAN_CORE_VERSION_RESOURCE_H
#define TOLVAN_CORE_VERSION_RESOURCE_H

#include "version_info.h"

namespace tolvan {

enum { kVersionTextSize = 24 };
// A loaded library's file version as four dotted numbers ("8.0.0.7"), or "-"
// when it has no version resource; returns the length.
int LibraryVersionText(void* library, char* text);

// Whether a loaded library is a copy of the module, by its version resource.
bool LibraryIsModule(void* library);

}  // namespace tolvan

#endif
