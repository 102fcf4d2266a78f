# Fails when a program file has grown past its budget.
# cmake -DFILE=<program> -DLIMIT=<bytes> -P check-size.cmake
if(NOT DEFINED FILE OR NOT DEFINED LIMIT)
  message(FATAL_ERROR "usage: cmake -DFILE=<program> -DLIMIT=<bytes> -P check-size.cmake")
endif()
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "${FILE} does not exist")
endif()
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, over its budget of ${LIMIT} bytes")
endif()
message(STATUS "${name}: ${size} bytes (budget ${LIMIT})")
