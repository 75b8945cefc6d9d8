# Sources of the shell's window part.
target_sources(shell_qt PRIVATE
    Unit1.cpp
    logging.cpp
    single_instance.cpp
    platform/termination_watcher.cpp
)

# The program itself, staged in the ready program folder beside its sounds.
add_executable(VLM main.cpp ${PROJECT_SOURCE_DIR}/resources/vlm.qrc)
target_link_libraries(VLM PRIVATE shell_qt)
set_target_properties(VLM PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${VLM_PROGRAM_DIR}" AUTORCC ON)
install(TARGETS VLM RUNTIME DESTINATION ${VLM_INSTALL_PROGRAM_DIR})
if(VLM_SYSTEM_LAYOUT)
    # The command a system install puts on the PATH (a link to the program, see resources/CMakeLists.txt).
    include(GNUInstallDirs)
    target_compile_definitions(VLM PRIVATE VLM_SYSTEM_LAUNCHER="${CMAKE_INSTALL_FULL_BINDIR}/vlm"
        VLM_APP_ID="${VLM_APP_ID}")
endif()
