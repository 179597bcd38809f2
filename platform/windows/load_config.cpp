// The image's load configuration, which carries its table of safe exception
// handlers: a process that enforces SafeSEH dispatches an exception through a
// frame of this image only to a handler named there. There is no C run-time
// start-up library to bring one, so the image defines its own. The linker
// fills the two table symbols (an image that registers no handler has an
// empty table).
//
// The layout is the 32-bit one up to the handler table. Windows XP reads the
// structure only when the directory entry gives its size as 64 bytes; the
// build writes that size into the entry (link.exe does so by itself), and
// the structure's own size field tells later versions where it ends.
#include <stddef.h>

extern "C" {

extern void const* __safe_se_handler_table[];
extern unsigned char __safe_se_handler_count;  // its address is the count

struct LoadConfiguration32 {
  unsigned long size;
  unsigned long timeDateStamp;
  unsigned short majorVersion;
  unsigned short minorVersion;
  unsigned long globalFlagsClear;
  unsigned long globalFlagsSet;
  unsigned long criticalSectionDefaultTimeout;
  unsigned long deCommitFreeBlockThreshold;
  unsigned long deCommitTotalFreeThreshold;
  unsigned long lockPrefixTable;
  unsigned long maximumAllocationSize;
  unsigned long virtualMemoryThreshold;
  unsigned long processHeapFlags;
  unsigned long processAffinityMask;
  unsigned short csdVersion;
  unsigned short dependentLoadFlags;
  unsigned long editList;
  unsigned long securityCookie;
  void const* const* handlerTable;
  void const* handlerCount;
};

static_assert(offsetof(LoadConfiguration32, handlerTable) == 64, "handler table after the first 64 bytes");
static_assert(sizeof(LoadConfiguration32) == 72, "load configuration up to the handler count");

// The linker finds the structure by this name.
extern LoadConfiguration32 const _load_config_used = {
    sizeof(LoadConfiguration32), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    __safe_se_handler_table, &__safe_se_handler_count,
};

}  // extern "C"
