# The same build for 64-bit Windows. The program ships as i686; this build runs the Windows tests under a 64-bit
# Wine on machines that can't run 32-bit code (scripts/test.sh picks it there):
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(VLM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
