# Cross-compiling toolchain: 32-bit Windows with mingw-w64 (posix thread model,
# so that std::thread and std::mutex exist for the tools and tests; setup.exe
# and ovUninst.exe link the win32 model's C++ runtime, see sx_lean_runtime).
# SX_MINGW_PROCESSOR: i686 unless a toolchain file that includes this one
# names another (mingw-x86_64.cmake).
if(NOT SX_MINGW_PROCESSOR)
  set(SX_MINGW_PROCESSOR i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SX_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${SX_MINGW_PROCESSOR}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${SX_MINGW_PROCESSOR}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${SX_MINGW_PROCESSOR}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SX_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests built for the target run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
