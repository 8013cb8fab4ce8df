# JULIA_SANITIZE=ON builds all host code (C++ and the host side of .cu files) with AddressSanitizer
# and UndefinedBehaviorSanitizer; any report ends the process, so a test that triggers one fails.
# Device code is left alone. The floating-point flags above still apply.
option(JULIA_SANITIZE "Build the host code with -fsanitize=address,undefined" OFF)
if(NOT JULIA_SANITIZE)
  return()
endif()

# float-cast-overflow is undefined behaviour too, but not part of GCC's "undefined" group.
set(_san -fsanitize=address -fsanitize=undefined -fsanitize=float-cast-overflow
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${_san}>"
                    # GCC 12 misreports std::regex and std::function internals once ASan is on
                    "$<$<COMPILE_LANGUAGE:CXX>:-Wno-maybe-uninitialized>")
foreach(_f IN LISTS _san)
  add_compile_options("$<$<COMPILE_LANGUAGE:CUDA>:-Xcompiler=${_f}>")  # one each: nvcc splits at ','
endforeach()
add_link_options(-fsanitize=address -fsanitize=undefined)

# Default runtime options compiled into every executable, so the binaries behave the same whether
# ctest, a script or a person starts them.
add_library(julia_sanitizer_defaults OBJECT ${CMAKE_CURRENT_LIST_DIR}/sanitizer_defaults.cpp)
link_libraries(julia_sanitizer_defaults)

# Every test of this build folder belongs to the sanitizer run (ctest -L sanitize). The window
# tests are not built here (see tests/CMakeLists.txt).
set_property(DIRECTORY PROPERTY LABELS sanitize)
