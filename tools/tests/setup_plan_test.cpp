// tolvan32-setup's decisions from what it found in a folder, and the pieces
// they rest on. The tools stage runs the tool itself under Wine: the
// installation road, the usual refusals and a failure at every step; here
// are the refusals it does not arrange.
#include "tools/setup/setup_plan.h"

#include "tools/setup/folder_state.h"

#include <gtest/gtest.h>

#include <functional>
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
       kModule + ": it is missing: there is no engine here"},
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

}  // namespace
}  // namespace tools
}  // namespace tolvan
