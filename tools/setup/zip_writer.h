// The support bundle's zip archive, written from start to end through a
// sink, each entry compressed (deflate, zlib) as its bytes come in. Memory
// stays bounded whatever the entries' sizes: an entry's CRC and sizes follow
// its data in a data descriptor, so nothing is held or written twice, and
// only the names and figures of the entries wait for the central directory.
//
// No zip64: an entry must be smaller than kZipEntryLimit, and the archive
// fails (Error says why) rather than let any offset or size pass 4 GiB,
// where the plain format's fields would wrap and name the wrong bytes. The
// caller then deletes what was written.
#ifndef TOLVAN_TOOLS_SETUP_ZIP_WRITER_H
#define TOLVAN_TOOLS_SETUP_ZIP_WRITER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tolvan {
namespace tools {

// The largest entry taken (its bytes before compression), with room left for
// what deflate adds to bytes that do not compress.
uint64_t const kZipEntryLimit = 0xffffffffull - (64ull << 20);

// An entry as written: its bytes before compression, their CRC-32 and
// content hash (ContentHash), and its size in the archive.
struct ZipEntryFacts {
  std::string name;
  uint64_t size;
  uint32_t crc;
  uint64_t hash;
  uint64_t compressedSize;
  uint64_t offset;  // of its local header
};

class ZipWriter {
 public:
  // `sink` writes bytes to the archive, false when it cannot. `dosTime` and
  // `dosDate` stamp every entry (the MS-DOS form zip keeps).
  // `limit` is the size the archive must stay below (smaller in the tests).
  typedef std::function<bool(char const* data, size_t size)> Sink;
  ZipWriter(Sink sink, uint16_t dosTime, uint16_t dosDate, uint64_t limit = 0xffffffffull);
  ~ZipWriter();
  ZipWriter(ZipWriter const&) = delete;
  ZipWriter& operator=(ZipWriter const&) = delete;

  // An entry: Begin, its bytes in any number of pieces, End. Each returns
  // false once the archive has failed.
  bool Begin(std::string_view name);
  bool Write(std::string_view bytes);
  bool End();
  bool AddEntry(std::string_view name, std::string_view bytes);
  // The central directory; the archive is complete when this returns true.
  bool Finish();

  std::vector<ZipEntryFacts> const& Entries() const { return entries_; }
  uint64_t BytesWritten() const { return offset_; }
  std::string const& Error() const { return error_; }

 private:
  struct Compressor;
  bool Put(std::string_view bytes);
  bool Deflate(int flush);
  bool Fail(std::string error);

  Sink sink_;
  uint16_t dosTime_;
  uint16_t dosDate_;
  std::unique_ptr<Compressor> compressor_;
  std::vector<ZipEntryFacts> entries_;
  uint64_t limit_;
  uint64_t offset_ = 0;
  bool open_ = false;
  std::string error_;
};

}  // namespace tools
}  // namespace tolvan

#endif
