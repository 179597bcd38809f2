# Writes the stand-in engine's export definition from the module's operation
# table: every operation under its decorated name (ordinal = position + 1),
# minus those named in OMIT (separated by "|"), plus the control entry of the
# tests.
# Constructors and destructors are exported from entries that first note the
# object's first word, SetRelPosition from one that takes its double as its
# eight bytes (engine/standin_engine.cpp).
# Usage: cmake -DINPUT=operations.inc -DOUTPUT=Tolvan33.def [-DOMIT=name] -P engine_exports.cmake
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
set(entries
  "??0CDataDictionary@@QAE@PBD000@Z=e2e_construct_dictionary"
  "??1CDataDictionary@@UAE@XZ=e2e_destroy_dictionary"
  "??0CKeyObj@@QAE@PAVCIndex@@HH@Z=e2e_construct_key"
  "??1CKeyObj@@UAE@XZ=e2e_destroy_key"
  "??0CRecAddr@@QAE@ABV0@@Z=e2e_copy_recaddr"
  "??0CRecAddr@@QAE@PBV0@@Z=e2e_construct_recaddr"
  "??1CRecAddr@@UAE@XZ=e2e_destroy_recaddr"
  "??0CStoreObj@@QAE@PAVCTable@@PAVCIndex@@@Z=e2e_construct_store"
  "??1CStoreObj@@UAE@XZ=e2e_destroy_store"
  "?SetRelPosition@CStoreObj@@QAEHNH@Z=e2e_set_rel_position")

file(READ "${INPUT}" table)
string(REGEX MATCHALL "TOLVAN_OPERATION\\([A-Za-z0-9_]+, \"[^\"]+\"" operations "${table}")
set(text "LIBRARY Tolvan33.dll\nEXPORTS\n")
set(ordinal 0)
set(omitted 0)
set(omit)
if(DEFINED OMIT)
  string(REPLACE "|" ";" omit "${OMIT}")
endif()
list(LENGTH omit omitting)
foreach(operation IN LISTS operations)
  string(REGEX REPLACE "^.*\"([^\"]+)\"$" "\\1" name "${operation}")
  math(EXPR ordinal "${ordinal} + 1")
  if(name IN_LIST omit)
    math(EXPR omitted "${omitted} + 1")
    continue()
  endif()
  set(export "${name}")
  foreach(entry IN LISTS entries)
    string(FIND "${entry}" "${name}=" at)
    if(at EQUAL 0)
      set(export "${entry}")
    endif()
  endforeach()
  string(APPEND text "  ${export} @${ordinal}\n")
endforeach()
if(NOT ordinal EQUAL 104)
  message(FATAL_ERROR "expected 104 operations in ${INPUT}, found ${ordinal}")
endif()
if(NOT omitted EQUAL omitting)
  message(FATAL_ERROR "not every name of ${OMIT} is an operation")
endif()
string(APPEND text "  E2E_EngineControl\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
