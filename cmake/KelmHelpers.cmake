# Shared build rules for every Kelm target.
include(KelmVersion)

set(KELM_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wformat=2 -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12's optimiser reports impossible sizes inside the standard library's own copies at -O2/-O3
  # (known false positives); they say nothing about our code.
  list(APPEND KELM_WARNINGS -Wno-restrict -Wno-stringop-overflow -Wno-stringop-overread
       $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-Wno-array-bounds>)
endif()
if(KELM_WERROR)
  list(APPEND KELM_WARNINGS -Werror)
endif()

set(KELM_SAN_FLAGS)
if(KELM_SANITIZE)
  set(KELM_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()
if(KELM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KELM_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  # Every object is instrumented for coverage; only fuzz targets link the libFuzzer main.
  list(APPEND KELM_SAN_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
add_compile_options(${KELM_SAN_FLAGS})
add_link_options(${KELM_SAN_FLAGS})

# Applies our warnings and include root to a target of our own.
function(kelm_target_defaults target)
  target_compile_options(${target} PRIVATE ${KELM_WARNINGS})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  if(COMMAND kelm_embed_version)
    kelm_embed_version(${target})
  endif()
endfunction()

# kelm_library(name STATIC|SHARED SOURCES ... [LIBS ...])
function(kelm_library name kind)
  cmake_parse_arguments(K "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} ${kind} ${K_SOURCES})
  kelm_target_defaults(${name})
  if(K_LIBS)
    target_link_libraries(${name} PUBLIC ${K_LIBS})
  endif()
endfunction()

# kelm_executable(name SOURCES ... [LIBS ...])
function(kelm_executable name)
  cmake_parse_arguments(K "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  kelm_target_defaults(${name})
  if(K_LIBS)
    target_link_libraries(${name} PRIVATE ${K_LIBS})
  endif()
endfunction()

# kelm_test(name LABEL area SOURCES ... [LIBS ...] [ENV VAR=VALUE ...])
# One GoogleTest program; ctest runs it as one test carrying the area's label.
function(kelm_test name)
  cmake_parse_arguments(K "" "LABEL" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT K_LABEL)
    message(FATAL_ERROR "kelm_test(${name}) needs a LABEL")
  endif()
  add_executable(${name} ${K_SOURCES})
  kelm_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${K_LIBS} kelmtestsupport GTest::gtest GTest::gtest_main GTest::gmock
                        Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${K_LABEL}" TIMEOUT 600
    ENVIRONMENT "KELM_TEST_BIN=${CMAKE_BINARY_DIR}/bin;KELM_TEST_LIB=${CMAKE_BINARY_DIR}/lib;${K_ENV}")
  # Tests of real processes wait on each other in real time: they run one at a time, not beside
  # the whole parallel suite.
  if("system" IN_LIST K_LABEL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# kelm_fuzzer(name SOURCES ... [LIBS ...] [CORPUS dir]): with KELM_FUZZ a libFuzzer program; otherwise
# the same entry function with a small driver of our own that runs each file of the corpus once,
# registered with ctest under the label "fuzz". The corpus defaults to corpus/<name> beside the
# CMakeLists.txt that declares the target.
function(kelm_fuzzer name)
  cmake_parse_arguments(K "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT K_CORPUS)
    set(K_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  endif()
  if(KELM_FUZZ)
    add_executable(${name} ${K_SOURCES})
    kelm_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${K_LIBS} kelmtestsupport)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${K_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    kelm_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${K_LIBS} kelmtestsupport)
    add_test(NAME ${name} COMMAND ${name} ${K_CORPUS})
    set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 600
      ENVIRONMENT "KELM_TEST_BIN=${CMAKE_BINARY_DIR}/bin;KELM_TEST_LIB=${CMAKE_BINARY_DIR}/lib")
  endif()
  set_property(GLOBAL APPEND PROPERTY KELM_FUZZ_TARGETS "${name}=${K_CORPUS}")
endfunction()

# kelm_benchmark(name SOURCES ... [LIBS ...]): a benchmark program, never run by ctest.
function(kelm_benchmark name)
  if(NOT KELM_BENCH)
    return()
  endif()
  cmake_parse_arguments(K "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  kelm_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${K_LIBS} kelmtestsupport Threads::Threads)
endfunction()
