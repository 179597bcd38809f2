# Cross build of the product on Linux: 32-bit Windows, Microsoft C++ ABI,
# clang and lld-link (version 16: older lld-link writes a wrong ordinal base).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOLVAN_LLVM_SUFFIX "-16" CACHE STRING "Suffix of the LLVM tool names")
set(CMAKE_C_COMPILER clang${TOLVAN_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER clang++${TOLVAN_LLVM_SUFFIX})
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_RC_COMPILER llvm-rc${TOLVAN_LLVM_SUFFIX})
set(CMAKE_LINKER lld-link${TOLVAN_LLVM_SUFFIX})
set(CMAKE_AR llvm-ar${TOLVAN_LLVM_SUFFIX})
set(TOLVAN_DLLTOOL llvm-dlltool${TOLVAN_LLVM_SUFFIX})
# The compiler driver would run the unversioned lld-link; point it at the
# directory of the versioned tools instead.
find_program(TOLVAN_LLD_LINK NAMES lld-link${TOLVAN_LLVM_SUFFIX} REQUIRED)
get_filename_component(TOLVAN_LLD_LINK_REAL "${TOLVAN_LLD_LINK}" REALPATH)
get_filename_component(TOLVAN_LLVM_BIN "${TOLVAN_LLD_LINK_REAL}" DIRECTORY)

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No default Windows libraries: the module names each import itself.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
