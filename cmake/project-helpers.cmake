# Small helpers shared by the folders' CMake files.

# GoogleTest: the host tree uses the system's; the win32 tree builds it from
# Debian's sources with the cross compiler.
function(sx_require_gtest)
  if(TARGET GTest::gtest_main)
    return()
  endif()
  if(TARGET_WIN32)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endfunction()

# One test executable per source file, each registered with ctest.
# sx_add_tests(GLOB_PATTERN LIBS...)
function(sx_add_tests pattern)
  file(GLOB sources CONFIGURE_DEPENDS ${pattern})
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()

# The setup programs (setup.exe, ovUninst.exe) start no C++ threads, so they
# link the win32 thread model's C++ library, libgcc and unwinder: same code
# and ABI for everything they use, without the POSIX-thread runtime (some
# 28 KB). The -L goes before the driver's own folders, so -lstdc++, -lgcc and
# -lgcc_eh resolve there; the driver's -lpthread then finds nothing to pull.
function(sx_lean_runtime target)
  if(SX_WIN32_MODEL_LIBDIR)
    target_link_options(${target} PRIVATE "-L${SX_WIN32_MODEL_LIBDIR}")
  endif()
endfunction()
