# Tests of the shell's autostart part.
foreach(test_name xdg_autostart_test)
    add_executable(${test_name} ${CMAKE_CURRENT_LIST_DIR}/${test_name}.cpp)
    set_target_properties(${test_name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${test_name} PRIVATE shell_qt Qt6::Test)
    add_test(NAME ${test_name} COMMAND ${test_name})
    set_tests_properties(${test_name} PROPERTIES LABELS autostart)
endforeach()
