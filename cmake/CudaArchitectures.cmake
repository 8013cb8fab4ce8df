# Default CUDA architectures: machine code for every real architecture this nvcc knows, plus PTX for
# the newest so that later GPUs can still JIT it. Runs before project(), so it finds nvcc itself;
# "native" is never used because it fails on a machine without a GPU.
if(DEFINED CMAKE_CUDA_ARCHITECTURES OR DEFINED ENV{CUDAARCHS})
  return()
endif()

set(_nvcc "${CMAKE_CUDA_COMPILER}")
if(NOT _nvcc)
  find_program(_nvcc NAMES nvcc PATHS /usr/local/cuda/bin NO_CACHE)
endif()
if(_nvcc)
  execute_process(COMMAND "${_nvcc}" --list-gpu-code OUTPUT_VARIABLE _codes
                  RESULT_VARIABLE _rc ERROR_QUIET)
endif()

set(_archs "")
if(_nvcc AND _rc EQUAL 0)
  string(REGEX MATCHALL "sm_[0-9]+" _codes "${_codes}")  # plain sm_NN only, not the a/f variants
  foreach(_code IN LISTS _codes)
    string(REPLACE "sm_" "" _n "${_code}")
    if(_n GREATER_EQUAL 75)
      list(APPEND _archs ${_n})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _archs)
  list(SORT _archs COMPARE NATURAL)
endif()
if(NOT _archs)
  set(_archs 75 80 86 89 90 100 120)
endif()

list(GET _archs -1 _newest)
set(_list "")
foreach(_n IN LISTS _archs)
  list(APPEND _list "${_n}-real")
endforeach()
list(APPEND _list "${_newest}-virtual")
set(CMAKE_CUDA_ARCHITECTURES "${_list}" CACHE STRING "CUDA architectures to build device code for")
message(STATUS "CUDA architectures: ${CMAKE_CUDA_ARCHITECTURES}")
