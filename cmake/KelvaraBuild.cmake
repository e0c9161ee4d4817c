# Common compile settings and helpers for tests, fuzzers and benchmarks.

add_compile_options(-Wall -Wextra)

# Link with mold when it is installed: with debug info, linking the many test
# binaries with the default linker was a large part of a fresh build, and mold
# links them several times faster. GCC 12 and clang both accept -fuse-ld=mold.
option(KELVARA_MOLD "Link with mold when it is installed" ON)
if(KELVARA_MOLD)
  find_program(KELVARA_MOLD_PROGRAM mold)
  if(KELVARA_MOLD_PROGRAM)
    include(CheckLinkerFlag)
    check_linker_flag(CXX -fuse-ld=mold KELVARA_HAVE_MOLD)
    if(KELVARA_HAVE_MOLD)
      add_link_options(-fuse-ld=mold)
    endif()
  endif()
endif()

# Code that must know it runs under a sanitizer runtime (the .xls reader's
# seccomp filter allows the calls those runtimes make) sees
# KELVARA_SANITIZER_BUILD; nothing else changes with it.
if(KELVARA_FUZZ OR NOT KELVARA_SANITIZE STREQUAL "")
  add_compile_definitions(KELVARA_SANITIZER_BUILD)
endif()

if(KELVARA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVARA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KELVARA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KELVARA_SANITIZE must be address, thread or empty")
endif()

if(KELVARA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELVARA_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Everything gets coverage instrumentation; only fuzz targets link the fuzzer main.
  # The unit tests are built here too and run under ASan+UBSan (`make test-asan`):
  # one sanitizer build serves both.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Precompiled headers for the test binaries: GoogleTest (and Qt Widgets for QT
# tests) are parsed once per build instead of once per test source, which is what
# a fresh build (CI) spends most on. Only with GCC and without a compiler launcher:
# clang rejects a header precompiled under other macro definitions, and ccache
# does not cache sources that use one, so a ccache build is faster without.
option(KELVARA_PCH "Precompile the test framework headers (GCC, no ccache)" ON)
set(KELVARA_USE_PCH OFF)
if(KELVARA_PCH AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(KELVARA_USE_PCH ON)
endif()

# The tests' own sources are compiled without optimisation in every build type:
# their code runs once and needs none, and optimising what the test macros expand
# to was half of a fresh build. The code under test keeps the build's flags.
# -pthread on every test (some libraries' flags bring it) keeps the macros the
# same for all of them, so the precompiled headers fit each one.
set(KELVARA_TEST_COMPILE_OPTIONS -O0 -pthread)

option(KELVARA_UNITY "Compile each test binary's sources as one unit" ON)

# Tests that wait on the network or on threads scale their time-outs by
# KELVARA_TEST_TIME_SCALE (set for every test below): sanitizer builds run each
# step several times slower, so their waits and the SDK's time-outs grow with it.
if(KELVARA_SANITIZE STREQUAL "thread")
  set(_kelvara_time_scale 4)
elseif(KELVARA_FUZZ OR KELVARA_SANITIZE STREQUAL "address")
  set(_kelvara_time_scale 3)
else()
  set(_kelvara_time_scale 1)
endif()
set(KELVARA_TEST_TIME_SCALE ${_kelvara_time_scale} CACHE STRING "Factor for the tests' time-outs (sanitizer builds run slower)")

# kelvara_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [QT] [LABELS <labels...>]
#                  [TIMEOUT <seconds>])
# One GoogleTest executable registered with CTest. Its main (tests/support) points
# KELVARA_HOME at a fresh temporary folder, so no test touches the user's files.
# QT tests get a QApplication on the offscreen platform. Labels: "unit" is added
# unless "lan" (needs the test LAN, run as root) is given; "tsan" adds the test to
# the ThreadSanitizer run. Each label has a target that builds its tests only
# (kelvara_tests_unit, kelvara_tests_tsan, kelvara_tests_lan; see the end of the
# top-level CMakeLists.txt), so a sanitizer build compiles just what it runs.
function(kelvara_add_test)
  cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_QT AND NOT KELVARA_GUI)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  # The sources of one test binary compile as one unit (KELVARA_UNITY): the test
  # framework's templates are instantiated once per binary instead of once per
  # file. Names at file scope (anonymous namespaces, statics) must therefore be
  # unique within a binary's sources.
  if(KELVARA_UNITY)
    set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  endif()
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE kelvara_qt_test_main Qt6::Test)
  else()
    target_link_libraries(${T_NAME} PRIVATE kelvara_test_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  target_compile_options(${T_NAME} PRIVATE ${KELVARA_TEST_COMPILE_OPTIONS})
  if(KELVARA_USE_PCH)
    if(T_QT)
      target_precompile_headers(${T_NAME} REUSE_FROM kelvara_qt_test_pch)
    else()
      target_precompile_headers(${T_NAME} REUSE_FROM kelvara_test_pch)
    endif()
  endif()
  set(labels ${T_LABELS})
  if(NOT "lan" IN_LIST labels)
    list(APPEND labels unit)
  endif()
  foreach(label IN LISTS labels)
    set_property(GLOBAL APPEND PROPERTY KELVARA_TESTS_${label} ${T_NAME})
  endforeach()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KELVARA_TEST_TIME_SCALE=${KELVARA_TEST_TIME_SCALE};KELVARA_SOURCE_DIR=${CMAKE_SOURCE_DIR};KELVARA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()

# kelvara_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <targets...>] [CORPUS <dir>])
# A libFuzzer target, built only with KELVARA_FUZZ. `make fuzz` runs them side by side
# for a bounded total time (scripts/run-fuzzers.sh); target kelvara_fuzzers builds them all.
function(kelvara_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT KELVARA_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY KELVARA_FUZZERS ${F_NAME})
  if(F_CORPUS)
    set_property(GLOBAL APPEND PROPERTY KELVARA_FUZZ_CORPORA "${F_NAME}=${F_CORPUS}")
  endif()
endfunction()

# kelvara_add_benchmark(NAME <name> SOURCES <files...> [LIBS <targets...>])
# A Google Benchmark executable; never run by ctest. `make bench` runs them all.
# It links kelvara_bench (kelvara_test/bench.h: report lines, skips, temporary
# folders, RunBenchmarks for a main of its own).
function(kelvara_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT KELVARA_BENCH OR NOT KELVARA_SANITIZE STREQUAL "" OR KELVARA_FUZZ)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} kelvara_bench benchmark::benchmark)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
