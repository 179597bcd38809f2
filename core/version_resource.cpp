#include "version_resource.h"

#include "platform/platform.h"
#include "trace_log.h"

namespace tolvan {

int LibraryVersionText(void* library, char* text) {
  size_t size = 0;
  void const* const resource = PlatformVersionResource(library, &size);
  unsigned long high = 0;
  unsigned long low = 0;
  if (!VersionFileNumbers(resource, size, &high, &low)) {
    text[0] = '-';
    text[1] = '\0';
    return 1;
  }
  unsigned long const parts[] = {high >> 16, high & 0xffff, low >> 16, low & 0xffff};
  int length = 0;
  for (unsigned long part : parts) {
    if (length) text[length++] = '.';
    length += FormatInt(static_cast<int>(part), text + length);
  }
  return length;
}

bool LibraryIsModule(void* library) {
  size_t size = 0;
  void const* const resource = PlatformVersionResource(library, &size);
  return VersionNamesModule(resource, size);
}

}  // namespace tolvan
