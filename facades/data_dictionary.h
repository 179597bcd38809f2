// The dictionary registry and the name comparisons of the share-mode policy.
#ifndef TOLVAN_FACADES_DATA_DICTIONARY_H
#define TOLVAN_FACADES_DATA_DICTIONARY_H

#include <stddef.h>

class CDataDictionary;

namespace tolvan {

// Compares `length` bytes, folding only the ASCII letters onto each other.
bool EqualIgnoringAsciiCase(char const* a, char const* b, size_t length);

// Whether the path ends with "\NEW_STRU\Pallo7.DD", letter case ignored.
bool IsRestructurePath(char const* path);

bool IsRegisteredDictionary(CDataDictionary const* dictionary);
void RegisterDictionary(CDataDictionary* dictionary);
void UnregisterDictionary(CDataDictionary const* dictionary);

}  // namespace tolvan

#endif
