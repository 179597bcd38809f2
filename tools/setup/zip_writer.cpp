#include "tools/setup/zip_writer.h"

#include <zlib.h>

#include <algorithm>

#include "tools/check/engine_check.h"

namespace tolvan {
namespace tools {

namespace {

uint32_t const kLocalHeader = 0x04034b50;
uint32_t const kDataDescriptor = 0x08074b50;
uint32_t const kCentralHeader = 0x02014b50;
uint32_t const kEndOfDirectory = 0x06054b50;
uint16_t const kVersion = 20;  // 2.0: deflate, data descriptors
// Sizes after the data (bit 3), names in UTF-8 (bit 11).
uint16_t const kFlags = 0x0008 | 0x0800;
uint16_t const kDeflated = 8;
uint64_t const kPlainLimit = 0xffffffffull;
size_t const kPiece = 1 << 16;

void Append16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>(value >> 8 & 0xff);
}
void Append32(std::string& out, uint32_t value) {
  Append16(out, value & 0xffff);
  Append16(out, value >> 16);
}

}  // namespace

struct ZipWriter::Compressor {
  z_stream stream = {};
  bool started = false;
  uint32_t crc = 0;
  uint64_t hash = kContentHashStart;
  uint64_t size = 0;
  uint64_t compressed = 0;
  char buffer[kPiece];
  ~Compressor() {
    if (started) deflateEnd(&stream);
  }
};

ZipWriter::ZipWriter(Sink sink, uint16_t dosTime, uint16_t dosDate, uint64_t limit)
    : sink_(std::move(sink)),
      dosTime_(dosTime),
      dosDate_(dosDate),
      compressor_(new Compressor),
      limit_(std::min(limit, kPlainLimit)) {}

ZipWriter::~ZipWriter() = default;

bool ZipWriter::Fail(std::string error) {
  if (error_.empty()) error_ = std::move(error);
  return false;
}

bool ZipWriter::Put(std::string_view bytes) {
  if (!error_.empty()) return false;
  if (offset_ + bytes.size() >= limit_) {
    return Fail("the bundle would reach 4 GiB, more than a zip without its 64-bit extension holds");
  }
  if (!bytes.empty() && !sink_(bytes.data(), bytes.size())) return Fail("it could not be written");
  offset_ += bytes.size();
  return true;
}

bool ZipWriter::Begin(std::string_view name) {
  if (!error_.empty()) return false;
  if (open_ || name.empty() || name.size() > 0xffff) return Fail("an entry was begun out of order");
  Compressor& c = *compressor_;
  if (c.started) deflateEnd(&c.stream);
  c.stream = z_stream();
  // Raw deflate (negative window bits): zip keeps no zlib header.
  if (deflateInit2(&c.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return Fail("the compressor could not be started");
  }
  c.started = true;
  c.crc = static_cast<uint32_t>(crc32(0, Z_NULL, 0));
  c.hash = kContentHashStart;
  c.size = c.compressed = 0;
  entries_.push_back({std::string(name), 0, 0, 0, 0, offset_});
  std::string header;
  Append32(header, kLocalHeader);
  Append16(header, kVersion);
  Append16(header, kFlags);
  Append16(header, kDeflated);
  Append16(header, dosTime_);
  Append16(header, dosDate_);
  for (int field = 0; field < 3; ++field) Append32(header, 0);  // CRC, sizes: in the descriptor
  Append16(header, static_cast<uint32_t>(name.size()));
  Append16(header, 0);
  header += name;
  open_ = true;
  return Put(header);
}

bool ZipWriter::Deflate(int flush) {
  Compressor& c = *compressor_;
  int result;
  do {
    c.stream.next_out = reinterpret_cast<Bytef*>(c.buffer);
    c.stream.avail_out = sizeof c.buffer;
    result = deflate(&c.stream, flush);
    if (result == Z_STREAM_ERROR) return Fail("the compressor failed");
    size_t const produced = sizeof c.buffer - c.stream.avail_out;
    c.compressed += produced;
    if (!Put(std::string_view(c.buffer, produced))) return false;
  } while (c.stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  return true;
}

bool ZipWriter::Write(std::string_view bytes) {
  if (!error_.empty()) return false;
  if (!open_) return Fail("bytes were written outside an entry");
  Compressor& c = *compressor_;
  if (c.size + bytes.size() > kZipEntryLimit) {
    return Fail("an entry would reach 4 GiB, more than a zip without its 64-bit extension holds");
  }
  while (!bytes.empty()) {
    // zlib counts in 32-bit lengths: a piece at a time.
    std::string_view const piece = bytes.substr(0, kPiece);
    bytes.remove_prefix(piece.size());
    c.crc = static_cast<uint32_t>(crc32(c.crc, reinterpret_cast<Bytef const*>(piece.data()),
                                        static_cast<uInt>(piece.size())));
    c.hash = ContinueContentHash(c.hash, piece);
    c.size += piece.size();
    c.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    c.stream.avail_in = static_cast<uInt>(piece.size());
    if (!Deflate(Z_NO_FLUSH)) return false;
  }
  return true;
}

bool ZipWriter::End() {
  if (!error_.empty()) return false;
  if (!open_) return Fail("an entry was ended that was not begun");
  Compressor& c = *compressor_;
  c.stream.next_in = Z_NULL;
  c.stream.avail_in = 0;
  if (!Deflate(Z_FINISH)) return false;
  open_ = false;
  ZipEntryFacts& entry = entries_.back();
  entry.size = c.size;
  entry.crc = c.crc;
  entry.hash = c.hash;
  entry.compressedSize = c.compressed;
  std::string descriptor;
  Append32(descriptor, kDataDescriptor);
  Append32(descriptor, entry.crc);
  Append32(descriptor, static_cast<uint32_t>(entry.compressedSize));
  Append32(descriptor, static_cast<uint32_t>(entry.size));
  return Put(descriptor);
}

bool ZipWriter::AddEntry(std::string_view name, std::string_view bytes) {
  return Begin(name) && Write(bytes) && End();
}

bool ZipWriter::Finish() {
  if (!error_.empty()) return false;
  if (open_) return Fail("the last entry was not ended");
  if (entries_.size() > 0xffff) return Fail("too many entries");
  uint64_t const start = offset_;
  for (ZipEntryFacts const& entry : entries_) {
    std::string header;
    Append32(header, kCentralHeader);
    Append16(header, kVersion);  // made by MS-DOS-compatible: no Unix permissions
    Append16(header, kVersion);
    Append16(header, kFlags);
    Append16(header, kDeflated);
    Append16(header, dosTime_);
    Append16(header, dosDate_);
    Append32(header, entry.crc);
    Append32(header, static_cast<uint32_t>(entry.compressedSize));
    Append32(header, static_cast<uint32_t>(entry.size));
    Append16(header, static_cast<uint32_t>(entry.name.size()));
    for (int field = 0; field < 4; ++field) Append16(header, 0);  // extra, comment, disk, internal attributes
    Append32(header, 0);                                           // external attributes
    Append32(header, static_cast<uint32_t>(entry.offset));
    header += entry.name;
    if (!Put(header)) return false;
  }
  std::string end;
  Append32(end, kEndOfDirectory);
  Append16(end, 0);
  Append16(end, 0);
  Append16(end, static_cast<uint32_t>(entries_.size()));
  Append16(end, static_cast<uint32_t>(entries_.size()));
  Append32(end, static_cast<uint32_t>(offset_ - start));
  Append32(end, static_cast<uint32_t>(start));
  Append16(end, 0);
  return Put(end);
}

}  // namespace tools
}  // namespace tolvan
