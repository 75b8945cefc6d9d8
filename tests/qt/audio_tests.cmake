# Tests of the shell's audio part.
add_executable(audio_tests ${CMAKE_CURRENT_LIST_DIR}/sound_player_test.cpp)
target_link_libraries(audio_tests PRIVATE shell_qt Qt6::Test)
set_target_properties(audio_tests PROPERTIES AUTOMOC ON)
add_test(NAME audio_tests COMMAND audio_tests)
# They record the shared test sink, so no other test may play into it meanwhile.
set_tests_properties(audio_tests PROPERTIES LABELS audio RESOURCE_LOCK vlm_sound_server TIMEOUT 180)
