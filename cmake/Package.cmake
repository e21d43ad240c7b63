# What an install brings besides the program, its board library and the
# station template: the man pages and the documentation; and the Debian
# package of it all (`make package`: cpack -G DEB in a build configured for
# /usr, the virtual board in the program's private
# lib/<multiarch>/zorvantik-test, which ldconfig leaves alone).

# The man pages (docs/*.1: the program's and its tools'), compressed as
# Debian keeps them (gzip -9n: no name, no time, so the bytes depend on
# the page alone).
if(NOT WIN32)
  find_program(ZT_GZIP gzip)
  file(GLOB _zt_man_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.1)
  set(_zt_man_outputs)
  foreach(_zt_man IN LISTS _zt_man_pages)
    get_filename_component(_zt_man_name ${_zt_man} NAME)
    get_filename_component(_zt_man_program ${_zt_man} NAME_WE)
    if(NOT TARGET ${_zt_man_program})
      continue()  # a page only with its program (a bench build has no tools)
    endif()
    if(ZT_GZIP)
      set(_zt_man_gz ${CMAKE_BINARY_DIR}/man/${_zt_man_name}.gz)
      add_custom_command(OUTPUT ${_zt_man_gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${ZT_GZIP} -9nc ${_zt_man} > ${_zt_man_gz}
        DEPENDS ${_zt_man}
        COMMENT "Compressing the man page ${_zt_man_name}"
        VERBATIM)
      list(APPEND _zt_man_outputs ${_zt_man_gz})
      install(FILES ${_zt_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      install(FILES ${_zt_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  if(_zt_man_outputs)
    add_custom_target(zt_man ALL DEPENDS ${_zt_man_outputs})
  endif()
endif()

# The documentation: the front door and one guide per reader. The other
# guides' names are globbed, so a guide added to docs/ is installed too.
file(GLOB _zt_guides CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES README.md CHANGELOG.md ${_zt_guides} DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(WIN32)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The Debian package. Only a build for /usr makes one that lintian takes;
# any build directory can run cpack, which packages what install() installs.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME zorvantik-test)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "The zorvantik-test developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "acceptance test of the ZORVANTIK DSP board")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "zorvantik-test identifies a ZORVANTIK, a PCI board with seven DSP
processors, and runs its acceptance tests: host exchange, DMA stream,
interrupts, links, memory and the FFT test of every processor. It logs
every result, ends with one verdict line and leaves a result record in
JSON and JUnit XML.

The package includes the virtual board, a library that simulates the
board, its firmware and its hardware faults, and a station template, so
the program runs without hardware.")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The zorvantik-test developers <zorvantik-test@example.org>"
      CACHE STRING "The Debian package's Maintainer field")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Depends from the binaries (dpkg-shlibdeps), the private board library
  # found where it is installed.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      ${CMAKE_BINARY_DIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

  # Debian's own files: the copyright in its machine-readable format and a
  # changelog (the version's entry, pointing at CHANGELOG.md).
  # The day of the configure (or of SOURCE_DATE_EPOCH), so that a configure
  # the same day leaves the file as it was.
  string(TIMESTAMP ZT_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/copyright.in
                 ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in
                 ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
  if(ZT_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
      COMMAND ${ZT_GZIP} -9nc ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
      DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
      VERBATIM)
    add_custom_target(zt_debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  endif()
  # Only a package build gets them: an install elsewhere keeps LICENSE's
  # place in the source tree.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    install(FILES ${CMAKE_BINARY_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
    if(ZT_GZIP)
      install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
    endif()
  else()
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
  include(CPack)
endif()
