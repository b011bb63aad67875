# JSON object timings under the real Script Control (Windows build; run
# under Wine): a refresh's Parse + GetJson against the control restart
# alone, and a 1 MB reply.
if(RT_WINDOWS)
  rt_add_bench(bench_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_json.cpp
               LIBS json_host test_support)
endif()
