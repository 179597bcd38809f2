# Writes the module's export definition from the operation table: every
# operation by its decorated name, ordinal = position in the table + 1.
# Usage: cmake -DINPUT=operations.inc -DOUTPUT=Tolvan32.def -P GenerateExports.cmake
file(READ "${INPUT}" table)
string(REGEX MATCHALL "TOLVAN_OPERATION\\([A-Za-z0-9_]+, \"[^\"]+\"" entries "${table}")
set(text "LIBRARY Tolvan32.dll\nEXPORTS\n")
set(ordinal 0)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^.*\"([^\"]+)\"$" "\\1" name "${entry}")
  math(EXPR ordinal "${ordinal} + 1")
  string(APPEND text "  ${name} @${ordinal}\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
