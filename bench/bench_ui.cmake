# Windowing timings under Wine (Windows build): loading a 200-unit template
# beside creating the same windows directly with CreateWindowEx, and
# 100,000 property reads and writes beside Get/SetWindowTextA. Prints
# figures only. Run: tools/wine-run.sh <build>/bench/bench_ui.exe
if(RT_WINDOWS)
  include(${CMAKE_SOURCE_DIR}/cmake/RtTemplates.cmake)
  # The 200-unit window, written at configure time: labels, edit boxes and
  # buttons in rows of four.
  set(units "")
  foreach(i RANGE 1 200)
    math(EXPR id "0x16010000 + ${i} + 1" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR kind "${i} % 3")
    math(EXPR col "(${i} - 1) % 4")
    math(EXPR row "(${i} - 1) / 4")
    math(EXPR left "8 + ${col} * 150")
    math(EXPR top "4 + ${row} * 22")
    if(kind EQUAL 0)
      set(unit "{\"name\": \"b${i}\", \"id\": \"${id}\", \"type\": \"Button\", \"left\": ${left}, \"top\": ${top}, \"width\": 140, \"height\": 20, \"tabstop\": true, \"events\": {\"0\": \"BenchClicked\"}, \"props\": {\"caption\": \"按钮${i}\"}}")
    elseif(kind EQUAL 1)
      set(unit "{\"name\": \"e${i}\", \"id\": \"${id}\", \"type\": \"EditBox\", \"left\": ${left}, \"top\": ${top}, \"width\": 140, \"height\": 20, \"tabstop\": true, \"props\": {\"content\": \"编辑框${i}\"}}")
    else()
      set(unit "{\"name\": \"l${i}\", \"id\": \"${id}\", \"type\": \"Label\", \"left\": ${left}, \"top\": ${top}, \"width\": 140, \"height\": 20, \"props\": {\"caption\": \"标签${i}\"}}")
    endif()
    if(units)
      string(APPEND units ",\n")
    endif()
    string(APPEND units "${unit}")
  endforeach()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/bench_ui_window.json.in
       "{\"name\": \"BenchWindow\", \"id\": \"0x52010001\", \"unit\": {\"left\": 0, \"top\": 0, \"width\": 640, \"height\": 1180, \"events\": {\"0\": \"BenchCreated\"}, \"props\": {\"caption\": \"bench\", \"border\": 2}},\n\"units\": [\n${units}\n]}\n")
  configure_file(${CMAKE_CURRENT_BINARY_DIR}/bench_ui_window.json.in
                 ${CMAKE_CURRENT_BINARY_DIR}/bench_ui_window.json COPYONLY)
  rt_add_bench(bench_ui SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_ui.cpp LIBS rt_ui rt_program rt_core)
  rt_add_window_templates(bench_ui ${CMAKE_CURRENT_BINARY_DIR}/bench_ui_window.json)
endif()
