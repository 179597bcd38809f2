// What the fuzz targets share: a way to stop with a message when the module
// and the reference disagree, and the logs' own directory.
#ifndef TOLVAN_TESTS_FUZZ_FUZZ_SUPPORT_H
#define TOLVAN_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/host/host_platform.h"

namespace tolvan {
namespace fuzz {

// A disagreement is a finding: abort, so that libFuzzer keeps the input.
#define TOLVAN_FUZZ_EXPECT(condition, ...)                                  \
  do {                                                                      \
    if (!(condition)) {                                                     \
      fprintf(stderr, "%s:%d: %s failed: ", __FILE__, __LINE__, #condition); \
      fprintf(stderr, __VA_ARGS__);                                         \
      fprintf(stderr, "\n");                                                \
      abort();                                                              \
    }                                                                       \
  } while (0)

// The trace files go to a directory of their own for the whole run.
inline std::string const& LogDirectory() {
  static std::string const directory = [] {
    char pattern[] = "/tmp/tolvan-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    std::string const path = std::string(pattern) + "/";
    host::SetLogDirectory(path);
    return path;
  }();
  return directory;
}

inline std::string LogPath(char letter) { return LogDirectory() + "Tolvan32_" + letter + ".log"; }

inline bool LogExists(char letter) { return access(LogPath(letter).c_str(), F_OK) == 0; }

inline std::string ReadLog(char letter) {
  std::ifstream file(LogPath(letter), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

inline void ClearLogs() {
  unlink(LogPath('b').c_str());
  unlink(LogPath('a').c_str());
}

// The bytes an item leaves in a log: a space, then the text with each line
// feed stored as CR LF.
inline std::string ItemBytes(std::string const& text) {
  std::string bytes = " ";
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

// Pulls fixed-size values off the front of the input.
class Input {
 public:
  Input(uint8_t const* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
  template <class T>
  T Value() {
    T value{};
    size_t const n = size_ < sizeof value ? size_ : sizeof value;
    memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }
  std::string Rest() {
    std::string rest(reinterpret_cast<char const*>(data_), size_);
    data_ += size_;
    size_ = 0;
    return rest;
  }

 private:
  uint8_t const* data_;
  size_t size_;
};

}  // namespace fuzz
}  // namespace tolvan

#endif
