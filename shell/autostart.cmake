# Sources of the shell's autostart part.
target_sources(shell PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/autostart_store.h
    ${CMAKE_CURRENT_LIST_DIR}/platform/xdg_autostart.h
    ${CMAKE_CURRENT_LIST_DIR}/platform/xdg_autostart.cpp
    ${CMAKE_CURRENT_LIST_DIR}/legacy_cleanup.h
    ${CMAKE_CURRENT_LIST_DIR}/legacy_cleanup.cpp
)
