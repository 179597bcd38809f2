// "records": one JSON object per call, error line and damaged line.
#include <gtest/gtest.h>

#include <cstdio>

#include "tools/tests/trace_test_support.h"
#include "tools/trace/trace_reader.h"
#include "tools/trace/trace_records_jsonl.h"

namespace tolvan {
namespace tools {
namespace {

std::string const kResult(16, ' ');

std::string Records(std::string const& log, RecordsRequest const& request = RecordsRequest()) {
  Summary summary;
  JsonLinesWriter writer(Forms(), summary, request, "C:\\logs\\Tolvan32_a.log");
  std::string out;
  TraceReader reader(Forms(), summary, [&](Record const& record) {
    CountRecord(summary, Forms(), record);
    writer.Write(out, record);
  });
  reader.KeepLineOrder();
  reader.ReadText(log);
  return out;
}

// Two processes of one computer, timed, with ids: a forced reopen, a record
// object over the table, a field exchange, an error and a damaged line.
std::string TimedLog() {
  std::string const run = "*** Run *** 2026-12-09 10:00:00 Tolvan32 8.0.0.7 Tolvan32_Debug=1 Tolvan32_TraceIds=1 "
                          "Tolvan32_TraceTime=1 Clock=precise Computer WS7 User DOM\\ann Host C:\\h.exe \r\n";
  return " [7:8] @10:00:00.000001 " + run +
         " [7:8] @10:00:00.000002 00a40000 CDataDictionary::GetTable(char const *) KUNDEN \r\n"
         " [7:8] @10:00:00.000003 +1us" + kResult + "00a41230 \r\n"
         " [9:1] @10:00:00.000004 " + run +
         " [7:8] @10:03:00.000000 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1 \r\n"
         " [9:1] @10:03:00.500000 00c00000 CTable::IsOpen(void) \r\n"
         " [7:8] @10:03:00.000010 00a41230 CTable::CloseAccess(enum SafetyCtl) 1 \r\n"
         " [7:8] @10:03:00.000020 +10us" + kResult + "1 ( 3 ) \r\n"
         " [7:8] @10:03:01.000000 +999990us" + kResult + "1 ( 5 ) \r\n"
         " [9:1] @10:03:01.500000 +1000000us" + kResult + "0 ( 0 ) \r\n"
         " [7:8] @10:04:00.000000 00b00000 CStoreObj::CStoreObj(class CTable *,class CIndex *)) 00a41230 00000000 \r\n"
         " [7:8] @10:04:00.000001 +1us" + kResult + "00b00000 \r\n"
         " [7:8] @10:04:00.000002 +3us 00b00000 CStoreObj::FX_String(char const *,class CString &,int) NAME Ann Lee 0 \r\n"
         " [7:8] @10:06:00.000000 *** Error *** #002 (Entry in library not found)\r\n"
         "garbage\r\n";
}

bool Has(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

TEST(TraceRecordsJsonl, OneObjectPerCallErrorAndDamagedLineWithItsFields) {
  std::string const out = Records(TimedLog());
  std::vector<std::string> const lines = LinesOf(out);
  ASSERT_EQ(lines.size(), 8u) << out;
  std::unique_ptr<Summary> const summary = Summarise(TimedLog());
  EXPECT_EQ(lines.size(), summary->calls + summary->errorLines + summary->badLines);
  EXPECT_EQ(lines[0],
            "{\"file\":\"C:\\\\logs\\\\Tolvan32_a.log\",\"line\":2,\"pid\":7,\"tid\":8,\"run\":1,\"computer\":\"WS7\","
            "\"time\":\"10:00:00.000002\",\"duration_us\":1,\"object\":\"00a40000\","
            "\"operation\":\"CDataDictionary::GetTable\",\"signature\":\"CDataDictionary::GetTable(char const *)\","
            "\"args\":[\"KUNDEN\"],\"status\":\"completed\",\"result\":\"00a41230\",\"result_line\":3,"
            "\"table\":\"KUNDEN\",\"by_module\":false,\"depth\":0}");
  // In log order, though the other process's call ends later.
  EXPECT_TRUE(Has(lines[1], "\"line\":5,\"pid\":7,\"tid\":8,\"run\":1"));
  EXPECT_TRUE(Has(lines[1], "\"args\":[2,1],\"status\":\"completed\",\"result\":1,\"state\":[5],\"result_line\":9,"
                            "\"table\":\"KUNDEN\",\"by_module\":false,\"depth\":0,\"note\":\"forced shared reopen\""))
      << lines[1];
  EXPECT_TRUE(Has(lines[1], "\"duration_us\":999990,\"object\":\"00a41230\",\"operation\":\"CTable::OpenAccess\","
                            "\"args\""))
      << "the signature only where Class::Method names several operations";
  // The other process's call between the host's call and the module's call inside it.
  EXPECT_TRUE(Has(lines[2], "\"line\":6,\"pid\":9,\"tid\":1,\"run\":2")) << lines[2];
  EXPECT_FALSE(Has(lines[2], "\"table\"")) << "no name was learnt for this object";
  EXPECT_TRUE(Has(lines[3], "\"line\":7,") && Has(lines[3], "\"by_module\":true,\"depth\":1")) << lines[3];
  EXPECT_TRUE(Has(lines[4], "\"operation\":\"CStoreObj::CStoreObj\"") && Has(lines[4], "\"table\":\"KUNDEN\""));
  // A field exchange: its field and value (a text with a space), the record object's table.
  EXPECT_TRUE(Has(lines[5], "\"duration_us\":3,") &&
              Has(lines[5], "\"field\":\"NAME\",\"value\":\"Ann Lee\",\"direction\":0,\"status\":\"single_line\","
                            "\"table\":\"KUNDEN\""))
      << lines[5];
  EXPECT_TRUE(Has(lines[6], "\"line\":14,\"pid\":7,\"tid\":8,\"run\":1,\"computer\":\"WS7\",\"time\":\"10:06:00.000000\","));
  EXPECT_TRUE(Has(lines[6], "\"error\":{\"number\":2,\"text\":\"*** Error *** #002 (Entry in library not found)\"}"));
  EXPECT_EQ(lines[7].find("{\"file\":\"C:\\\\logs\\\\Tolvan32_a.log\",\"line\":15,\"damaged\""), 0u) << lines[7];
  EXPECT_TRUE(Has(lines[7], "\"damaged\":{\"problem\":\"not a trace line\",\"text\":\"garbage\"}"));
}

TEST(TraceRecordsJsonl, FiltersSelectCallsAndRedactionMasksWhatTheReportMasks) {
  RecordsRequest request;
  ASSERT_TRUE(AddOperationFilter(request.filter, Forms(), "OpenAccess"));
  std::vector<std::string> lines = LinesOf(Records(TimedLog(), request));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Has(lines[0], "\"line\":5,"));

  request = RecordsRequest();
  request.filter.table = "kunden";
  ASSERT_TRUE(ReadTimeOfDay("10:03", request.from) && ReadTimeOfDay("10:05:00.5", request.to));
  request.fromGiven = request.toGiven = true;
  lines = LinesOf(Records(TimedLog(), request));
  ASSERT_EQ(lines.size(), 4u) << "OpenAccess, its CloseAccess, CStoreObj and FX_String; no error, no other table";
  EXPECT_TRUE(Has(lines[3], "FX_String"));
  request.filter.table.clear();
  request.filter.byProcess = true;
  request.filter.process = 9;
  lines = LinesOf(Records(TimedLog(), request));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Has(lines[0], "CTable::IsOpen"));
  uint64_t time = 0;
  EXPECT_FALSE(ReadTimeOfDay("24:00", time) || ReadTimeOfDay("10:3", time) || ReadTimeOfDay("10:03:00.", time) ||
               ReadTimeOfDay("10:03:00.1234567", time));
  ASSERT_TRUE(ReadTimeOfDay("10:03:00.25", time));
  EXPECT_EQ(time, 36180250000u);

  request = RecordsRequest();
  request.redact = true;
  std::string const out = Records(TimedLog(), request);
  for (char const* secret : {"KUNDEN", "00a4", "00b0", "Ann", "WS7", "DOM", "garbage", "\"pid\"", "Tolvan32_a.log\\",
                             "logs", "library"}) {
    EXPECT_FALSE(Has(out, secret)) << secret << " in " << out;
  }
  lines = LinesOf(out);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1].find("{\"file\":\"Tolvan32_a.log\",\"line\":5,\"writer\":1,\"run\":1,\"time\":"), 0u) << lines[1];
  EXPECT_TRUE(Has(lines[1], "\"args\":[\"[value]\",\"[value]\"],\"status\":\"completed\",\"result\":1,\"result_line\":9,"
                            "\"table\":\"table 1\""))
      << lines[1];
  EXPECT_TRUE(Has(lines[2], "\"writer\":2,"));
  EXPECT_TRUE(Has(lines[6], "\"error\":{\"number\":2,\"text\":\"*** Error *** #002\"}"));
}

TEST(TraceRecordsJsonl, EveryByteReachesTheOutputAsUtf8OrEscaped) {
  std::string out;
  AppendJsonBytes(out, std::string("a\"b\\c\r\n\t\x01\x7f", 10));
  EXPECT_EQ(out, "\"a\\\"b\\\\c\\r\\n\\t\\u0001\\u007f\"");
  out.clear();
  // Valid UTF-8 (two, three and four bytes) as it is; cp1251 text, a lone
  // continuation byte, overlong forms, a surrogate, a cut sequence escaped.
  AppendJsonBytes(out, "M\xc3\xbcller \xe2\x80\xa6 \xf0\x9f\x98\x80 \xca\xd3\xcd \x80 \xc0\xaf \xe0\x80\xaf \xed\xa0\x80 \xe2\x80");
  EXPECT_EQ(out,
            "\"M\xc3\xbcller \xe2\x80\xa6 \xf0\x9f\x98\x80 \\u00ca\\u00d3\\u00cd \\u0080 \\u00c0\\u00af "
            "\\u00e0\\u0080\\u00af \\u00ed\\u00a0\\u0080 \\u00e2\\u0080\"");

  // A memo value with a line feed, a NUL-free binary value and a long text, whole.
  std::string const value = "line one\r\nline two \xff\xfe " + std::string(5000, 'x');
  std::string const log = " 00b00000 CStoreObj::FX_String(char const *,class CString &,int) MEMO " + value + " 0 \r\n";
  std::vector<std::string> const lines = LinesOf(Records(log));
  ASSERT_EQ(lines.size(), 1u) << "the line feed goes on the call line";
  EXPECT_TRUE(Has(lines[0], "\"continued_lines\":1,"));
  EXPECT_TRUE(Has(lines[0], "\"value\":\"line one\\nline two \\u00ff\\u00fe " + std::string(5000, 'x') + "\""));
}

// The streaming writer on a longer log: one object per call, error and
// damaged line, as many as summary counts, each a line of its own.
TEST(TraceRecordsJsonl, ALongLogGivesAsManyObjectsAsTheSummaryCounts) {
  std::string log;
  for (int i = 0; i < 4000; ++i) {
    log += " 00a41230 CTable::Pack(void) \r\n 00a41230 CTable::CloseAccess(enum SafetyCtl) 2 \r\n" + kResult +
           "1 ( 5 ) \r\n 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1 \r\n" + kResult +
           "1 ( 5 ) \r\n 00a41230 CTable::CloseAccess(enum SafetyCtl) 1 \r\n" + kResult + "1 ( 5 ) \r\n" +
           " 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 1 1 \r\n" + kResult + "1 ( 5 ) \r\n" +
           kResult + "1 ( 5 ) \r\n";
    if (i % 1000 == 0) log += " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n?\r\n";
  }
  std::string const out = Records(log);
  std::unique_ptr<Summary> const summary = Summarise(log);
  std::vector<std::string> const lines = LinesOf(out);
  EXPECT_EQ(lines.size(), summary->calls + summary->errorLines + summary->badLines);
  EXPECT_EQ(lines.size(), 20008u);
  size_t escalations = 0;
  for (std::string const& line : lines) {
    ASSERT_TRUE(line.front() == '{' && line.back() == '}') << line;
    escalations += Has(line, "\"policy\":\"escalated\"");
  }
  EXPECT_EQ(escalations, 4000u);
}

TEST(TraceRecordsJsonl, TheCommandReadsSeveralLogsInTurn) {
  std::string const folder = ::testing::TempDir();
  std::string const first = folder + "records_first.log", second = folder + "records_second.log";
  for (auto const& [path, text] : {std::make_pair(first, TimedLog()),
                                   std::make_pair(second, " 00a41230 CTable::IsOpen(void) \r\n" + kResult + "1 ( 5 ) \r\n")}) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  auto run = [](std::string const& arguments, std::string& output) {
    FILE* pipe = popen((std::string(TOLVAN_TRACE_TOOL) + " " + arguments + " 2>&1").c_str(), "r");
    output.clear();
    char buffer[4096];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    return pipe ? WEXITSTATUS(pclose(pipe)) : -1;
  };
  std::string output;
  EXPECT_EQ(run("records " + first + " " + second, output), 1) << "the first log has a damaged line";
  std::vector<std::string> lines = LinesOf(output);
  ASSERT_EQ(lines.size(), 9u) << output;
  EXPECT_TRUE(Has(lines[8], "\"file\":\"" + second + "\",\"line\":1,"));
  EXPECT_EQ(run("records --from 10:03 --to 10:03:00.9 --redact " + second + " " + first, output), 1);
  lines = LinesOf(output);
  ASSERT_EQ(lines.size(), 3u) << output;
  EXPECT_TRUE(Has(lines[0], "\"file\":\"records_first.log\",\"line\":5,"));
  EXPECT_EQ(run("records --from 10h " + first, output), 2);
  EXPECT_TRUE(Has(output, "not a time of day"));
  EXPECT_EQ(run("records --from 10:00 " + second, output), 0);
  EXPECT_TRUE(Has(output, "carry no times")) << output;
}

}  // namespace
}  // namespace tools
}  // namespace tolvan
