# Sources of the shell's audio part.
target_sources(shell_qt PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/sndfile_stream.h
    ${CMAKE_CURRENT_LIST_DIR}/sndfile_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sndfile_sound_player.cpp
)
