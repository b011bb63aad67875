# Runtime core text commands against a std::string baseline, and date
# parsing rate. Native only; needs Google Benchmark (libbenchmark-dev).
if(NOT RT_WINDOWS)
  find_package(benchmark REQUIRED)
  rt_add_bench(bench_core_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_core_text.cpp
               LIBS rt_core benchmark::benchmark)
endif()
