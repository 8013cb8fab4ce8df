# Installation (cmake --install) and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

install(TARGETS julia-fractals julia-fractals-bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET julia-loop-probe)  # x86-64 only
  install(TARGETS julia-loop-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(JULIA_PACKAGE_MAINTAINER
    "julia-fractals maintainers <maintainers@users.noreply.c-seed-27536af6.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME julia-fractals)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Julia set viewer with a CPU and a CUDA renderer that agree bit for bit")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
     "An interactive 1024x768 viewer of the Julia set of z <- z^2 + c, recomputed"
     "every frame on the CPU or in a CUDA kernel (one thread per pixel), and"
     "julia-fractals-bench, which times and compares the renderers without a window."
     "The CUDA runtime is linked statically: GPU mode needs only the NVIDIA driver.")
set(CPACK_PACKAGE_CONTACT "${JULIA_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # julia-fractals_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${JULIA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from the binaries' own shared libraries
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
