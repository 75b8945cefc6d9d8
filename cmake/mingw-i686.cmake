# Cross-builds the 32-bit Unicode Windows program with Debian's mingw-w64 compiler (g++-mingw-w64-i686-posix):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake && cmake --build build-win32 -j2
#
# (./scripts/build-windows.sh runs exactly this and packs build-win32/VLM-win32.zip.) What the Windows build
# provides to shell/win32 and tests/win32 (set in cmake/windows.cmake):
#   VLM_PROGRAM_DIR    the ready folder: VLM.exe goes here; bell1.wav, bell3.wav and Music\ are synthesized beside it
#   VLM_WIN32_RC       the .rc holding the bell icon (IDI_VLM in resources/win32/resource_ids.h), the manifest
#                      (common controls 6, DPI-aware, asInvoker) and the version resource
#   vlm_win32_program  link VLM to it (and add no VLM_WIN32_RC then): the .rc, wWinMain (-municode), GUI subsystem
#   GTest::gtest, GTest::gtest_main, GTest::gmock  GoogleTest cross-built from /usr/src/googletest
#   VLM_NATIVE_SYNTH   (optional cache path) a host-built tools/synth; by default the build makes one itself
# Every target is linked statically (libgcc, libstdc++, winpthread): a built .exe needs only system DLLs.
# add_test() of a built executable runs it under Wine through scripts/wine-run.sh (the emulator below), in
# $WINEPREFIX, which the test command's services set up (a private prefix otherwise).

set(CMAKE_SYSTEM_NAME Windows)
if(NOT VLM_MINGW_ARCH)
    set(VLM_MINGW_ARCH i686) # cmake/mingw-x86_64.cmake sets x86_64
endif()
set(CMAKE_SYSTEM_PROCESSOR ${VLM_MINGW_ARCH})

set(_vlm_mingw ${VLM_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_vlm_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_vlm_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_vlm_mingw}-windres)
set(CMAKE_AR ${_vlm_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_vlm_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_vlm_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide APIs throughout; Windows 7 is the oldest system the program asks for.
set(CMAKE_C_FLAGS_INIT "-DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

get_filename_component(_vlm_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_vlm_source_dir}/scripts/wine-run.sh")
