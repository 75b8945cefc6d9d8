# Run by `cmake --install`: writes the launcher and the icons for the installing user, pointing at the prefix.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    message(STATUS "DESTDIR is set (a staged install): the launcher is not added to this user's menu")
    return()
endif()

set(_data_home "$ENV{XDG_DATA_HOME}")
if(NOT IS_ABSOLUTE "${_data_home}")
    # A relative XDG_DATA_HOME is invalid and must be ignored.
    set(_data_home "$ENV{HOME}/.local/share")
endif()

get_filename_component(_program "${CMAKE_INSTALL_PREFIX}/VLM" ABSOLUTE)

# TryExec is a plain string value: only the backslash needs escaping.
string(REPLACE "\\" "\\\\" VLM_DESKTOP_TRYEXEC "${_program}")

# Exec: the path as one quoted argument (escaping ", `, $ and \ inside the quotes),
# then escaped once more as a string value, with % doubled so it is not taken for a field code.
string(REPLACE "\\" "\\\\" _quoted "${_program}")
string(REPLACE "\"" "\\\"" _quoted "${_quoted}")
string(REPLACE "`" "\\`" _quoted "${_quoted}")
string(REPLACE "$" "\\$" _quoted "${_quoted}")
string(REPLACE "\\" "\\\\" VLM_DESKTOP_EXEC "\"${_quoted}\"")
string(REPLACE "%" "%%" VLM_DESKTOP_EXEC "${VLM_DESKTOP_EXEC}")

set(VLM_DESKTOP_ICON vlm)
configure_file("${VLM_RESOURCES_DIR}/vlm.desktop.in" "${VLM_DESKTOP_WORK_DIR}/vlm.desktop" @ONLY)
file(INSTALL DESTINATION "${_data_home}/applications" TYPE FILE FILES "${VLM_DESKTOP_WORK_DIR}/vlm.desktop")

foreach(_size IN LISTS VLM_ICON_SIZES)
    file(INSTALL DESTINATION "${_data_home}/icons/hicolor/${_size}x${_size}/apps" TYPE FILE
        FILES "${VLM_RESOURCES_DIR}/icons/vlm-${_size}.png" RENAME vlm.png)
endforeach()
file(INSTALL DESTINATION "${_data_home}/icons/hicolor/scalable/apps" TYPE FILE
    FILES "${VLM_RESOURCES_DIR}/icons/vlm.svg")
