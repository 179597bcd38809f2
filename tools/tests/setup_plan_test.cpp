// tolvan32-setup's decisions and its undo, against a simulated folder: what
// is refused (and which file is named), which steps each case takes, and
// that a failure at any step leaves the folder as it was.
#include "tools/setup/setup_plan.h"

#include <gtest/gtest.h>

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

void Append(void* context, char const* data, size_t length) { static_cast<std::string*>(context)->append(data, length); }

struct Printed {
  Printed() { out.sink = &Append, out.context = &text, out.used = 0; }
  std::string const& Text() {
    Flush(out);
    return text;
  }
  std::string text;
  Output out;
};

typedef PlanOutcome (*Planner)(Output&, FolderFacts const&, PutSystemError, SetupPlan&);

struct Refusal {
  char const* what;
  Planner planner;
  std::function<void(FolderFacts&)> arrange;
  std::string refused;  // "REFUSED: PATH: REASON" begins with this
};

TEST(SetupPlanTest, RefusesEveryUnsafeFolderNamingTheFileAndTheReason) {
  Refusal const refusals[] = {
      {"folder missing", PlanInstall, [](FolderFacts& f) { f.folderError = 3; }, kFolder + ": the folder cannot be used: error 3"},
      {"folder is a file", PlanUninstall, [](FolderFacts& f) { f.folderError = kNotAFolder; }, kFolder + ": it is not a folder"},
      {"no module to install", PlanInstall, [](FolderFacts& f) { f.sourceFacts = FileFacts(); }, kSource + ": the module to install was not found"},
      {"engine offered as the module", PlanInstall, [](FolderFacts& f) { f.sourceFacts = Library(kVersionOther); }, kSource + ": it is not the module"},
      {"no Tolvan32.dll", PlanInstall, [](FolderFacts& f) { f.module = FileFacts(); }, kModule + ": it is missing"},
      {"Tolvan32.dll unreadable", PlanInstall, [](FolderFacts& f) { f.module.readError = 193; }, kModule + ": it cannot be read as a library: error 193"},
      {"Tolvan33.dll already there", PlanInstall, [](FolderFacts& f) { f.engine = Library(kVersionOther); }, kEngine + ": it is already there"},
      {"module copied as Tolvan33.dll", PlanInstall, [](FolderFacts& f) { f.engine = Library(kVersionProxyModule, kCurrent); }, kEngine + ": it is already there, and it is a copy of the module"},
      {"no Ravix32.dll", PlanInstall, [](FolderFacts& f) { f.valueTypesFound = false; }, kFolder + "\\Ravix32.dll: it was found neither"},
      {"read-only engine", PlanInstall, [](FolderFacts& f) { f.module.readOnly = true; }, kModule + ": it is read-only"},
      {"engine in use", PlanInstall, [](FolderFacts& f) { f.module.lockError = 32; }, kModule + ": it cannot be changed: error 32 - is the host application running?"},
      {"leftover incoming copy", PlanInstall, [](FolderFacts& f) { f.incoming = Library(kVersionProxyModule); }, kIncoming + ": it is in the way"},
      {"module without its engine", PlanInstall, [](FolderFacts& f) { f = Installed(); f.engine = FileFacts(); }, kEngine + ": it is missing"},
      {"module in the engine's place too", PlanInstall, [](FolderFacts& f) { f = Installed(); f.engine = Library(kVersionProxyModule, kCurrent); }, kEngine + ": it is a copy of the module"},
      {"newer module installed", PlanInstall, [](FolderFacts& f) { f = Installed({0x00090000, 0}); }, kModule + ": it is a newer module"},
      {"upgrade of a module in use", PlanInstall, [](FolderFacts& f) { f = Installed(kOlder); f.module.lockError = 32; }, kModule + ": it cannot be changed"},
      {"upgrade over a leftover backup", PlanInstall, [](FolderFacts& f) { f = Installed(kOlder); f.backup = Library(kVersionOther); }, kBackup + ": it is in the way"},
      {"uninstall without the engine", PlanUninstall, [](FolderFacts& f) { f = Installed(); f.engine = FileFacts(); }, kEngine + ": it is missing"},
      {"uninstall with the module as engine", PlanUninstall, [](FolderFacts& f) { f = Installed(); f.engine = Library(kVersionProxyModule); }, kEngine + ": it is a copy of the module"},
      {"uninstall with the engine read-only", PlanUninstall, [](FolderFacts& f) { f = Installed(); f.engine.readOnly = true; }, kEngine + ": it is read-only"},
      {"uninstall beside an unknown Tolvan33.dll", PlanUninstall, [](FolderFacts& f) { f.engine = Library(kVersionOther); }, kModule + ": it is not the module"},
  };
  for (Refusal const& refusal : refusals) {
    FolderFacts facts = Fresh();
    refusal.arrange(facts);
    Printed printed;
    SetupPlan plan;
    EXPECT_EQ(refusal.planner(printed.out, facts, &PutErrorNumber, plan), kPlanRefused) << refusal.what;
    EXPECT_EQ(plan.count, 0) << refusal.what;
    EXPECT_NE(printed.Text().find("REFUSED: " + refusal.refused), std::string::npos)
        << refusal.what << "\n" << printed.Text();
  }
}

// --- Running the steps -----------------------------------------------------------
struct SimulatedFolder {
  std::map<std::string, std::string> files;
  int failingCall = 0;  // this action call (1 = the first) fails with error 5
  int calls = 0;
  bool complete = true;
  std::function<void(int step)> beforeStep;

  bool Fails() { return ++calls == failingCall; }
  static SimulatedFolder& Of(void* context) { return *static_cast<SimulatedFolder*>(context); }
  static unsigned long Rename(void* context, char const* from, char const* to) {
    SimulatedFolder& folder = Of(context);
    if (folder.Fails()) return 5;
    if (!folder.files.count(from)) return 2;
    if (folder.files.count(to)) return 183;
    folder.files[to] = folder.files[from];
    folder.files.erase(from);
    return 0;
  }
  static unsigned long Copy(void* context, char const* from, char const* to) {
    SimulatedFolder& folder = Of(context);
    if (folder.Fails()) return 5;
    if (folder.files.count(to)) return 80;
    folder.files[to] = folder.files.at(from);
    return 0;
  }
  static unsigned long Remove(void* context, char const* path) {
    SimulatedFolder& folder = Of(context);
    if (folder.Fails()) return 5;
    return folder.files.erase(path) ? 0 : 2;
  }
  static bool Check(void* context, Output& out, char const* engine) {
    SimulatedFolder& folder = Of(context);
    Put(out, "checked ");
    Put(out, engine);
    Put(out, "\n");
    return !folder.Fails() && folder.complete;
  }
  static void Before(void* context, int number, SetupStep const&) {
    if (Of(context).beforeStep) Of(context).beforeStep(number);
  }
  SetupActions Actions() { return {this, &Rename, &Copy, &Remove, &Check, &PutErrorNumber, &Before, nullptr}; }
};

std::map<std::string, std::string> const kFreshFolder = {
    {kSource, "new module"}, {kModule, "engine"}, {kFolder + "\\Ravix32.dll", "value types"}};
std::map<std::string, std::string> const kOlderInstalled = {
    {kSource, "new module"}, {kModule, "old module"}, {kEngine, "engine"}, {kFolder + "\\Ravix32.dll", "value types"}};
std::map<std::string, std::string> const kInstalled = {
    {kSource, "new module"}, {kModule, "new module"}, {kEngine, "engine"}, {kFolder + "\\Ravix32.dll", "value types"}};

struct Case {
  char const* what;
  Planner planner;
  FolderFacts facts;
  std::map<std::string, std::string> before;
  std::map<std::string, std::string> after;
  int steps;
};

TEST(SetupPlanTest, EachStepDoneInTurnOrAFailureAtAnyStepUndone) {
  Case const cases[] = {
      {"install", PlanInstall, Fresh(), kFreshFolder, kInstalled, 4},
      {"upgrade", PlanInstall, Installed(kOlder), kOlderInstalled, kInstalled, 5},
      {"already installed", PlanInstall, Installed(), kInstalled, kInstalled, 1},
      {"uninstall", PlanUninstall, Installed(), kInstalled, kFreshFolder, 3},
  };
  for (Case const& c : cases) {
    SetupPlan plan;
    Printed planned;
    ASSERT_EQ(c.planner(planned.out, c.facts, &PutErrorNumber, plan), kPlanRun) << c.what << planned.Text();
    ASSERT_EQ(plan.count, c.steps) << c.what;

    SimulatedFolder done;
    done.files = c.before;
    Printed printed;
    EXPECT_EQ(RunPlan(printed.out, plan, done.Actions(), false), kSetupDone) << c.what << printed.Text();
    EXPECT_EQ(done.files, c.after) << c.what;

    SimulatedFolder dryRun;
    dryRun.files = c.before;
    EXPECT_EQ(RunPlan(printed.out, plan, dryRun.Actions(), true), kSetupDone);
    EXPECT_EQ(dryRun.calls, 0) << c.what << ": a dry run does nothing";

    for (int failing = 1; failing <= plan.count; ++failing) {
      SimulatedFolder folder;
      folder.files = c.before;
      folder.failingCall = failing;
      Printed failed;
      EXPECT_EQ(RunPlan(failed.out, plan, folder.Actions(), false), kSetupNotDone) << c.what << " step " << failing;
      EXPECT_EQ(folder.files, c.before) << c.what << " step " << failing << "\n" << failed.Text();
      std::string const named = "Step " + std::to_string(failing) + " of " + std::to_string(c.steps);
      EXPECT_NE(failed.Text().find(named), std::string::npos) << failed.Text();
      EXPECT_NE(failed.Text().find("  FAILED: "), std::string::npos) << failed.Text();
    }
  }
}

// Another program puts a Tolvan32.dll in place while it is free, between the
// two renames: the engine cannot get its name back without replacing that
// file. The undo stops there, keeps the engine and lists what is left to do.
TEST(SetupPlanTest, AnUndoThatCannotBeDoneStopsAndNeverReplacesAFile) {
  SetupPlan plan;
  Printed printed;
  ASSERT_EQ(PlanInstall(printed.out, Fresh(), &PutErrorNumber, plan), kPlanRun);
  SimulatedFolder folder;
  folder.files = kFreshFolder;
  folder.beforeStep = [&folder](int step) {
    if (step == 3) folder.files[kModule] = "someone else's";
  };
  EXPECT_EQ(RunPlan(printed.out, plan, folder.Actions(), false), kSetupUndoFailed);
  EXPECT_EQ(folder.files.at(kEngine), "engine");
  EXPECT_EQ(folder.files.at(kModule), "someone else's");
  EXPECT_NE(printed.Text().find("UNDO FAILED: the folder is NOT as it was. Still to be done by hand, in this order:\n"
                                "  rename " + kEngine + " back to " + kModule + "\n"
                                "  delete " + kIncoming + "\n"),
            std::string::npos)
      << printed.Text();
}

TEST(SetupPlanTest, UninstallOfAFolderWithoutTheModuleHasNothingToDo) {
  SetupPlan plan;
  Printed printed;
  EXPECT_EQ(PlanUninstall(printed.out, Fresh(), &PutErrorNumber, plan), kPlanNothingToDo);
  EXPECT_EQ(plan.count, 0);
}

TEST(SetupPlanTest, PathsThatDoNotFitAreNeverCutShort) {
  char path[18];
  EXPECT_TRUE(JoinPath(path, sizeof path, "C:\\H", "Tolvan32.dll"));
  EXPECT_STREQ(path, "C:\\H\\Tolvan32.dll");
  EXPECT_FALSE(JoinPath(path, sizeof path, "C:\\Ho", "Tolvan32.dll"));
  EXPECT_STREQ(path, "");
  EXPECT_TRUE(JoinPath(path, sizeof path, "C:\\", "Tolvan32.dll"));
  EXPECT_STREQ(path, "C:\\Tolvan32.dll");
  EXPECT_TRUE(JoinPath(path, sizeof path, "", "Tolvan32.dll"));
  EXPECT_STREQ(path, "Tolvan32.dll");
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
