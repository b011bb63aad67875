# Windows tests of the windowing runtime (run under Wine and Xvfb).
rt_add_test(ui_win_tests SOURCES ui_win_test.cpp LIBS rt_ui rt_program rt_core TIMEOUT 300
            ARGS --gtest_filter=-Loop.*)
rt_add_window_templates(ui_win_tests test_window.json)
# The loop test ends the program's run (the end sequence): a process of its own.
add_test(NAME ui_loop_tests COMMAND ui_win_tests --gtest_filter=Loop.*)
set_tests_properties(ui_loop_tests PROPERTIES TIMEOUT 120)

# A program made only of a template and routines that reach the Runtime
# through the entry table, started the way the real tool starts, for the
# screenshot below.
add_executable(ui_child ui_child.cpp)
target_link_libraries(ui_child PRIVATE rt_startup rt_ui rt_program rt_core)
target_link_options(ui_child PRIVATE -mwindows)
rt_add_window_templates(ui_child ${CMAKE_SOURCE_DIR}/tools/rtwin_example_main_window.json)

# Screenshot of the child's window (ImageMagick's import, from tools/setup.sh).
find_program(RT_IMPORT import REQUIRED)
add_test(NAME ui_screenshot
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/screenshot.sh $<TARGET_FILE:ui_child>
                 ${CMAKE_CURRENT_BINARY_DIR}/test-window.png)
set_tests_properties(ui_screenshot PROPERTIES TIMEOUT 120)
