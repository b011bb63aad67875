# JSON validator and key/value checks: bounded (10 s) random inputs from
# corpus/json, cross-checked against RapidJSON's plain reader.
add_executable(json_validate_fuzz ${CMAKE_CURRENT_LIST_DIR}/json_validate_fuzz.cpp)
target_link_libraries(json_validate_fuzz PRIVATE json_validate)
target_include_directories(json_validate_fuzz SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/rapidjson-include)
add_test(NAME json_validate_fuzz COMMAND json_validate_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/json 10)
set_tests_properties(json_validate_fuzz PROPERTIES TIMEOUT 120 LABELS fuzz)
