# Helpers shared by every folder: one library per folder, tests next to the code,
# fuzz targets only in the fuzz tree, benchmarks only in the plain tree.

if((TARVO_SANITIZE AND TARVO_FUZZ) OR (TARVO_TSAN AND (TARVO_SANITIZE OR TARVO_FUZZ)))
  message(FATAL_ERROR "TARVO_SANITIZE, TARVO_TSAN and TARVO_FUZZ are separate trees")
endif()

# ThreadSanitizer tree: only the tests marked THREADED are built and run there.
if(TARVO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(TARVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TARVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "The fuzz tree needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(tarvo_fuzzers)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  if(TARVO_BENCHMARKS AND NOT TARVO_SANITIZE AND NOT TARVO_TSAN)
    find_package(benchmark REQUIRED)
  endif()
endif()

# tarvo_library(name SOURCES ... DEPS ...)
function(tarvo_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

# tarvo_test(name [THREADED] SOURCES ... DEPS ...): a GoogleTest program; each case is a CTest
# test. THREADED tests also run in the ThreadSanitizer tree.
function(tarvo_test name)
  cmake_parse_arguments(A "THREADED" "" "SOURCES;DEPS" ${ARGN})
  if(TARVO_FUZZ OR (TARVO_TSAN AND NOT A_THREADED))
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30)
endfunction()

# tarvo_benchmark(name SOURCES ... DEPS ...): a Google Benchmark program (plain tree only).
function(tarvo_benchmark name)
  if(TARVO_FUZZ OR TARVO_SANITIZE OR TARVO_TSAN OR NOT TARVO_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# tarvo_fuzzer(name SOURCES ... DEPS ... SEEDS dir): a libFuzzer target run by CTest in the
# fuzz tree for TARVO_FUZZ_SECONDS; any crash or sanitizer report fails the test.
function(tarvo_fuzzer name)
  if(NOT TARVO_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "SEEDS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(tarvo_fuzzers ${name})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${work})
  add_test(NAME fuzz.${name}
           COMMAND ${name} -max_total_time=${TARVO_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
                   -print_final_stats=1 -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-
                   ${work} ${A_SEEDS})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
endfunction()
