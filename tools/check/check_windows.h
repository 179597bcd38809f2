// The Windows side of the engine check, used by the verbs of tolvan32-setup.
#ifndef TOLVAN_TOOLS_CHECK_CHECK_WINDOWS_H
#define TOLVAN_TOOLS_CHECK_CHECK_WINDOWS_H

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "tools/check/engine_check.h"
#include "tools/common/tool_output.h"
#include "tools/setup/setup_plan.h"

namespace tolvan {
namespace tools {

// Loads the engine at `enginePath`, then Ravix32.dll and Tolvan32.dll as a
// host in the engine's folder finds them, prints the report and gives the
// libraries back.
enum LibraryCheck { kLibrariesComplete, kEngineEntriesMissing, kLibrariesFailing };
int RunCheck(Output& out, std::string const& enginePath, bool listAll);

// Where a host program in `hostFolder` finds the library `name`: that
// folder, the system's folders, the Windows folder, PATH. Empty: nowhere.
std::string FindAsHost(std::string const& hostFolder, char const* name);

// The full path of a file or folder (relative to the current folder).
std::string FullPath(std::string const& path);

// What a loaded library's version resource says (the library may be loaded
// as a data file); its file version too when `version` is not null (zero
// when it has none).
VersionIdentity IdentifyLibrary(HMODULE library, FileVersion* version);

// The full path of a loaded library, or of this program (null); empty when
// the system does not give it.
std::string ModuleFileName(HMODULE module);

// The system's text for an error code, then "(error N)".
void PutSystemErrorText(Output& out, unsigned long error);

// Whether a path names a folder, so that the system does not search for it.
bool HasDirectory(std::string_view path);

}  // namespace tools
}  // namespace tolvan

#endif
