# Cross-compiling toolchain for a check build only: the Win32 test programs
# built for 64-bit Windows, so that a machine without 32-bit x86 support can
# still run them under 64-bit Wine (scripts/test-win64.sh). The product
# (setup.exe, ovUninst.exe) is the 32-bit build of cmake/mingw-i686.cmake.
set(SX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
