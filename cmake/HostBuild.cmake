# Host test build: the module's sources compiled natively, with the test
# platform layer standing in for Windows and an in-process stand-in engine.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

option(TOLVAN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TOLVAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(tolvan_host STATIC ${TOLVAN_MODULE_SOURCES} platform/host/platform_host.cpp)
target_include_directories(tolvan_host PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tolvan_host PRIVATE -Wall -Wextra -Werror -fno-sized-deallocation)
target_link_libraries(tolvan_host PUBLIC Threads::Threads)

add_subdirectory(tests)

# Further parts of the host build, each in its own folder.
foreach(part tests/fuzz tests/bench tools)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
