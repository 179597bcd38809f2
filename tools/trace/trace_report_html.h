// The report of a trace log: one self-contained HTML page (inline CSS and
// SVG, a few lines of script) to attach to a ticket. Its figures are the
// summary's, read from the same Summary that "summary" prints; what the page
// adds is gathered in the same single pass and stays bounded: the records
// just before the first errors, and a timeline folded into a fixed number of
// bins however long the log is.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_REPORT_HTML_H
#define TOLVAN_TOOLS_TRACE_TRACE_REPORT_HTML_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

class HtmlReport : public CountedEvents {
 public:
  // `redact`: field values, texts and addresses are masked on the page.
  HtmlReport(OperationForms const& forms, bool redact);

  // Each top-level record, after CountRecord has counted it (with this
  // report as its CountedEvents).
  void AddRecord(Record const& record);
  void Counted(CountedEvent event, uint64_t line, Record const& record) override;

  // The whole page; `source` names the log.
  void Write(std::string& out, Summary const& summary, std::string_view source) const;

 private:
  static constexpr size_t kContextRecords = 3;
  static constexpr size_t kBins = 240;
  static constexpr size_t kMaxLanes = 16;
  using Bin = std::array<uint32_t, kCountedEventKinds + 1>;  // the events, then the records
  struct Lane {
    std::string writer;
    int run = -1;
    uint32_t process = 0;
    bool shared = false;  // the last lane, once more writers came than lanes
    std::vector<Bin> bins = std::vector<Bin>(kBins);
  };
  // Errors whose records follow each other share one block.
  struct ErrorBlock {
    uint64_t firstError;
    uint64_t lastError;
    uint64_t lastRecord;  // the line of the last record rendered
    std::string html;     // the records before the errors and their own
  };

  void Place(uint64_t line, Record const& record, size_t slot);
  std::string AxisText(uint64_t position) const;
  void WriteHoldMarks(std::string& out, Summary const& summary, size_t used) const;
  Lane& LaneOf(Record const& record);
  void RenderRecord(std::string& out, Record const& record, bool withError) const;
  void WriteHeader(std::string& out, Summary const& summary, std::string_view source) const;
  void WriteRuns(std::string& out, Summary const& summary) const;
  void WriteLogs(std::string& out, Summary const& summary) const;
  void WriteTableOrigin(std::string& out, Summary const& summary, TableTally const& table) const;
  void WriteErrors(std::string& out, Summary const& summary) const;
  void WriteRecorder(std::string& out, Summary const& summary) const;
  void WriteWithoutResult(std::string& out, Summary const& summary) const;
  void WritePolicy(std::string& out, Summary const& summary) const;
  void WriteTiming(std::string& out, Summary const& summary) const;
  void WriteHolds(std::string& out, Summary const& summary) const;
  std::string WriterText(int run, LineIds const& ids) const;
  void WriteCharts(std::string& out, Summary const& summary) const;
  void WriteTimeline(std::string& out, Summary const& summary) const;

  OperationForms const& forms_;
  bool const redact_;
  std::vector<Record> recent_ = std::vector<Record>(kContextRecords);  // a ring of the last records
  size_t recentNext_ = 0;
  size_t recentCount_ = 0;
  std::vector<ErrorBlock> errorBlocks_;
  size_t shownErrors_ = 0;
  std::vector<Lane> lanes_;
  uint64_t binWidth_ = 1;  // lines (microseconds in a timed log) per bin, doubled as the log grows
  // A timed log's timeline runs along time from its first record's.
  bool decided_ = false;
  bool timed_ = false;
  int64_t origin_ = 0;
  uint64_t lastPosition_ = 0;
};

}  // namespace tools
}  // namespace tolvan

#endif
