# A check of the build with Microsoft's compiler driver conventions, made on
# Linux with clang-cl: the same flags and link steps as cl.exe and link.exe
# take, so that the MSVC branch of the build stays honest where no Microsoft
# compiler is at hand.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER lld-link-16)
set(CMAKE_AR llvm-lib-16)
set(CMAKE_RC_COMPILER llvm-rc-16)
set(CMAKE_MT llvm-mt-16)
set(TOLVAN_DLLTOOL llvm-dlltool-16)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
