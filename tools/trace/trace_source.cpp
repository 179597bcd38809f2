#include "tools/trace/trace_source.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

bool ChunkSource::NextInto(char* buffer, size_t capacity, size_t& count) {
  count = 0;
  if (unread_.empty() && !Next(unread_)) return false;
  count = std::min(capacity, unread_.size());
  if (count) std::memcpy(buffer, unread_.data(), count);  // an empty piece may have no bytes at all
  unread_.remove_prefix(count);
  return true;
}

bool TextSource::Next(std::string_view& piece) {
  piece = text_.substr(0, piece_);
  text_.remove_prefix(piece.size());
  return true;
}

namespace {

uint32_t const kLocalHeader = 0x04034b50;
uint32_t const kCentralHeader = 0x02014b50;
uint32_t const kEndOfDirectory = 0x06054b50;
uint32_t const kDataDescriptor = 0x08074b50;
uint16_t const kSizesAfterData = 0x0008;
uint16_t const kEncrypted = 0x0001;
uint16_t const kStored = 0;
uint16_t const kDeflated = 8;

uint32_t Little(unsigned char const* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// The plain logs: every *.log but the masked twin of the plain one, which
// holds the same calls with the values hidden.
bool IsPlainLog(std::string_view name) {
  std::string base(name.substr(name.find_last_of("/\\") + 1));  // npos + 1: the whole name
  for (char& c : base) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return base.size() > 4 && base.compare(base.size() - 4, 4, ".log") == 0 && base.rfind("tolvan32_b", 0) != 0;
}

std::string Number(uint64_t value) { return std::to_string(value); }

}  // namespace

// The raw bytes of the file, buffered so that headers can be taken in
// pieces of any size, and the decompression of the log being read.
class LogFile::Impl : public ChunkSource {
 public:
  ~Impl() override {
    if (inflating_) inflateEnd(&z_);
    if (handle_ >= 0) CloseInput(handle_);
  }

  bool Open(std::string const& path) {
    path_ = path;
    handle_ = OpenInput(path.c_str());
    return handle_ >= 0;
  }
  void OpenText(std::string_view bytes) {
    path_ = "log";
    text_ = bytes;
    fromText_ = true;
  }

  bool NextLog(std::string& name);
  bool Next(std::string_view& piece) override;
  bool NextInto(char* buffer, size_t capacity, size_t& count) override;
  std::string Error() const override { return error_; }
  char const* Kind() const { return kind_ == kGzip ? "gzip" : kind_ == kZip ? "zip" : ""; }
  std::vector<std::string> const& Skipped() const { return skipped_; }

 private:
  enum Format { kUnknown, kPlain, kGzip, kZip };

  // At least `count` bytes buffered, fewer only at the end of the file.
  bool Fill(size_t count);
  // The file's next bytes into `buffer`, past the buffered ones: `got` is 0
  // at its end.
  bool ReadRaw(char* buffer, size_t capacity, size_t& got);
  size_t Buffered() const { return end_ - start_; }
  unsigned char const* Bytes() const { return reinterpret_cast<unsigned char const*>(raw_.data() + start_); }
  void Consume(size_t count) {
    start_ += count;
    offset_ += count;
  }
  bool Fail(std::string what) {
    if (error_.empty()) error_ = path_ + ": " + what;
    failed_ = true;
    return false;
  }
  bool StartInflate(int windowBits);
  bool Inflate(std::string_view& piece, uint64_t limit);
  bool NextEntry(std::string& name);
  bool SkipEntry();
  // An entry's bytes, for the check of its size and CRC (zlib takes a null
  // piece for a request of the initial CRC).
  void Count(std::string_view piece) {
    if (piece.empty()) return;
    entry_.sizeRead += piece.size();
    entry_.crcRead = static_cast<uint32_t>(
        crc32(entry_.crcRead, reinterpret_cast<Bytef const*>(piece.data()), static_cast<uInt>(piece.size())));
  }
  bool EndEntry();

  std::string path_;
  int handle_ = -1;
  bool fromText_ = false;
  std::string_view text_;
  std::vector<char> raw_ = std::vector<char>(kChunkBytes);
  size_t start_ = 0;
  size_t end_ = 0;
  bool rawEnded_ = false;
  uint64_t offset_ = 0;  // of the first byte buffered, in the file

  Format kind_ = kUnknown;
  bool failed_ = false;
  bool logOpen_ = false;
  bool logEnded_ = false;
  bool done_ = false;
  std::string error_;
  std::vector<std::string> skipped_;

  z_stream z_ = {};
  bool inflating_ = false;
  std::vector<char> out_;

  // The zip entry being read.
  struct {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t packed = 0;
    uint64_t size = 0;
    uint64_t packedRead = 0;  // its compressed bytes consumed so far
    uint64_t sizeRead = 0;
    uint32_t crcRead = 0;
  } entry_;
};

bool LogFile::Impl::Fill(size_t count) {
  if (Buffered() >= count) return true;
  if (start_ > 0) {
    std::memmove(raw_.data(), raw_.data() + start_, Buffered());
    end_ -= start_;
    start_ = 0;
  }
  while (end_ < count && !rawEnded_) {
    size_t got;
    if (!ReadRaw(raw_.data() + end_, raw_.size() - end_, got)) return false;
    end_ += got;
  }
  return Buffered() >= count;
}

bool LogFile::Impl::ReadRaw(char* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (fromText_) {
    got = std::min(text_.size(), capacity);
    if (got) std::memcpy(buffer, text_.data(), got);
    text_.remove_prefix(got);
  } else {
    long const read = ReadInput(handle_, buffer, capacity);
    if (read < 0) return Fail(std::string("reading failed: ") + std::strerror(errno));
    got = static_cast<size_t>(read);
  }
  if (got == 0) rawEnded_ = true;
  return true;
}

bool LogFile::Impl::StartInflate(int windowBits) {
  if (inflating_) inflateEnd(&z_);
  z_ = z_stream();
  inflating_ = inflateInit2(&z_, windowBits) == Z_OK;
  if (!inflating_) return Fail("zlib could not be started");
  if (out_.empty()) out_.resize(kChunkBytes);
  return true;
}

// Decompresses the next piece, taking at most `limit` bytes of the file.
// An empty piece: the compressed stream ended.
bool LogFile::Impl::Inflate(std::string_view& piece, uint64_t limit) {
  piece = std::string_view();
  while (true) {
    if (!Buffered() && !Fill(1) && failed_) return false;
    uInt const offered = static_cast<uInt>(std::min<uint64_t>(Buffered(), limit));
    if (offered == 0) {
      return Fail("the compressed data is cut short: it ends at byte " + Number(offset_) +
                  " before its last piece (a copy or download that did not finish?)");
    }
    z_.next_in = const_cast<Bytef*>(Bytes());
    z_.avail_in = offered;
    z_.next_out = reinterpret_cast<Bytef*>(out_.data());
    z_.avail_out = static_cast<uInt>(out_.size());
    int const status = inflate(&z_, Z_NO_FLUSH);
    size_t const taken = offered - z_.avail_in;
    Consume(taken);
    limit -= taken;
    entry_.packedRead += taken;
    size_t const produced = out_.size() - z_.avail_out;
    if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_MEM_ERROR || status == Z_STREAM_ERROR) {
      return Fail(std::string("the compressed data is damaged near byte ") + Number(offset_) + " (zlib: " +
                  (z_.msg ? z_.msg : "error " + Number(static_cast<uint64_t>(-status))) + ")");
    }
    if (produced || status == Z_STREAM_END) {
      piece = std::string_view(out_.data(), produced);
      if (status == Z_STREAM_END) logEnded_ = true;
      return true;
    }
    if (taken == 0) return Fail("the compressed data is damaged near byte " + Number(offset_));
  }
}

bool LogFile::Impl::Next(std::string_view& piece) {
  piece = std::string_view();
  if (failed_) return false;
  if (!logOpen_) return true;
  if (kind_ == kPlain) {
    if (!Fill(1)) return !failed_;
    piece = std::string_view(raw_.data() + start_, Buffered());
    Consume(Buffered());
    return true;
  }
  if (kind_ == kGzip) {
    while (piece.empty()) {
      if (logEnded_) {
        // Another member follows (gzip writes one per file concatenated);
        // anything else after the last one is no log.
        if (!Fill(2) || Bytes()[0] != 0x1f || Bytes()[1] != 0x8b) return !failed_;
        logEnded_ = false;
        if (inflateReset(&z_) != Z_OK) return Fail("zlib could not be restarted");
      }
      if (!Inflate(piece, UINT64_MAX)) return false;
    }
    return true;
  }
  // A zip entry.
  if (logEnded_) return true;
  if (entry_.method == kStored) {
    uint64_t const left = entry_.packed - entry_.packedRead;
    if (left == 0) {
      logEnded_ = true;
    } else {
      if (!Fill(1)) {
        return failed_ ? false : Fail("the archive is cut short inside " + entry_.name);
      }
      size_t const count = static_cast<size_t>(std::min<uint64_t>(left, Buffered()));
      piece = std::string_view(raw_.data() + start_, count);
      Consume(count);
      entry_.packedRead += count;
    }
  } else if (!Inflate(piece, entry_.flags & kSizesAfterData ? UINT64_MAX : entry_.packed - entry_.packedRead)) {
    return false;
  }
  Count(piece);
  if (logEnded_ && !EndEntry()) return false;
  return true;
}

// A log as it is: once the bytes read to tell its kind are handed on, the
// file is read into the caller's buffer without a copy between.
bool LogFile::Impl::NextInto(char* buffer, size_t capacity, size_t& count) {
  if (kind_ != kPlain || !logOpen_ || failed_ || Buffered() || !unread_.empty() || rawEnded_) {
    return ChunkSource::NextInto(buffer, capacity, count);
  }
  if (!ReadRaw(buffer, capacity, count)) return false;
  offset_ += count;
  return true;
}

// After an entry's data: its data descriptor, and the check of its CRC and size.
bool LogFile::Impl::EndEntry() {
  if (entry_.flags & kSizesAfterData) {
    if (!Fill(16)) return failed_ ? false : Fail("the archive is cut short after " + entry_.name);
    size_t const skip = Little(Bytes(), 4) == kDataDescriptor ? 4 : 0;
    entry_.crc = Little(Bytes() + skip, 4);
    entry_.packed = Little(Bytes() + skip + 4, 4);
    entry_.size = Little(Bytes() + skip + 8, 4);
    Consume(skip + 12);
  }
  if (entry_.sizeRead != entry_.size || entry_.crcRead != entry_.crc || entry_.packedRead != entry_.packed) {
    return Fail(entry_.name + " is damaged: its bytes do not match the size and CRC the archive gives them");
  }
  return true;
}

// An entry that is not a log: passed over, deflated ones decompressed to
// find their end when the archive gives their size only after them.
bool LogFile::Impl::SkipEntry() {
  skipped_.push_back(entry_.name);
  if (!(entry_.flags & kSizesAfterData)) {
    for (uint64_t left = entry_.packed; left;) {
      if (!Fill(1)) return failed_ ? false : Fail("the archive is cut short inside " + entry_.name);
      size_t const count = static_cast<size_t>(std::min<uint64_t>(left, Buffered()));
      Consume(count);
      left -= count;
    }
    return true;
  }
  if (entry_.method != kDeflated) {
    return Fail(entry_.name + " is stored with its size after its data, which cannot be read in one pass");
  }
  if (!StartInflate(-MAX_WBITS)) return false;
  logEnded_ = false;
  std::string_view piece;
  while (!logEnded_) {
    if (!Inflate(piece, UINT64_MAX)) return false;
    Count(piece);
  }
  return EndEntry();
}

bool LogFile::Impl::NextEntry(std::string& name) {
  while (true) {
    if (!Fill(4)) {
      return failed_ ? false : Fail("the archive ends at byte " + Number(offset_ + Buffered()) + " without its directory");
    }
    uint32_t const signature = Little(Bytes(), 4);
    if (signature == kCentralHeader || signature == kEndOfDirectory) {
      done_ = true;
      return false;
    }
    if (signature != kLocalHeader || !Fill(30)) {
      return failed_ ? false : Fail("the archive is damaged at byte " + Number(offset_) + ": no entry begins there");
    }
    unsigned char const* const header = Bytes();
    entry_ = {};
    entry_.flags = static_cast<uint16_t>(Little(header + 6, 2));
    entry_.method = static_cast<uint16_t>(Little(header + 8, 2));
    entry_.crc = Little(header + 14, 4);
    entry_.packed = Little(header + 18, 4);
    entry_.size = Little(header + 22, 4);
    entry_.crcRead = static_cast<uint32_t>(crc32(0, Z_NULL, 0));
    size_t const nameLength = Little(header + 26, 2);
    size_t const extraLength = Little(header + 28, 2);
    Consume(30);
    if (!Fill(nameLength + extraLength)) {
      return failed_ ? false : Fail("the archive is cut short in an entry's header");
    }
    entry_.name.assign(reinterpret_cast<char const*>(Bytes()), nameLength);
    Consume(nameLength + extraLength);
    if (entry_.packed == 0xffffffffu || entry_.size == 0xffffffffu) {
      return Fail(entry_.name + " has the 64-bit sizes of zip64, which the reader does not read: extract it");
    }
    bool const log = IsPlainLog(entry_.name);
    if (log && (entry_.flags & kEncrypted)) return Fail(entry_.name + " is encrypted: extract it first");
    if (log && entry_.method != kStored && entry_.method != kDeflated) {
      return Fail(entry_.name + " is compressed by method " + Number(entry_.method) +
                  ", which the reader does not know (stored and deflate only): extract it first");
    }
    if (log && entry_.method == kStored && (entry_.flags & kSizesAfterData)) {
      return Fail(entry_.name + " is stored with its size after its data, which cannot be read in one pass");
    }
    if (!log) {
      if (!SkipEntry()) return false;
      continue;
    }
    if (entry_.method == kDeflated && !StartInflate(-MAX_WBITS)) return false;
    logEnded_ = false;
    name = path_ + ":" + entry_.name;
    return true;
  }
}

bool LogFile::Impl::NextLog(std::string& name) {
  if (failed_ || done_) return false;
  if (kind_ == kUnknown) {
    Fill(4);
    if (failed_) return false;
    if (Buffered() >= 3 && Bytes()[0] == 0x1f && Bytes()[1] == 0x8b && Bytes()[2] == 8) {  // and deflate
      kind_ = kGzip;
    } else if (Buffered() >= 4 && Little(Bytes(), 4) == kLocalHeader) {
      kind_ = kZip;
    } else {
      kind_ = kPlain;
    }
    if (kind_ == kGzip && !StartInflate(16 + MAX_WBITS)) return false;
    if (kind_ != kZip) {
      logOpen_ = true;
      name = path_;
      return true;
    }
  }
  if (kind_ != kZip) {
    done_ = true;
    return false;
  }
  // What the last log left unread (a reader that stopped early) is passed over.
  std::string_view rest;
  while (logOpen_ && !logEnded_) {
    if (!Next(rest)) return false;
  }
  logOpen_ = NextEntry(name);
  return logOpen_;
}

LogFile::LogFile() : impl_(new Impl) {}
LogFile::~LogFile() = default;
bool LogFile::Open(std::string const& path) { return impl_->Open(path); }
void LogFile::OpenText(std::string_view bytes) { impl_->OpenText(bytes); }
bool LogFile::NextLog(std::string& name) { return impl_->NextLog(name); }
ChunkSource& LogFile::Log() { return *impl_; }
std::string LogFile::Error() const { return impl_->Error(); }
char const* LogFile::Kind() const { return impl_->Kind(); }
std::vector<std::string> const& LogFile::Skipped() const { return impl_->Skipped(); }

}  // namespace tools
}  // namespace tolvan
