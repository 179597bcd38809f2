// Where the reader's bytes come from: a log as it is, a log compressed by
// gzip, or the plain logs inside the zip bundle of tolvan32-setup trace
// collect. Told apart by their first bytes, not by their names, and read
// from start to end in pieces of at most kChunkBytes: nothing is held but
// one piece and zlib's window, whatever the file.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_SOURCE_H
#define TOLVAN_TOOLS_TRACE_TRACE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tolvan {
namespace tools {

size_t const kChunkBytes = 1 << 20;

// The bytes of one log, piece by piece.
class ChunkSource {
 public:
  virtual ~ChunkSource() = default;
  // The next piece; empty at the end of the log. False when reading failed
  // (Error says why).
  virtual bool Next(std::string_view& piece) = 0;
  virtual std::string Error() const = 0;
  // The next bytes, at most `capacity`, copied into `buffer`: `count` is 0
  // at the end of the log. A log as it is goes from the file straight into
  // `buffer`. False when reading failed.
  virtual bool NextInto(char* buffer, size_t capacity, size_t& count);

 protected:
  std::string_view unread_;  // of the last piece, for NextInto
};

// A log already in memory, handed on in pieces of `piece` bytes.
class TextSource : public ChunkSource {
 public:
  explicit TextSource(std::string_view text, size_t piece = kChunkBytes) : text_(text), piece_(piece) {}
  bool Next(std::string_view& piece) override;
  std::string Error() const override { return std::string(); }

 private:
  std::string_view text_;
  size_t piece_;
};

// A file given on the command line: one log, or for a zip each plain log in
// it (Tolvan32_a.log and the archived Tolvan32_a-DATE.log, wherever in the
// archive), in the archive's order.
class LogFile {
 public:
  LogFile();
  ~LogFile();
  LogFile(LogFile const&) = delete;
  LogFile& operator=(LogFile const&) = delete;

  // "-" reads standard input. False when the file cannot be opened (errno).
  bool Open(std::string const& path);
  // The same for bytes in memory, as if they were a file's (the tests).
  void OpenText(std::string_view bytes);
  // Moves to the next log of the file: false when there is none more, or
  // when the file is damaged (Error is then set). `name` is the path, or
  // PATH:ENTRY for an entry of a zip.
  bool NextLog(std::string& name);
  // The bytes of the log NextLog moved to.
  ChunkSource& Log();
  // What went wrong, empty when nothing did.
  std::string Error() const;
  // "gzip", "zip" or "" for a log as it is.
  char const* Kind() const;
  // The entries of a zip that were not read as logs.
  std::vector<std::string> const& Skipped() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tools
}  // namespace tolvan

#endif
