# The tool's own figures under Wine: process start to visible window beside a
# program that only shows a window; the local service beside a minimal
# server; one refresh split into HTTP, conversion, parse and display beside a
# raw WinINet GET; memory after 1,000 refreshes. Prints only.
if(RT_WINDOWS)
  rt_add_bench(bench_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_app.cpp
               LIBS json_host web_client rt_dll rt_core test_support wininet ws2_32)
  add_executable(bench_blank_window WIN32 ${CMAKE_CURRENT_LIST_DIR}/bench_blank_window.cpp)
  target_compile_definitions(bench_app PRIVATE
    "BENCH_PYTHON=\"${RT_PYTHON3}\""
    "BENCH_TIMESERVICE=\"${CMAKE_SOURCE_DIR}/tools/timeservice.py\""
    "BENCH_BINARY_DIR=\"${CMAKE_CURRENT_BINARY_DIR}\"")
  add_dependencies(bench_app timecal_probe bench_blank_window)
endif()
