# Runtime core: bounded random inputs for the date parser, ToInt on texts,
# FindText, ReplaceSubtext and SplitText, seeded from corpus/core (about 10 s).
add_executable(core_text_fuzz ${CMAKE_CURRENT_LIST_DIR}/core_text_fuzz.cpp)
target_link_libraries(core_text_fuzz PRIVATE rt_core)
add_test(NAME core_text_fuzz
         COMMAND core_text_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/core 10)
set_tests_properties(core_text_fuzz PROPERTIES TIMEOUT 120 LABELS fuzz)
