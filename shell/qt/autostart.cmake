# Sources of the shell's autostart part.
target_sources(shell_qt PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/platform/xdg_autostart.h
    ${CMAKE_CURRENT_LIST_DIR}/platform/xdg_autostart.cpp
)
