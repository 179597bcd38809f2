// Which state a host's folder is in, judged by each file's identity and
// version: not installed, installed, left half-way by an interrupted
// install, upgrade or uninstall (with the steps that finish it), or broken
// (with what to do by hand). And the proof of what a run did: the folder's
// records compared with those the steps should have left.
#ifndef TOLVAN_TOOLS_SETUP_FOLDER_STATE_H
#define TOLVAN_TOOLS_SETUP_FOLDER_STATE_H

#include <string>

#include "tools/setup/setup_plan.h"

namespace tolvan {
namespace tools {

// The folder's paths, each file under the name the folder spells it with,
// so that a file renamed back gets its letter case back.
struct FolderPaths {
  explicit FolderPaths(FolderFacts const& facts);
  std::string module;
  std::string engine;
  std::string incoming;
  std::string backup;
  std::string valueTypes;
};

enum FolderState { kStateNotInstalled, kStateInstalled, kStateInterrupted, kStateBroken, kStateNotAHostFolder };

struct Diagnosis {
  FolderState state;
  std::string file;        // the file that shows it (named in refusals)
  std::string finding;     // what was found
  unsigned long error;     // the system's reason the file cannot be read, else 0
  std::string remedy;      // broken, not a host folder: what to do by hand
  SetupPlan repair;        // interrupted: the steps that put it right
};

Diagnosis Diagnose(FolderFacts const& facts);

// "FILE: FINDING[: the system's reason]"
void PutFinding(Output& out, Diagnosis const& diagnosis, PutSystemError const& putError);

// What check says of a folder, and its CheckStatus. `checkLibraries` loads
// the libraries as the host would and prints their report (installed
// folders only): a CheckStatus of kCheckComplete, kCheckEntriesMissing or
// kCheckBroken.
int CheckFolderState(Output& out, FolderFacts const& facts, PutSystemError const& putError,
                     std::function<int(Output&)> const& checkLibraries);

// The records of the folder's files, as gathered.
Snapshot SnapshotOf(FolderFacts const& facts);
// What the steps leave, from the records before them.
Snapshot ExpectedAfter(Snapshot before, SetupPlan const& plan, FileFacts const& source);
// Prints each difference, after `header`; true when there is one.
bool PutDifferences(Output& out, char const* header, Snapshot const& expected, Snapshot const& found);

}  // namespace tools
}  // namespace tolvan

#endif
