// tolvan32-setup's decisions from what it found in a folder, and the pieces
// they rest on. The tools stage runs the tool itself under Wine: the
// installation road, the usual refusals and a failure at every step; here
// are the refusals it does not arrange.
#include "tools/setup/setup_plan.h"

#include "tools/setup/folder_state.h"
#include "tools/setup/zip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <map>
#include <string>

namespace tolvan {
namespace tools {
namespace {

std::string const kFolder = "C:\\Host";
std::string const kModule = kFolder + "\\Tolvan32.dll";
std::string const kEngine = kFolder + "\\Tolvan33.dll";
std::string const kIncoming = kFolder + "\\Tolvan32.dll.setup-new";
std::string const kBackup = kFolder + "\\Tolvan32.dll.setup-old";
std::string const kSource = "D:\\Dist\\Tolvan32.dll";

FileVersion const kOlder = {0x00080000, 6};
FileVersion const kCurrent = {0x00080000, 7};

FileFacts Library(VersionIdentity identity, FileVersion version = FileVersion()) {
  FileFacts facts = {};
  facts.present = true;
  facts.identity = identity;
  facts.version = version;
  facts.image = {true, 0, 104};
  return facts;
}

// A host folder before installation: the engine as Tolvan32.dll.
FolderFacts Fresh() {
  FolderFacts facts = {};
  facts.folder = kFolder.c_str();
  facts.module = Library(kVersionOther);
  facts.valueTypesFound = true;
  facts.source = kSource.c_str();
  facts.sourceFacts = Library(kVersionProxyModule, kCurrent);
  return facts;
}

FolderFacts Installed(FileVersion version = kCurrent) {
  FolderFacts facts = Fresh();
  facts.module = Library(kVersionProxyModule, version);
  facts.engine = Library(kVersionOther);
  return facts;
}

void PutErrorNumber(Output& out, unsigned long error) {
  Put(out, "error ");
  PutNumber(out, error);
}

void Append(void* context, char const* data, size_t length) {
  static_cast<std::string*>(context)->append(data, length);
}

struct Printed {
  Printed() {
    out.sink = &Append;
    out.context = &text;
    out.used = 0;
  }
  std::string const& Text() {
    Flush(out);
    return text;
  }
  std::string text;
  Output out;
};

typedef PlanOutcome (*Planner)(Output&, FolderFacts const&, PutSystemError const&, SetupPlan&);
PlanOutcome Install(Output& out, FolderFacts const& f, PutSystemError const& e, SetupPlan& plan) {
  return PlanInstall(out, f, e, plan);
}
PlanOutcome Uninstall(Output& out, FolderFacts const& f, PutSystemError const& e, SetupPlan& plan) {
  return PlanUninstall(out, f, e, plan);
}

struct Refusal {
  char const* what;
  Planner planner;
  std::function<void(FolderFacts&)> arrange;
  std::string refused;  // "REFUSED: PATH: REASON" begins with this
};

TEST(SetupPlanTest, RefusalsNameTheFileAndTheReason) {
  Refusal const refusals[] = {
      {"folder is a file", Uninstall, [](FolderFacts& f) { f.folderError = kNotAFolder; },
       kFolder + ": it is not a folder"},
      {"no module to install", Install, [](FolderFacts& f) { f.sourceFacts = FileFacts(); },
       kSource + ": the module to install was not found"},
      {"no Tolvan32.dll", Install, [](FolderFacts& f) { f.module = FileFacts(); },
       kModule + ": it is missing, and so is Tolvan33.dll: this is not a host application's folder"},
      {"Tolvan32.dll unreadable", Install, [](FolderFacts& f) { f.module.readError = 193; },
       kModule + ": it cannot be read as a library: error 193"},
      {"leftover incoming copy", Install, [](FolderFacts& f) { f.incoming = Library(kVersionProxyModule); },
       kIncoming + ": an install stopped after copying the module in: run tolvan32-setup repair"},
      {"upgrade of a module in use", Install,
       [](FolderFacts& f) {
         f = Installed(kOlder);
         f.module.lockError = 32;
       },
       kModule + ": it cannot be changed: error 32 - is the host application running?"},
      {"upgrade over a leftover backup", Install,
       [](FolderFacts& f) {
         f = Installed(kOlder);
         f.backup = Library(kVersionOther);
       },
       kBackup + ": it is left over"},
      {"uninstall with the engine read-only", Uninstall,
       [](FolderFacts& f) {
         f = Installed();
         f.engine.readOnly = true;
       },
       kEngine + ": it is read-only"},
      {"uninstall beside an unknown Tolvan33.dll", Uninstall,
       [](FolderFacts& f) { f.engine = Library(kVersionOther); }, kEngine + ": Tolvan32.dll is an engine"},
  };
  for (Refusal const& refusal : refusals) {
    FolderFacts facts = Fresh();
    refusal.arrange(facts);
    Printed printed;
    SetupPlan plan;
    EXPECT_EQ(refusal.planner(printed.out, facts, &PutErrorNumber, plan), kPlanRefused) << refusal.what;
    EXPECT_TRUE(plan.steps.empty()) << refusal.what;
    EXPECT_NE(printed.Text().find("REFUSED: " + refusal.refused), std::string::npos)
        << refusal.what << "\n" << printed.Text();
  }
}

// What the Wine cases do not arrange: an interrupted upgrade whose copy is
// not newer is taken back, never finished; a name differing only in letter
// case is a difference.
TEST(SetupPlanTest, RepairNeverFinishesADowngradeAndLetterCaseIsCompared) {
  FolderFacts facts = Installed(kCurrent);
  facts.incoming = Library(kVersionProxyModule, kOlder);
  Diagnosis const diagnosis = Diagnose(facts);
  EXPECT_EQ(diagnosis.state, kStateInterrupted);
  ASSERT_EQ(diagnosis.repair.steps.size(), 1u);
  EXPECT_EQ(diagnosis.repair.steps[0].kind, kStepDelete);
  EXPECT_EQ(diagnosis.repair.steps[0].from, kIncoming);

  Printed printed;
  Snapshot const before = {{"TOLVAN32.DLL", 10, 1}};
  EXPECT_FALSE(PutDifferences(printed.out, "differs\n", before, before));
  EXPECT_TRUE(PutDifferences(printed.out, "differs\n", before, {{"Tolvan32.dll", 10, 1}}));
  EXPECT_TRUE(PutDifferences(printed.out, "differs\n", before, {{"TOLVAN32.DLL", 10, 2}}));
  EXPECT_NE(printed.Text().find("expected TOLVAN32.DLL, 10 bytes"), std::string::npos) << printed.Text();
}

TEST(SetupPlanTest, PathsThatDoNotFitAreNeverCutShort) {
  size_t const size = 18;
  EXPECT_EQ(JoinPath("C:\\H", "Tolvan32.dll", size), "C:\\H\\Tolvan32.dll");
  EXPECT_EQ(JoinPath("C:\\Ho", "Tolvan32.dll", size), std::nullopt);
  EXPECT_EQ(JoinPath("C:\\", "Tolvan32.dll", size), "C:\\Tolvan32.dll");
  EXPECT_EQ(JoinPath("", "Tolvan32.dll", size), "Tolvan32.dll");
}

TEST(SetupPlanTest, FileVersionsAreReadFromTheFixedPartOfTheResource) {
  // "VS_VERSION_INFO" root block: 3 words, the key in UTF-16, padding, then
  // the fixed part (signature, structure version, file version).
  unsigned char resource[96] = {};
  resource[2] = 52;  // value length
  char const key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof key; ++i) resource[6 + 2 * i] = static_cast<unsigned char>(key[i]);
  unsigned char const fixed[] = {0xbd, 0x04, 0xef, 0xfe, 0, 0, 1, 0, 0, 0, 8, 0, 7, 0, 0, 0};
  memcpy(resource + 40, fixed, sizeof fixed);
  FileVersion version = {};
  ASSERT_TRUE(ReadFileVersion(resource, sizeof resource, &version));
  EXPECT_EQ(CompareFileVersions(version, kCurrent), 0);
  EXPECT_LT(CompareFileVersions(kOlder, version), 0);
  EXPECT_GT(CompareFileVersions({0x00090000, 0}, version), 0);
  Printed printed;
  PutFileVersion(printed.out, version);
  EXPECT_EQ(printed.Text(), "8.0.0.7");
  resource[40] = 0;
  EXPECT_FALSE(ReadFileVersion(resource, sizeof resource, &version)) << "no signature, no version";
  EXPECT_FALSE(ReadFileVersion(resource, 60, &version)) << "cut short";
}

TEST(SetupPlanTest, CheckTellsAFolderOfNeitherLibraryFromABrokenOneAndSaysEachThingOnce) {
  FolderFacts facts = Fresh();
  facts.module = FileFacts();
  Printed printed;
  auto const unused = [](Output&) { return kCheckBroken; };
  EXPECT_EQ(CheckFolderState(printed.out, facts, &PutErrorNumber, unused), kCheckNotAHostFolder);
  EXPECT_EQ(printed.Text(), "State: not a host folder: " + kModule +
                                ": it is missing, and so is Tolvan33.dll: this is not a host application's folder\n"
                                "What to do: name the host application's folder, the one that holds its "
                                "Tolvan32.dll\n");
  Printed fresh;
  facts = Fresh();
  facts.module.version = kCurrent;
  EXPECT_EQ(CheckFolderState(fresh.out, facts, &PutErrorNumber, unused), kCheckNotInstalled);
  EXPECT_EQ(fresh.Text(), "State: not installed: " + kModule + ": Tolvan32.dll is still the engine (version 8.0.0.7)\n");
}

// The archive read back as an unzip program reads it: from the end of the
// central directory to each entry's local header, its bytes inflated and
// their CRC compared.
std::map<std::string, std::string> Unzipped(std::string const& zip) {
  auto const word = [&](size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(zip.at(at + i));
    return value;
  };
  std::map<std::string, std::string> entries;
  size_t const end = zip.rfind(std::string("PK\5\6", 4));
  if (end == std::string::npos || end + 22 != zip.size()) return entries;
  size_t at = word(end + 16, 4);
  for (uint32_t n = word(end + 10, 2); n--;) {
    EXPECT_EQ(word(at, 4), 0x02014b50u);
    uint32_t const crc = word(at + 16, 4), packed = word(at + 20, 4), size = word(at + 24, 4);
    size_t const nameLength = word(at + 28, 2), local = word(at + 42, 4);
    std::string const name = zip.substr(at + 46, nameLength);
    EXPECT_EQ(word(local, 4), 0x04034b50u);
    EXPECT_EQ(zip.substr(local + 30, word(local + 26, 2)), name);
    size_t const data = local + 30 + word(local + 26, 2) + word(local + 28, 2);
    EXPECT_EQ(word(data + packed, 4), 0x08074b50u) << "the data descriptor follows the data";
    EXPECT_EQ(word(data + packed + 4, 4), crc);
    std::string bytes(size, '\0');
    z_stream stream = {};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
    stream.avail_in = packed;
    stream.next_out = reinterpret_cast<Bytef*>(&bytes[0]);
    stream.avail_out = size;
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END) << name;
    inflateEnd(&stream);
    EXPECT_EQ(crc32(0, reinterpret_cast<Bytef const*>(bytes.data()), size), crc) << name;
    entries[name] = bytes;
    at += 46 + nameLength;
  }
  return entries;
}

TEST(ZipWriterTest, EntriesWrittenInPiecesReadBackWhole) {
  std::string zip;
  ZipWriter writer([&](char const* data, size_t size) { return zip.append(data, size), true; }, 0, 0x5989);
  std::string log;
  for (int i = 0; i < 40000; ++i) log += "CTable::GetField(char const *) #" + std::to_string(i * 7919 % 1000) + "\n";
  ASSERT_TRUE(writer.Begin("Tolvan32_a.log"));
  for (size_t at = 0; at < log.size(); at += 100000) ASSERT_TRUE(writer.Write(std::string_view(log).substr(at, 100000)));
  ASSERT_TRUE(writer.End());
  ASSERT_TRUE(writer.AddEntry("empty.txt", ""));
  ASSERT_TRUE(writer.Finish()) << writer.Error();
  EXPECT_LT(zip.size(), log.size() / 4) << "compressed";
  EXPECT_EQ(writer.BytesWritten(), zip.size());
  ASSERT_EQ(writer.Entries().size(), 2u);
  EXPECT_EQ(writer.Entries()[0].hash, ContentHash(log)) << "the hash install compares files by, in pieces";
  std::map<std::string, std::string> const back = Unzipped(zip);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_TRUE(back.at("Tolvan32_a.log") == log);
  EXPECT_EQ(back.at("empty.txt"), "");
}

TEST(ZipWriterTest, AnArchiveThatWouldPassItsLimitFailsInsteadOfWrapping) {
  std::string zip;
  ZipWriter writer([&](char const* data, size_t size) { return zip.append(data, size), true; }, 0, 0, 4096);
  std::string noise;
  for (uint32_t i = 0, x = 1; i < 20000; ++i) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  EXPECT_TRUE(writer.Begin("noise"));
  EXPECT_FALSE(writer.Write(noise) && writer.End());
  EXPECT_NE(writer.Error().find("4 GiB"), std::string::npos) << writer.Error();
  EXPECT_FALSE(writer.Finish()) << "no central directory for a failed archive";
  EXPECT_LT(zip.size(), 4096u);
  std::string refused;
  ZipWriter failing([](char const*, size_t) { return false; }, 0, 0);
  EXPECT_FALSE(failing.AddEntry("a", "b"));
  EXPECT_EQ(failing.Error(), "it could not be written");
}

}  // namespace
}  // namespace tools
}  // namespace tolvan
