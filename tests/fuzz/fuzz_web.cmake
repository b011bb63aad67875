# Web client rules: bounded random URLs, header blocks and cookie lists from
# corpus/web with a fixed seed (about 10 s).
add_executable(web_rules_fuzz ${CMAKE_CURRENT_LIST_DIR}/web_rules_fuzz.cpp)
target_link_libraries(web_rules_fuzz PRIVATE web_rules rt_core)
add_test(NAME web_rules_fuzz COMMAND web_rules_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/web 10)
set_tests_properties(web_rules_fuzz PROPERTIES TIMEOUT 120 LABELS fuzz)
