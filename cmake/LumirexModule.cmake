# Warnings of the library's own code; errors unless LUMIREX_WERROR is off (the
# package and fuzz builds, whose distribution flags and compiler warn of their
# own accord, turn it off).
option(LUMIREX_WERROR "Treat warnings in the library's own code as errors" ON)
set(LUMIREX_WARNINGS -Wall -Wextra -Wpedantic)
if(LUMIREX_WERROR)
  list(APPEND LUMIREX_WARNINGS -Werror)
endif()

# Sources named *_posix.cpp are built for Linux only, *_windows.cpp for
# Windows only: a part's platform code sits behind a small header of its own.
function(lumirex_platform_sources var)
  if(WIN32)
    list(FILTER ${var} EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER ${var} EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

# lumirex_module(NAME DIR [DEPS ...]): a static archive of the sources in DIR.
function(lumirex_module name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  lumirex_platform_sources(sources)
  if(NOT sources)
    # A part with headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(${name} PRIVATE ${LUMIREX_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# lumirex_test(NAME DIR DEPS ...): one GoogleTest program of the tests in DIR.
function(lumirex_test name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} lumirex_testkit GTest::gtest GTest::gmock GTest::gtest_main)
  # Labelled with the program's name, so that `ctest -L` can pick programs.
  # Named Suite.Test/N, not after the parameter's printed bytes, which made
  # every line of ctest's listing hundreds of characters wide; a GTEST_SKIP
  # counts as skipped, and `./dev test` prints its reason.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES NO_PRETTY_TYPES
                       PROPERTIES TIMEOUT 120 LABELS ${name}
                                  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()
