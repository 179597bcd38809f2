// The one function behind every export of the stand-in libraries. The
// engine check only looks entries up; it never calls them.
extern "C" int __cdecl StandInEntry(void) { return 0; }
