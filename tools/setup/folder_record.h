// A file as tolvan32-setup records it, to prove afterwards what it did: its
// name as the folder spells it, its size and a hash of its bytes.
#ifndef TOLVAN_TOOLS_SETUP_FOLDER_RECORD_H
#define TOLVAN_TOOLS_SETUP_FOLDER_RECORD_H

#include <cstdint>
#include <string>
#include <vector>

namespace tolvan {
namespace tools {

struct FileRecord {
  std::string name;
  uint64_t size;
  uint64_t hash;
};
// The files of the names the tool uses, each once.
typedef std::vector<FileRecord> Snapshot;

}  // namespace tools
}  // namespace tolvan

#endif
