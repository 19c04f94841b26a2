# Common flags and helpers for every folder.
add_library(tralux_warnings INTERFACE)
target_compile_options(tralux_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wno-unused-parameter $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict> $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)

if(TRALUX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
option(TRALUX_TSAN "Build with ThreadSanitizer" OFF)
if(TRALUX_TSAN)
  if(TRALUX_SANITIZE)
    message(FATAL_ERROR "TRALUX_TSAN and TRALUX_SANITIZE exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TRALUX_FUZZ)
  # Instrument the libraries so the fuzzer sees their coverage.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# tralux_library(NAME <target> [SOURCES_GLOB_RECURSE] DEPS ...):
# one static library per folder, sources found by glob so new files join without edits.
function(tralux_library)
  cmake_parse_arguments(A "RECURSE" "NAME" "DEPS" ${ARGN})
  if(A_RECURSE)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  endif()
  add_library(${A_NAME} STATIC ${srcs})
  target_include_directories(${A_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${A_NAME} PUBLIC ${A_DEPS} PRIVATE tralux_warnings)
endfunction()

# tralux_test_code(<target>): how a test program's own sources (those under tests/) compile.
# What the tests check is the libraries' and programs' code, built as configured; the test code
# itself (gtest's expanded macros above all) builds at -O1 in optimised builds, which takes a
# third less time than -O3. Under ASan+UBSan it builds at -O0 even where the flags ask for more
# (half the compile time; the code under test keeps its -O1, its callers are still
# instrumented). Not under ThreadSanitizer: there -O0 saves little compile time and the tests'
# own loops, no longer inlined, run several times slower.
# With clang (the sanitizer builds) the test code shares one precompiled header; not with GCC 12,
# which then reports its own standard library's false positives (-Warray-bounds,
# -Wstringop-overflow) in the test files.
# Tests whose own loops (sample-by-sample comparisons) dominate their run keep the flags' -O1.
set(TRALUX_TEST_CODE_OPT $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-O1>)
set(TRALUX_TEST_KEEP_O1 mp3dec_conformance mp3enc_stereo_intensity_test)
set(TRALUX_TEST_SANITIZE_OPT $<$<CONFIG:Debug>:-O0>)

# The shared precompiled header: gtest and the standard headers most test files include. A PCH
# only fits code built with its flags, so the tests that keep -O1 and those linking Qt (compiled
# position-independent) go without.
if(TRALUX_TESTS AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(TRALUX_TEST_PCH ON)
endif()
function(tralux_test_pch_owner)
  find_package(GTest REQUIRED)
  file(WRITE ${CMAKE_BINARY_DIR}/tralux_test_pch.cpp "")
  add_library(tralux_test_pch OBJECT ${CMAKE_BINARY_DIR}/tralux_test_pch.cpp)
  target_link_libraries(tralux_test_pch PRIVATE GTest::gtest GTest::gmock tralux_warnings)
  target_include_directories(tralux_test_pch PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(tralux_test_pch PRIVATE ${TRALUX_TEST_CODE_OPT})
  if(TRALUX_SANITIZE)
    target_compile_options(tralux_test_pch PRIVATE ${TRALUX_TEST_SANITIZE_OPT})
  endif()
  target_precompile_headers(tralux_test_pch PRIVATE
    <gtest/gtest.h> <algorithm> <atomic> <chrono> <cmath> <cstdint> <cstdio> <cstdlib> <cstring>
    <filesystem> <fstream> <functional> <map> <memory> <random> <string> <thread> <vector>)
endfunction()

# Whether any of the libraries links Qt, directly or through others.
function(tralux_links_qt out)
  set(todo ${ARGN})
  set(seen)
  while(todo)
    list(POP_FRONT todo lib)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
    if(lib MATCHES "^Qt6?::")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(NOT TARGET ${lib} OR lib IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${lib})
    get_target_property(deps ${lib} INTERFACE_LINK_LIBRARIES)
    if(deps)
      list(APPEND todo ${deps})
    endif()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

function(tralux_test_code target)
  set(opt ${TRALUX_TEST_CODE_OPT})
  if(TRALUX_SANITIZE AND NOT target IN_LIST TRALUX_TEST_KEEP_O1)
    list(APPEND opt ${TRALUX_TEST_SANITIZE_OPT})
  endif()
  get_target_property(srcs ${target} SOURCES)
  set(own)
  foreach(src IN LISTS srcs)
    get_filename_component(abs ${src} ABSOLUTE)
    # Library sources built into a test (another variant of them) stay as configured.
    if(abs MATCHES "^${CMAKE_SOURCE_DIR}/tests/")
      list(APPEND own ${src})
    endif()
  endforeach()
  if(own)
    set_source_files_properties(${own} PROPERTIES COMPILE_OPTIONS "${opt}")
  endif()
  if(TRALUX_TEST_PCH AND own AND NOT (TRALUX_SANITIZE AND target IN_LIST TRALUX_TEST_KEEP_O1))
    # Once the folder is read: only then are all of the target's libraries known.
    set(others ${srcs})
    list(REMOVE_ITEM others ${own})
    # (EVAL: a deferred call's arguments would be read at call time, out of this scope)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL tralux_test_pch_use [[${target}]] [[${others}]])")
  endif()
endfunction()

function(tralux_test_pch_use target)
  set(others ${ARGN})
  get_target_property(libs ${target} LINK_LIBRARIES)
  tralux_links_qt(qt ${libs})
  if(qt)
    return()
  endif()
  if(NOT TARGET tralux_test_pch)
    tralux_test_pch_owner()
  endif()
  target_precompile_headers(${target} REUSE_FROM tralux_test_pch)
  # Library sources built into the test keep their own flags, which the PCH does not fit.
  if(others)
    set_source_files_properties(${others} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()
endfunction()

# tralux_test(NAME <name> SOURCES ... LIBS ... [LABELS ...]): one GoogleTest executable.
function(tralux_test)
  cmake_parse_arguments(A "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_link_libraries(${A_NAME} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock tralux_warnings)
  target_include_directories(${A_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${A_NAME} PRIVATE
    TRALUX_TESTDATA_DIR="${TRALUX_TESTDATA_DIR}"
    TRALUX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  tralux_test_code(${A_NAME})
  add_test(NAME ${A_NAME} COMMAND ${A_NAME})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  set_tests_properties(${A_NAME} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}")
  if(DEFINED TRALUX_TEST_COST_${A_NAME})
    set_tests_properties(${A_NAME} PROPERTIES COST ${TRALUX_TEST_COST_${A_NAME}})
  endif()
  if(TRALUX_TSAN AND DEFINED TRALUX_TSAN_SKIP_${A_NAME})
    set_tests_properties(${A_NAME} PROPERTIES ENVIRONMENT "GTEST_FILTER=-${TRALUX_TSAN_SKIP_${A_NAME}}")
  endif()
endfunction()

# The longest runs (seconds under the slowest sanitizer) start first: on a fresh build tree ctest
# has no timings yet and would otherwise start them last, leaving one core idle at the end.
set(TRALUX_TEST_COST_engine_dsp_resampler_test 90)
set(TRALUX_TEST_COST_mp3dec_conformance 36)
set(TRALUX_TEST_COST_app_window_test 25)
set(TRALUX_TEST_COST_mp3dec_crosscheck 23)
set(TRALUX_TEST_COST_cd_test 21)
set(TRALUX_TEST_COST_cli_mp3_test 17)
set(TRALUX_TEST_COST_engine_job_paths_test 16)
set(TRALUX_TEST_COST_mp3enc_encoder_streams_test 16)

# Cases ThreadSanitizer has nothing to check in (one thread, no locks) but that take most of a
# threaded test's time under it; they still run in the other builds. gtest filter syntax.
set(TRALUX_TSAN_SKIP_engine_dsp_resampler_test
  "Resampler.OutputLengthAfterFlushForEveryRatePair:Resampler.EveryRatePairFiltersAboveAndKeepsBelowTheOutputsNyquist:Resampler.DownConversionAliasesStayBelowMinus50Dbfs")

# The media module's folder, relative to the prefix (and to the build tree): a private folder
# in the multiarch library folder, Debian's place for a program's own plugins.
include(GNUInstallDirs)
set(TRALUX_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/tralux)
if(CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND CMAKE_LIBRARY_ARCHITECTURE)
  set(TRALUX_MODULE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/tralux)
endif()
