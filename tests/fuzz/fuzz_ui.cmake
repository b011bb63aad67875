# Window template reader and component property records: bounded random
# mutations of the blocks in corpus/ui (written by tools/rtwin.py) with a
# fixed seed (about 10 s).
add_executable(ui_template_fuzz ${CMAKE_CURRENT_LIST_DIR}/ui_template_fuzz.cpp)
target_link_libraries(ui_template_fuzz PRIVATE rt_templates)
add_test(NAME ui_template_fuzz COMMAND ui_template_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/ui 10)
set_tests_properties(ui_template_fuzz PROPERTIES TIMEOUT 120 LABELS fuzz)
