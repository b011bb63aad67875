# Windows tests of the windowing runtime (run under Wine and Xvfb).
rt_add_test(ui_win_tests SOURCES ui_win_test.cpp LIBS rt_ui rt_program rt_core TIMEOUT 300
            ARGS --gtest_filter=-Loop.*)
rt_add_window_templates(ui_win_tests test_window.json)
# The loop test ends the program's run (the end sequence): a process of its own.
add_test(NAME ui_loop_tests COMMAND ui_win_tests --gtest_filter=Loop.*)
set_tests_properties(ui_loop_tests PROPERTIES TIMEOUT 120)

