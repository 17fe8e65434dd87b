# corvel_module(NAME [DEPS lib...] [TEST_DEPS lib...] [FUZZ_DEPS lib...] [LABELS label...])
# Makes one static library from every .cpp of the folder except main.cpp, *_test.cpp,
# *_bench.cpp and *_fuzz.cpp, and one GoogleTest executable NAME_tests from the *_test.cpp,
# whose cases carry LABELS (default "unit"; the sanitizer runs pick tests by label).
# With CORVEL_FUZZ, each X_fuzz.cpp becomes the libFuzzer program fuzz/X linked with the
# library (and FUZZ_DEPS), built by the target corvel_fuzz only.
function(corvel_module name)
  cmake_parse_arguments(M "" "" "DEPS;TEST_DEPS;FUZZ_DEPS;LABELS" ${ARGN})
  if(NOT M_LABELS)
    set(M_LABELS unit)
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "(/main\\.cpp|_test\\.cpp|_bench\\.cpp|_fuzz\\.cpp)$")
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${M_DEPS} Threads::Threads)

  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${M_TEST_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name}_tests PRIVATE
      CORVEL_BINARY_DIR="${PROJECT_BINARY_DIR}" CORVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # gtest_discover_tests splits a list into property words, so several labels become one
    # label joined by "+"; ctest -L matches by regular expression and still finds each word.
    list(JOIN M_LABELS "+" labels)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 30 PROPERTIES LABELS "${labels}")
  endif()

  if(CORVEL_FUZZ)
    file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_fuzz.cpp)
    foreach(source ${fuzzers})
      get_filename_component(fuzzer ${source} NAME_WE)
      add_executable(${fuzzer} EXCLUDE_FROM_ALL ${source})
      target_link_libraries(${fuzzer} PRIVATE ${name} ${M_FUZZ_DEPS})
      target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
      set_target_properties(${fuzzer} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
      add_dependencies(corvel_fuzz ${fuzzer})
    endforeach()
  endif()
endfunction()

# corvel_program(NAME SOURCES... DEPS lib...)
function(corvel_program name)
  cmake_parse_arguments(P "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_DEPS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endfunction()
