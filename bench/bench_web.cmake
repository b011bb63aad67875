# Web client timings under Wine against the loopback test server: small
# replies through WebGetText and a 32 MB body through WebRequest, each
# beside a minimal direct WinINet GET; and Utf8ToAnsi of 8 MB. Prints
# figures only. Run: tools/wine-run.sh <build>/bench/bench_web.exe
if(RT_WINDOWS)
  rt_add_bench(bench_web SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_web.cpp
               LIBS web_test_support web_client rt_dll rt_core wininet)
endif()
