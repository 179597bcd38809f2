#include "version_info.h"

namespace tolvan {

char const kModuleProductName[] = "Tolvan32 Share";

namespace {

unsigned long Word(unsigned char const* bytes, size_t offset) {
  return static_cast<unsigned long>(bytes[offset]) | static_cast<unsigned long>(bytes[offset + 1]) << 8 |
         static_cast<unsigned long>(bytes[offset + 2]) << 16 | static_cast<unsigned long>(bytes[offset + 3]) << 24;
}

}  // namespace

bool VersionNamesModule(void const* resource, size_t size) {
  unsigned char const* const bytes = static_cast<unsigned char const*>(resource);
  size_t const length = sizeof kModuleProductName - 1;
  if (!bytes || size < 2 * length) return false;
  for (size_t start = 0; start + 2 * length <= size; ++start) {
    size_t i = 0;
    while (i < length && bytes[start + 2 * i] == static_cast<unsigned char>(kModuleProductName[i]) &&
           bytes[start + 2 * i + 1] == 0) {
      ++i;
    }
    if (i == length) return true;
  }
  return false;
}

bool VersionFileNumbers(void const* resource, size_t size, unsigned long* high, unsigned long* low) {
  // The root block: three 16-bit words, the key "VS_VERSION_INFO" in UTF-16
  // with its terminating zero, padding to 32 bits, then the fixed part:
  // signature, structure version, file version (most, least significant).
  enum { kFixedPart = 40, kFixedSize = 52 };
  unsigned long const kSignature = 0xfeef04bdu;
  unsigned char const* const bytes = static_cast<unsigned char const*>(resource);
  if (!bytes || size < kFixedPart + kFixedSize) return false;
  if ((Word(bytes, 0) >> 16) < kFixedSize || Word(bytes, kFixedPart) != kSignature) return false;
  *high = Word(bytes, kFixedPart + 8);
  *low = Word(bytes, kFixedPart + 12);
  return true;
}

}  // namespace tolvan
