# Tests of the shell's window part: the real TForm1 on the offscreen platform, with fakes for its services.
add_executable(unit1_test ${CMAKE_CURRENT_LIST_DIR}/unit1_test.cpp)
set_target_properties(unit1_test PROPERTIES AUTOMOC ON)
target_link_libraries(unit1_test PRIVATE shell_qt Qt6::Test)
target_include_directories(unit1_test PRIVATE ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME unit1_test COMMAND unit1_test)
set_tests_properties(unit1_test PROPERTIES LABELS window ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=CST-8")

add_executable(single_instance_test ${CMAKE_CURRENT_LIST_DIR}/single_instance_test.cpp)
set_target_properties(single_instance_test PROPERTIES AUTOMOC ON)
target_link_libraries(single_instance_test PRIVATE shell_qt Qt6::Test)
add_test(NAME single_instance_test COMMAND single_instance_test)
set_tests_properties(single_instance_test PROPERTIES LABELS window)
