# Test and benchmark helpers shared by every folder.
#
# rt_add_test(NAME SOURCES ... [LIBS ...] [ARGS ...] [TIMEOUT s] [LABELS ...] [NO_MAIN])
#   A GoogleTest executable registered as one ctest test, its tests run in a
#   random order (they must not depend on one another). On the Windows build
#   ctest runs it under Wine (the toolchain's emulator, tools/wine-run.sh).
function(rt_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_shuffle ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# rt_add_bench(NAME SOURCES ... [LIBS ...]): a benchmark program that prints
# figures; built by default, run by tools/bench.sh, never asserted in tests.
function(rt_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
endfunction()
