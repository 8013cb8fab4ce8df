# Cross build for 64-bit ARM Linux on a Debian/Ubuntu x86-64 machine: Debian's cross compiler
# (g++-aarch64-linux-gnu), the arm64 multiarch libraries (libhwy-dev:arm64 and the rest, under
# /usr/lib/aarch64-linux-gnu) and qemu-user to run what was built, so that ctest runs the tests
# under emulation. No CUDA: there is no aarch64 CUDA toolkit to cross-compile with.
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries and CMake packages from /usr/lib/aarch64-linux-gnu, never from the host's x86-64 ones.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# qemu-user finds the arm64 loader and libc of libc6:arm64 on its own. Not with
# -L /usr/aarch64-linux-gnu: that folder's older loader with the newer multiarch libc hangs in
# pthread_create. The emulated CPU comes from QEMU_CPU, which programs the tests start inherit.
find_program(JULIA_QEMU_AARCH64 qemu-aarch64)
if(JULIA_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JULIA_QEMU_AARCH64})
endif()
# dpkg-shlibdeps (scripts/package) reads the binaries' needs from the arm64 libraries.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
