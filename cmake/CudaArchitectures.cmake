# Default CUDA architectures: machine code for every real architecture from 7.5 up that the CUDA
# compiler of this build lists, plus PTX for the newest so that later GPUs can still JIT it. Runs
# before project(), so it finds that compiler the way project() will: CMAKE_CUDA_COMPILER, else
# the CUDACXX environment variable, else nvcc on PATH or in /usr/local/cuda/bin. "native" is never
# used because it fails on a machine without a GPU. CMAKE_CUDA_ARCHITECTURES or CUDAARCHS
# overrides the default; either way the chosen list is printed.
if(DEFINED ENV{CUDAARCHS} AND NOT DEFINED CMAKE_CUDA_ARCHITECTURES)
  set(JULIA_CUDA_ARCHITECTURES_OVERRIDDEN ON CACHE INTERNAL "")
  message(STATUS "CUDA architectures: $ENV{CUDAARCHS} (from CUDAARCHS)")
  return()
endif()
# A list this file chose earlier comes back from the cache: it is still the default, computed anew.
if(DEFINED CMAKE_CUDA_ARCHITECTURES
   AND NOT "${CMAKE_CUDA_ARCHITECTURES}" STREQUAL "${JULIA_CUDA_ARCHITECTURES_DEFAULT}")
  set(JULIA_CUDA_ARCHITECTURES_OVERRIDDEN ON CACHE INTERNAL "")
  message(STATUS "CUDA architectures: ${CMAKE_CUDA_ARCHITECTURES} (set by CMAKE_CUDA_ARCHITECTURES)")
  return()
endif()

if(CMAKE_CUDA_COMPILER)
  set(_nvcc "${CMAKE_CUDA_COMPILER}")
elseif(DEFINED ENV{CUDACXX} AND NOT "$ENV{CUDACXX}" STREQUAL "")
  separate_arguments(_cudacxx NATIVE_COMMAND "$ENV{CUDACXX}")  # may carry flags after the path
  list(GET _cudacxx 0 _nvcc)
else()
  find_program(_nvcc NAMES nvcc PATHS /usr/local/cuda/bin NO_CACHE)
endif()
if(NOT _nvcc)
  return()  # project() reports the missing CUDA compiler
endif()

execute_process(COMMAND "${_nvcc}" --list-gpu-code OUTPUT_VARIABLE _codes RESULT_VARIABLE _rc
                ERROR_VARIABLE _err)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${_nvcc} --list-gpu-code failed (${_rc}): ${_err}\n"
                      "Name the architectures yourself: -DCMAKE_CUDA_ARCHITECTURES=\"75-real;…\"")
endif()
set(_archs "")
string(REGEX MATCHALL "sm_[0-9]+" _codes "${_codes}")  # plain sm_NN only, not the a/f variants
foreach(_code IN LISTS _codes)
  string(REPLACE "sm_" "" _n "${_code}")
  if(_n GREATER_EQUAL 75)
    list(APPEND _archs ${_n})
  endif()
endforeach()
list(REMOVE_DUPLICATES _archs)
list(SORT _archs COMPARE NATURAL)
if(NOT _archs)
  message(FATAL_ERROR "${_nvcc} lists no GPU code from sm_75 up: this project needs CUDA 11 or "
                      "newer, or -DCMAKE_CUDA_ARCHITECTURES")
endif()

list(GET _archs -1 _newest)
set(_list "")
foreach(_n IN LISTS _archs)
  list(APPEND _list "${_n}-real")
endforeach()
list(APPEND _list "${_newest}-virtual")
set(CMAKE_CUDA_ARCHITECTURES "${_list}" CACHE STRING "CUDA architectures to build device code for"
    FORCE)
set(JULIA_CUDA_ARCHITECTURES_DEFAULT "${_list}" CACHE INTERNAL "")
set(JULIA_CUDA_ARCHITECTURES_OVERRIDDEN OFF CACHE INTERNAL "")
message(STATUS "CUDA architectures: ${CMAKE_CUDA_ARCHITECTURES} (every sm_NN from 75 that ${_nvcc} "
               "lists, plus PTX for the newest)")
