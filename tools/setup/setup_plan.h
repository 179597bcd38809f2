// Installing and removing the module as a short list of steps, each of which
// can be undone. The folder is examined first; the plan is made from what
// was found alone, before anything is touched; the steps then run in order,
// and when one fails the steps already done are undone in reverse order, so
// that the folder is left with the same names and the same bytes as before.
// The system's side (file operations, the check) comes in as SetupActions,
// so that the same code runs against a simulated folder in the tests.
#ifndef TOLVAN_TOOLS_SETUP_SETUP_PLAN_H
#define TOLVAN_TOOLS_SETUP_SETUP_PLAN_H

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/check/engine_check.h"
#include "tools/common/tool_output.h"
#include "tools/setup/folder_record.h"

namespace tolvan {
namespace tools {

// The longest path the system's file functions take (MAX_PATH, with the
// terminating zero).
enum { kSetupPathSize = 260 };

// Exit statuses of install, uninstall and repair.
enum SetupStatus {
  kSetupDone = 0,        // done, or nothing to do
  kSetupNotDone = 1,     // refused, or failed and undone: the folder is as it was (compared)
  kSetupUsage = 2,       // wrong command line
  kSetupUndoFailed = 3,  // the folder is not as it should be: what differs and what to do is listed
};

// Exit statuses of check, one per state of the host's folder.
enum CheckStatus {
  kCheckComplete = 0,        // installed, every entry present
  kCheckEntriesMissing = 1,  // installed, the engine lacks entries (the host fails only in those calls)
  kCheckUsage = 2,
  kCheckNotInstalled = 4,    // the engine still under the module's name
  kCheckInterrupted = 5,     // an install, upgrade or uninstall stopped half-way: repair finishes it
  kCheckBroken = 6,          // neither: what is wrong and what to do is listed
  kCheckNotAHostFolder = 7,  // neither Tolvan32.dll nor Tolvan33.dll: some other folder
};

// The names of the module on its way in and on its way out. The module to
// install is copied in under a name of its own first: the copy is the step
// that takes long and can fail half-way (a full disk, a network share), and
// Tolvan32.dll is then missing only between two renames.
constexpr char kModuleIncomingFileName[] = "Tolvan32.dll.setup-new";
constexpr char kModuleBackupFileName[] = "Tolvan32.dll.setup-old";

// What was found at one path.
struct FileFacts {
  bool present;
  std::string name;         // the file's name as the folder spells it (letter case included)
  uint64_t size;
  uint64_t hash;            // ContentHash of its bytes
  unsigned long readError;  // present, but it cannot be read as a library (the system's error), else 0
  VersionIdentity identity;
  FileVersion version;      // the module's file version
  ImageFacts image;
  bool readOnly;
  unsigned long lockError;  // why it cannot be opened for writing by this program alone, else 0
};

struct FolderFacts {
  std::string folder;
  unsigned long folderError;  // why the folder cannot be used (kNotAFolder: it is a file), else 0
  FileFacts module;           // FOLDER\Tolvan32.dll, the engine before installation
  FileFacts engine;           // FOLDER\Tolvan33.dll
  FileFacts incoming;         // FOLDER\Tolvan32.dll.setup-new
  FileFacts backup;           // FOLDER\Tolvan32.dll.setup-old
  bool valueTypesFound;       // Ravix32.dll, where the host's library search finds it
  std::string source;         // install: the module to install
  FileFacts sourceFacts;
};
unsigned long const kNotAFolder = 0xffffffffu;

enum StepKind { kStepRename, kStepCopy, kStepDelete, kStepCheck };

struct SetupStep {
  StepKind kind;
  std::string from;  // delete: the file; check: the engine
  std::string to;
};

struct SetupPlan {
  std::vector<SetupStep> steps;
};

// `folder` and `name` joined by a backslash unless the folder ends in one;
// nothing when the result is `size` characters or longer, which the system
// would not take (never cut short: that could name another file).
std::optional<std::string> JoinPath(std::string_view folder, std::string_view name, size_t size = kSetupPathSize);

enum PlanOutcome { kPlanRun, kPlanNothingToDo, kPlanRefused };

// Decide from the facts alone, print what was found and, when refusing,
// which file is in the way and why. `putError` prints a system error's text.
// `allowMissing`: an engine that lacks some of the entries is taken.
typedef std::function<void(Output& out, unsigned long error)> PutSystemError;
PlanOutcome PlanInstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan,
                        bool allowMissing = false);
PlanOutcome PlanUninstall(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan,
                          bool allowMissing = false);
// Finishes, or where that is impossible rolls back, what an interrupted run left.
PlanOutcome PlanRepair(Output& out, FolderFacts const& facts, PutSystemError const& putError, SetupPlan& plan);

// The system's side. The file operations return 0 or the system's error;
// none of them ever replaces an existing file.
struct SetupActions {
  std::function<unsigned long(std::string const& from, std::string const& to)> rename;
  std::function<unsigned long(std::string const& from, std::string const& to)> copy;
  std::function<unsigned long(std::string const& path)> remove;
  std::function<bool(Output& out, std::string const& enginePath)> check;  // prints the report; true when complete
  // The folder's files as they are now (SnapshotOf the facts gathered again).
  std::function<Snapshot()> snapshot;
  PutSystemError putError;
  // Around each step (for the tests' obstructions); may be empty.
  std::function<void(int number, SetupStep const& step)> beforeStep;
  std::function<void(int number, SetupStep const& step)> afterStep;
};

// Runs the steps (or, with `dryRun`, only lists them); undoes them in
// reverse order after a failure. Then compares the folder with what the
// steps, or the undo, should have left (`facts` is the folder before).
// Returns a SetupStatus.
int RunPlan(Output& out, FolderFacts const& facts, SetupPlan const& plan, SetupActions const& actions, bool dryRun);

}  // namespace tools
}  // namespace tolvan

#endif
