# Writes the export definition of a stand-in engine: every operation's
# decorated name, each leading to StandInEntry, except the one named OMIT.
# Usage: cmake -DINPUT=operations.inc -DOUTPUT=x.def [-DOMIT=name] -P GenerateStandInExports.cmake
file(READ "${INPUT}" table)
string(REGEX MATCHALL "TOLVAN_OPERATION\\([A-Za-z0-9_]+, \"[^\"]+\"" entries "${table}")
set(text "LIBRARY Tolvan33.dll\nEXPORTS\n")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^.*\"([^\"]+)\"$" "\\1" name "${entry}")
  if(NOT name STREQUAL "${OMIT}")
    string(APPEND text "  ${name}=StandInEntry\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}" "${text}")
