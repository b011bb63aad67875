# Heap blocks and text concatenation beside HeapAlloc/HeapFree and
# std::string in the same run (Windows build, under Wine). Prints only.
if(RT_WINDOWS)
  rt_add_bench(bench_memory SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_memory.cpp LIBS rt_program rt_core)
endif()
