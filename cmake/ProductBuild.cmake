# The product: Tolvan32.dll, PE32 for i386 in the Microsoft C++ ABI, bound to
# the system msvcrt.dll (the heap it shares with the host) and to nothing
# else but kernel32, user32 and the value-types library.
if(NOT DEFINED TOLVAN_DLLTOOL)
  find_program(TOLVAN_DLLTOOL NAMES llvm-dlltool)
endif()

set(TOLVAN_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${TOLVAN_GENERATED})

# Import libraries made from small definition files, so that only the
# entries named there can be imported. With Microsoft's own tools (no
# llvm-dlltool), the system libraries come from the Windows SDK and the two
# others are made by lib.exe.
set(TOLVAN_IMPORT_LIBRARIES)
if(TOLVAN_DLLTOOL)
  set(TOLVAN_DEF_IMPORTS kernel32 user32 msvcrt Ravix32)
else()
  set(TOLVAN_DEF_IMPORTS msvcrt Ravix32)
  list(APPEND TOLVAN_IMPORT_LIBRARIES kernel32.lib user32.lib)
endif()
include(${CMAKE_SOURCE_DIR}/cmake/ImportLibraries.cmake)
foreach(library ${TOLVAN_DEF_IMPORTS})
  set(lib ${TOLVAN_GENERATED}/${library}.lib)
  tolvan_import_library(${CMAKE_SOURCE_DIR}/platform/windows/imports/${library}.def ${lib})
  list(APPEND TOLVAN_IMPORT_LIBRARIES ${lib})
endforeach()
add_custom_target(tolvan_import_libraries DEPENDS ${TOLVAN_IMPORT_LIBRARIES})

# The export table comes from the operation table itself.
set(TOLVAN_EXPORTS_DEF ${TOLVAN_GENERATED}/Tolvan32.def)
add_custom_command(OUTPUT ${TOLVAN_EXPORTS_DEF}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/core/operations.inc -DOUTPUT=${TOLVAN_EXPORTS_DEF}
          -P ${CMAKE_SOURCE_DIR}/cmake/GenerateExports.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/core/operations.inc ${CMAKE_SOURCE_DIR}/cmake/GenerateExports.cmake VERBATIM)

# Every image made here runs on every 32-bit Windows from XP SP3 on: operating
# system and subsystem version 5.01, imports only what XP's system libraries
# export (checked against tests/product/allowed-imports.txt), and a table of
# safe exception handlers. No C++ exception tables: their handler is missing
# from XP's msvcrt.dll. Where the module must act while an engine exception
# passes, it uses structured exception handling (platform/unwind.h).
find_program(TOLVAN_PYTHON NAMES python3 REQUIRED)
function(tolvan_windows_image target subsystem)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/windows/load_config.cpp)
  if(MSVC)
    string(TOUPPER ${subsystem} subsystem)
    target_link_options(${target} PRIVATE /SUBSYSTEM:${subsystem},5.01 /SAFESEH)
  else()
    # -Xlinker, as -Wl would split the version at its comma.
    target_link_options(${target} PRIVATE "SHELL:-Xlinker /subsystem:${subsystem},5.01" -Wl,/safeseh)
  endif()
  # lld-link sizes the load configuration's directory entry by the structure;
  # Windows XP reads it only when the entry says 64 bytes, as link.exe writes.
  if(CMAKE_LINKER MATCHES "lld")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${TOLVAN_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/LoadConfigDirectory.py $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

# Symbols: a PDB beside the module, which a debugger finds by the GUID and
# age in the module's debug directory. The image names it by its file name
# alone (%_PDB%), not by the build folder. The objects' CodeView holds paths
# relative to the checkout and no compiler command line, and the linker roots
# them at one fixed folder, so that two builds of one commit in two build
# folders give the same module and the same PDB (not from checkouts at two
# paths: clang hashes the source's full path into the names of anonymous
# namespaces, prefix maps or not). /DEBUG alone would stop the linker
# dropping unreferenced and folding identical code: /OPT:REF and /OPT:ICF
# keep the code what it is without symbols.
set(TOLVAN_SYMBOLS_SOURCE_ROOT "C:/src/Tolvan32")
if(MSVC)
  # cl.exe (or clang-cl): no RTTI, no C++ exception tables, and nothing that
  # needs the C runtime's static start-up library: no security cookies, no
  # thread-safe statics, and the plain operator delete that msvcrt.dll exports.
  set(TOLVAN_PRODUCT_COMPILE_OPTIONS /GR- /EHs-c- /GS- /Zc:sizedDealloc- /Zc:threadSafeInit- /W4)
  # /Brepro: a hash of the contents in place of the build time, so that two
  # builds of one commit are the same bytes.
  set(TOLVAN_PRODUCT_LINK_OPTIONS /NODEFAULTLIB /ENTRY:DllMain /MANIFEST:NO /Brepro)
  list(APPEND TOLVAN_PRODUCT_COMPILE_OPTIONS /Z7)
  list(APPEND TOLVAN_PRODUCT_LINK_OPTIONS /DEBUG /PDBALTPATH:%_PDB% /OPT:REF /OPT:ICF)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang-cl before 16 has no switch to leave the command line out of the
    # objects.
    list(APPEND TOLVAN_PRODUCT_COMPILE_OPTIONS -ffile-compilation-dir=. /clang:-fdebug-prefix-map=${CMAKE_SOURCE_DIR}=.)
    if(CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 16)
      list(APPEND TOLVAN_PRODUCT_COMPILE_OPTIONS /clang:-gno-codeview-command-line)
    endif()
  endif()
  if(CMAKE_LINKER MATCHES "lld")
    list(APPEND TOLVAN_PRODUCT_LINK_OPTIONS /PDBSOURCEPATH:${TOLVAN_SYMBOLS_SOURCE_ROOT})
  endif()
else()
  set(TOLVAN_PRODUCT_COMPILE_OPTIONS
    -fno-rtti -fno-sized-deallocation -fno-threadsafe-statics -fno-exceptions
    -Wall -Wextra -Werror)
  # The compiler driver would run the unversioned lld-link; -B points it at
  # the directory of the versioned tools.
  set(TOLVAN_PRODUCT_LINK_OPTIONS
    -fuse-ld=lld -B${TOLVAN_LLVM_BIN} -nostdlib -Wl,/nodefaultlib -Wl,/entry:DllMain@12 -Wl,/Brepro)
  list(APPEND TOLVAN_PRODUCT_COMPILE_OPTIONS -g -gcodeview -gno-codeview-command-line
    -ffile-compilation-dir=. -fdebug-prefix-map=${CMAKE_SOURCE_DIR}=.)
  list(APPEND TOLVAN_PRODUCT_LINK_OPTIONS -Wl,/debug -Wl,/pdbaltpath:%_PDB% -Wl,/opt:ref -Wl,/opt:icf
    -Wl,/pdbsourcepath:${TOLVAN_SYMBOLS_SOURCE_ROOT})
endif()

# CMake asks for an embedded manifest; the module has none. It names the PDB
# by its full path, which the linker writes into the PDB: name it relative to
# the build folder instead.
string(REPLACE "/MANIFEST:EMBED" "/MANIFEST:NO" CMAKE_CXX_CREATE_SHARED_LIBRARY "${CMAKE_CXX_CREATE_SHARED_LIBRARY}")
string(REPLACE "/pdb:<TARGET_PDB>" "/pdb:<TARGET_BASE>.pdb" CMAKE_CXX_CREATE_SHARED_LIBRARY "${CMAKE_CXX_CREATE_SHARED_LIBRARY}")
# The module, and the copies of it that the end-to-end tests build.
function(tolvan_module_library target)
  add_library(${target} SHARED
    ${TOLVAN_MODULE_SOURCES}
    ${CMAKE_SOURCE_DIR}/platform/windows/platform_windows.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/dll_main.cpp
    ${CMAKE_SOURCE_DIR}/resources/version.rc
    ${TOLVAN_EXPORTS_DEF})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME Tolvan32)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TOLVAN_PRODUCT_COMPILE_OPTIONS}>)
  add_dependencies(${target} tolvan_import_libraries)
  target_link_options(${target} PRIVATE ${TOLVAN_PRODUCT_LINK_OPTIONS})
  target_link_libraries(${target} PRIVATE ${TOLVAN_IMPORT_LIBRARIES})
  tolvan_windows_image(${target} windows)
endfunction()
list(TRANSFORM TOLVAN_MODULE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
tolvan_module_library(Tolvan32)
# The module's cold code, optimised for size: what runs only while tracing,
# reporting or loading. The facades, whose untraced path is a host's every
# call, keep the build type's optimisation.
set(TOLVAN_COLD_SOURCES
    ${CMAKE_SOURCE_DIR}/core/trace_log.cpp ${CMAKE_SOURCE_DIR}/core/trace_time.cpp
    ${CMAKE_SOURCE_DIR}/core/flight_recorder.cpp
    ${CMAKE_SOURCE_DIR}/core/error_reporter.cpp ${CMAKE_SOURCE_DIR}/core/module_state.cpp
    ${CMAKE_SOURCE_DIR}/core/version_info.cpp ${CMAKE_SOURCE_DIR}/core/version_resource.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/platform_windows.cpp)
# /O1 is the size optimisation of Microsoft's driver conventions.
if(MSVC)
  set_source_files_properties(${TOLVAN_COLD_SOURCES} PROPERTIES COMPILE_OPTIONS /O1)
else()
  set_source_files_properties(${TOLVAN_COLD_SOURCES} PROPERTIES COMPILE_OPTIONS -Os)
endif()



# Programs built beside the product with the same toolchain.
foreach(part tests/e2e tools)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
