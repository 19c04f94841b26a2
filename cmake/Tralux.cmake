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

# tralux_test(NAME <name> SOURCES ... LIBS ... [LABELS ...]): one GoogleTest executable.
function(tralux_test)
  cmake_parse_arguments(A "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_link_libraries(${A_NAME} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock tralux_warnings)
  target_include_directories(${A_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${A_NAME} PRIVATE
    TRALUX_TESTDATA_DIR="${TRALUX_TESTDATA_DIR}"
    TRALUX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${A_NAME} COMMAND ${A_NAME})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  set_tests_properties(${A_NAME} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}")
endfunction()

# The media module's folder, relative to the prefix (and to the build tree): a private folder
# in the multiarch library folder, Debian's place for a program's own plugins.
include(GNUInstallDirs)
set(TRALUX_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/tralux)
if(CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND CMAKE_LIBRARY_ARCHITECTURE)
  set(TRALUX_MODULE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/tralux)
endif()
