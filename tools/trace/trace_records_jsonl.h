// "records": every call of the logs, and every error line and damaged line,
// as one JSON object per line (JSON Lines), in log order. Support people load
// these into the tools they already use (jq, SQLite, a spreadsheet, a log
// platform) for questions the figures do not answer. Records are written as
// the reader hands them on, so memory stays bounded whatever the logs' size.
//
// Every byte of a call's items reaches the output: valid UTF-8 as it is,
// every other byte above 127 (the host's code page) as \u0080 to \u00ff,
// control characters escaped, nothing cut. Of an error or damaged line the
// reader keeps the first kMaxKeptText bytes.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_RECORDS_JSONL_H
#define TOLVAN_TOOLS_TRACE_TRACE_RECORDS_JSONL_H

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/trace/trace_print.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

struct RecordsRequest {
  std::vector<std::string> paths;  // read in turn; "-" is standard input
  RecordFilter filter;             // --op, --table, --object, --pid, --tid: each call judged on its own
  bool redact = false;             // mask what the redacted report masks
  bool fromGiven = false;
  bool toGiven = false;
  uint64_t from = 0;  // microseconds of the day, both ends included
  uint64_t to = 0;
};

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.ffffff" as microseconds of the day.
bool ReadTimeOfDay(std::string_view text, uint64_t& microseconds);

// The text of the objects as it is built: a record line takes some thirty
// appends, each inline here, where a string's would call the library.
class JsonText {
 public:
  // Room for `size` more bytes at the end; Advance then takes what was written.
  char* Room(size_t size) {
    if (bytes_.size() - size_ < size) Grow(size);
    return bytes_.data() + size_;
  }
  void Advance(size_t size) { size_ += size; }
  void Append(char const* data, size_t size) {
    std::memcpy(Room(size), data, size);
    size_ += size;
  }
  JsonText& operator+=(std::string_view text) {
    Append(text.data(), text.size());
    return *this;
  }
  JsonText& operator+=(char c) {
    *Room(1) = c;
    ++size_;
    return *this;
  }
  void pop_back() { --size_; }
  void swap(JsonText& other) {
    bytes_.swap(other.bytes_);
    std::swap(size_, other.size_);
  }
  char const* data() const { return bytes_.data(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(bytes_.data(), size_); }
  // Empties it; the room a long item took is given back.
  void clear();

 private:
  void Grow(size_t size);
  std::vector<char> bytes_;
  size_t size_ = 0;
};

// A JSON string of every byte of `text` (see above).
void AppendJsonBytes(std::string& out, std::string_view text);
void AppendJsonBytes(JsonText& out, std::string_view text);

// Writes the objects of one log's records.
class JsonLinesWriter {
 public:
  // `summary` is the log's, counted record by record before each is written:
  // it knows the names of the table objects so far.
  JsonLinesWriter(OperationForms const& forms, Summary const& summary, RecordsRequest const& request,
                  std::string_view file);
  void Write(JsonText& out, Record const& record);
  void Write(std::string& out, Record const& record);
  // Writes what still waits.
  void Finish(JsonText& out);
  uint64_t written() const { return written_; }
  bool sawTimes() const { return sawTimes_; }

 private:
  struct TableRef {
    TableTally const* tally = nullptr;  // the object's entry, or
    std::string_view name;              // the name an argument gives
  };
  void WriteNode(JsonText& out, Record const& record, int index);
  void Release(JsonText& out, uint64_t before);
  void PutHead(JsonText& out, Record const& record, Node const& node);
  std::string_view StreamText(Stream const& stream);
  void PutCall(JsonText& out, Record const& record, int index);
  TableRef TableOfCall(Record const& record, Node const& node, ArgumentItems const& arguments) const;
  void LearnStoreObject(Record const& record, Node const& node, ArgumentItems const& arguments);
  bool Wanted(Record const& record, Node const& node, TableRef const& table) const;
  void PutItem(JsonText& out, std::string_view item, bool integer) const;

  OperationForms const& forms_;
  Summary const& summary_;
  RecordsRequest const& request_;
  std::string file_;  // as a JSON string, with its key and the next
  std::vector<std::string> names_;     // by operation: its members "operation" and "signature"
  std::vector<std::string> statuses_;  // by CallStatus: the member "status"
  uint64_t written_ = 0;
  bool sawTimes_ = false;
  ArgumentItems arguments_;  // kept to spare an allocation per call
  ResultItems resultItems_;  // and a clearing
  std::vector<int> order_;   // and per record
  // Lines waiting for other threads' records, in line order: each a piece
  // of `heldText_`; those before `heldStart_` are written already.
  struct Held {
    uint64_t line;
    size_t offset;
    size_t length;
  };
  std::vector<Held> held_;
  size_t heldStart_ = 0;
  JsonText heldText_;
  bool streamKnown_ = false;
  LineIds streamIds_;
  int streamRun_ = -1;
  JsonText streamText_;
  size_t releasedBytes_ = 0;
  // Record objects and the table each was built over (or set to), the
  // first kKeptTables at once.
  std::unordered_map<std::string, std::string> storeTables_;
  // --redact: writers numbered in the order first seen, the first kKeptWriters.
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> writers_;
};

// Reads each log in turn and writes its records to standard output. Returns
// the exit status: 0 every line was read, 1 some could not be, 2 a log could
// not be opened or read.
int WriteRecords(OperationForms const& forms, RecordsRequest const& request);

}  // namespace tools
}  // namespace tolvan

#endif
