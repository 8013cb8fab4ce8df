# Installation (cmake --install) and the Debian package (cpack -G DEB): the programs, their manual
# pages, the desktop entry with its icons and AppStream metainfo, and the documentation folder with
# the copyright file and the changelog.
include(GNUInstallDirs)

set(JULIA_PACKAGE_MAINTAINER
    "julia-fractals maintainers <maintainers@users.noreply.c-seed-27536af6.example>"
    CACHE STRING "Maintainer field of the Debian package")
# Folders as Debian wants them whatever the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_dist ${PROJECT_SOURCE_DIR}/dist)
set(_gen ${PROJECT_BINARY_DIR}/dist)
set(JULIA_APPSTREAM_ID org.example.julia_fractals)

# The release named in the changelog and in the metainfo must be this one: a version bump without
# its release notes stops here rather than shipping notes of the last release.
file(STRINGS ${_dist}/changelog _changelog)
list(GET _changelog 0 _top)
string(REGEX MATCH "^julia-fractals \\(([^)]+)\\)" _ "${_top}")
set(_changelog_version "${CMAKE_MATCH_1}")
list(FILTER _changelog INCLUDE REGEX "^ -- .*>  [A-Z][a-z][a-z], ")
list(GET _changelog 0 _trailer)
string(REGEX MATCH ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) " _ "${_trailer}")
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months "${CMAKE_MATCH_2}" _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
if(_month LESS 10)
  set(_month "0${_month}")
endif()
set(JULIA_RELEASE_DATE "${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1}")
file(READ ${_dist}/${JULIA_APPSTREAM_ID}.metainfo.xml _metainfo)
string(REGEX MATCH "<release version=\"([^\"]+)\" date=\"([^\"]+)\"" _ "${_metainfo}")
if(NOT _changelog_version STREQUAL PROJECT_VERSION OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION
   OR NOT CMAKE_MATCH_2 STREQUAL JULIA_RELEASE_DATE)
  message(FATAL_ERROR "version ${PROJECT_VERSION}: dist/changelog's first entry is "
          "'${_changelog_version}' of ${JULIA_RELEASE_DATE}, and the metainfo's first release "
          "'${CMAKE_MATCH_1}' of ${CMAKE_MATCH_2}; add this release to both")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_dist}/changelog
             ${_dist}/${JULIA_APPSTREAM_ID}.metainfo.xml ${PROJECT_SOURCE_DIR}/LICENSE)

# Manual pages, the changelog and the copyright file, made here at configure time. Compressed as
# Debian wants them: the most, and without a name or time stamp, so the bytes are reproducible.
find_program(JULIA_GZIP gzip REQUIRED)
foreach(_page julia-fractals julia-fractals-bench)
  configure_file(${_dist}/man/${_page}.1.in ${_gen}/${_page}.1 @ONLY)
  execute_process(COMMAND ${JULIA_GZIP} -9nc INPUT_FILE ${_gen}/${_page}.1
                  OUTPUT_FILE ${_gen}/${_page}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${_gen}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
execute_process(COMMAND ${JULIA_GZIP} -9nc INPUT_FILE ${_dist}/changelog
                OUTPUT_FILE ${_gen}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)

# The copyright file holds LICENSE's text in the machine-readable format, and names the CUDA
# runtime where it is linked into the programs.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${_license}")
set(JULIA_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]+\n\n" "" _license "${_license}")
string(STRIP "${_license}" _license)
string(REGEX REPLACE "\n\n" "\n.\n" _license "${_license}")
string(REPLACE "\n" "\n " JULIA_LICENSE_TEXT " ${_license}")
set(JULIA_COPYRIGHT_CUDA "")
if(JULIA_CUDA_ENABLED)
  string(JOIN "\n " JULIA_COPYRIGHT_CUDA
         "Comment: julia-fractals and julia-fractals-bench contain, linked statically, the"
         "CUDA runtime library (libcudart_static.a) of the NVIDIA CUDA Toolkit"
         "${CUDAToolkit_VERSION}, copyright NVIDIA Corporation. It is redistributed under"
         "the NVIDIA CUDA Toolkit End User License Agreement, whose Attachment A lists it"
         "among the redistributable files: https://docs.nvidia.com/cuda/eula/\n")
endif()
configure_file(${_dist}/copyright.in ${_gen}/copyright @ONLY)

install(TARGETS julia-fractals julia-fractals-bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md ${_gen}/copyright ${_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_dist}/julia-fractals.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_dist}/${JULIA_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(_size 48 128 256)
  install(FILES ${_dist}/icons/julia-fractals-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME julia-fractals.png)
endforeach()

# The description says whether this build has GPU mode. A line of "." separates paragraphs.
if(JULIA_CUDA_ENABLED)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Julia set viewer with CPU, SIMD and CUDA renderers that agree bit for bit")
  set(_description
      "An interactive 1024x768 viewer of the Julia set of z <- z^2 + c, recomputed"
      "every frame on the CPU, on its vector lanes and cores (SIMD), or in a CUDA"
      "kernel, with the same image bit for bit in every mode."
      "."
      "The CUDA runtime is linked statically: GPU mode needs only the NVIDIA driver"
      "(580 or newer for CUDA 13) and a GPU of compute capability 7.5 or newer.")
else()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Julia set viewer with CPU and SIMD renderers that agree bit for bit")
  set(_description
      "An interactive 1024x768 viewer of the Julia set of z <- z^2 + c, recomputed"
      "every frame on the CPU, or on its vector lanes and cores (SIMD), with the"
      "same image bit for bit in both modes."
      "."
      "This build has no GPU mode: it was made without the CUDA toolkit.")
endif()
list(APPEND _description "."
     "julia-fractals-bench times and compares the renderers without a window, and"
     "measures the floors under their time on the CPU.")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION ${_description})
set(CPACK_PACKAGE_NAME julia-fractals)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${JULIA_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # julia-fractals_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${JULIA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from the binaries' own shared libraries
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
