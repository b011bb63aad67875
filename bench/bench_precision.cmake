# Precision of the clock setting under Wine against the local time service:
# the tool's click (its test build's clock log) beside the query's measured
# offset, at several delays and with jitter. Prints only. It drives the
# tool with the end-to-end tests' driver, which finds the tool two folders
# up: hence its own output folder. bench_precision.py (run by tools/bench.sh)
# sets the whole timecal-query command beside Debian's htpdate on the same
# local service.
if(RT_WINDOWS)
  rt_add_bench(bench_precision SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_precision.cpp
               LIBS measure_edge app_driver test_support wininet)
  set_target_properties(bench_precision PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/precision)
  target_compile_definitions(bench_precision PRIVATE
    "BENCH_PYTHON=\"${RT_PYTHON3}\""
    "BENCH_TIMESERVICE=\"${CMAKE_SOURCE_DIR}/tools/timeservice.py\""
    "BENCH_BINARY_DIR=\"${CMAKE_CURRENT_BINARY_DIR}\"")
  include(${CMAKE_SOURCE_DIR}/cmake/RtTemplates.cmake)
  rt_use_window_templates(bench_precision timecal_probe)  # its control ids, and the probe built
endif()
