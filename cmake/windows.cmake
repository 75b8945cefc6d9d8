# The Windows build (WIN32): resources, the Win32 shell and GoogleTest for the tests. The core and the sound bank
# come from the same places as on Linux; the bank's synthesizer is built for the host (tools/synth).

add_subdirectory(resources/win32)

if(VLM_BUILD_SHELL AND EXISTS ${PROJECT_SOURCE_DIR}/shell/win32/CMakeLists.txt)
    add_subdirectory(shell/win32)
    # The .rc names its icon and manifest by path: build those first, and again when they change.
    if(TARGET VLM)
        add_dependencies(VLM vlm_win32_resources)
        set_source_files_properties(${VLM_WIN32_RC} DIRECTORY ${PROJECT_SOURCE_DIR}/shell/win32
            PROPERTIES OBJECT_DEPENDS "${VLM_WIN32_RESOURCE_FILES}")
    endif()
endif()

if(VLM_BUILD_TESTS)
    # Debian ships GoogleTest as sources only for other targets: build them with the cross compiler.
    set(VLM_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # It defines GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main.
    add_subdirectory(${VLM_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
